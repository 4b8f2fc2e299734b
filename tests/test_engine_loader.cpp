// Loading the engine library at run time and forwarding the calls, against the fake engine.
// The system's library path holds no engine here, so only the program's folder can supply one.
#include "brokenengine.h"
#include "engine/enginelibrary.h"
#include "fakeengine/fakeengine.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class EngineLoaderTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void forwardsEveryCallToItsEntryPoint();
    void initSucceedsWhateverTheEngineAnswers();
    void nothingIsCalledBeforeInit();
    void nothingIsCalledAfterTheEnd();
    void failsCleanlyWithoutAUsableLibrary_data();
    void failsCleanlyWithoutAUsableLibrary();
    void volumeOnlyWhereTheEngineHasIt_data();
    void volumeOnlyWhereTheEngineHasIt();

private:
    FakeEngine fake_;
};

void EngineLoaderTest::init()
{
    fake_.reset();
}

void EngineLoaderTest::forwardsEveryCallToItsEntryPoint()
{
    fake_.addTrack("/music/umi.mp3", "海の歌", "ケルパ", 215);
    EngineLibrary engine(FakeEngine::completeDir());
    QVERIFY(engine.init());

    EngineLibrary::OpenRecord opened{};
    QCOMPARE(engine.open("/music/umi.mp3", opened), 1);
    QCOMPARE(CutAtNull(opened.Title), u"海の歌"_s);
    QCOMPARE(CutAtNull(opened.Artist), u"ケルパ"_s);
    QCOMPARE(opened.TotalSeconds, 215);
    EngineLibrary::OpenRecord refused{};
    QCOMPARE(engine.open("/music/none.mp3", refused), 0);
    QCOMPARE(engine.open("/music/umi.mp3", opened), 1);

    int32_t seconds = -1;
    engine.play();
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_PLAYING);
    QCOMPARE(seconds, 0);
    engine.seek(42);
    engine.pause();
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_PAUSED);
    QCOMPARE(seconds, 42);
    engine.restart();
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_PLAYING);
    engine.stop();
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_IDLE);

    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    QCOMPARE(engine.getFileInfo("/music/umi.mp3", tag, stream), 1);
    QCOMPARE(CutAtNull(tag.Title), u"海の歌"_s);
    QCOMPARE(engine.getFileInfo("/music/none.mp3", tag, stream), 0);
    engine.close();
    engine.free();

    const QStringList expected{
        u"vbmp3_init"_s,
        u"vbmp3_open /music/umi.mp3"_s,
        u"vbmp3_open /music/none.mp3"_s,
        u"vbmp3_open /music/umi.mp3"_s,
        u"vbmp3_play"_s,
        u"vbmp3_getState"_s,
        u"vbmp3_seek 42"_s,
        u"vbmp3_pause"_s,
        u"vbmp3_getState"_s,
        u"vbmp3_restart"_s,
        u"vbmp3_getState"_s,
        u"vbmp3_stop"_s,
        u"vbmp3_getState"_s,
        u"vbmp3_getFileInfo /music/umi.mp3"_s,
        u"vbmp3_getFileInfo /music/none.mp3"_s,
        u"vbmp3_close"_s,
        u"vbmp3_free"_s,
    };
    QCOMPARE(fake_.log(), expected);
}

void EngineLoaderTest::initSucceedsWhateverTheEngineAnswers()
{
    for (const int32_t answer : {0, -1, 1, 7}) {
        fake_.reset();
        fake_.setInitResult(answer);
        EngineLibrary engine(FakeEngine::completeDir());
        QVERIFY2(engine.init(), qPrintable(u"vbmp3_init answered %1"_s.arg(answer)));
        QCOMPARE(fake_.log(), QStringList{u"vbmp3_init"_s});
    }
}

void EngineLoaderTest::nothingIsCalledBeforeInit()
{
    // The library is loaded by the first init(); until then the engine is simply absent.
    EngineLibrary engine(FakeEngine::completeDir());
    int32_t seconds = -1;
    QCOMPARE(engine.stop(), 0);
    QCOMPARE(engine.getState(seconds), 0);
    QCOMPARE(seconds, -1);
    QVERIFY(fake_.log().isEmpty());
}

void EngineLoaderTest::failsCleanlyWithoutAUsableLibrary_data()
{
    addBrokenEngineRows();
}

void EngineLoaderTest::failsCleanlyWithoutAUsableLibrary()
{
    QFETCH(QString, folderKind);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString folder = brokenEngineFolder(folderKind, scratch);
    QVERIFY(!folder.isEmpty());
    FakeEngine incomplete(FakeEngine::incompleteDir());
    incomplete.reset();

    EngineLibrary engine(folder);
    QVERIFY(!engine.init());

    // Every call is a harmless no-op afterwards, and no engine has been initialised or called.
    EngineLibrary::OpenRecord opened{};
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    int32_t seconds = -1;
    QCOMPARE(engine.open("/music/umi.mp3", opened), 0);
    QCOMPARE(engine.play(), 0);
    QCOMPARE(engine.getState(seconds), 0);
    QCOMPARE(engine.getFileInfo("/music/umi.mp3", tag, stream), 0);
    QCOMPARE(engine.stop(), 0);
    QCOMPARE(engine.free(), 0);
    QVERIFY(incomplete.log().isEmpty());
    QVERIFY(fake_.log().isEmpty());
    QVERIFY(!engine.init());
}

void EngineLoaderTest::volumeOnlyWhereTheEngineHasIt_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("hasVolume");
    QTest::addColumn<int>("volume"); // after setting 30
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("engine with volume control")
        << FakeEngine::completeDir() << true << 30
        << QStringList{u"vbmp3_init"_s, u"vbmp3_setVolume 30"_s, u"vbmp3_open /music/umi.mp3"_s,
                       u"vbmp3_play"_s};
    // An engine from before the volume calls is no less an engine: everything else goes on.
    QTest::newRow("engine without volume control")
        << FakeEngine::noVolumeDir() << false << -1
        << QStringList{u"vbmp3_init"_s, u"vbmp3_open /music/umi.mp3"_s, u"vbmp3_play"_s};
}

void EngineLoaderTest::volumeOnlyWhereTheEngineHasIt()
{
    QFETCH(QString, folder);
    QFETCH(bool, hasVolume);
    QFETCH(int, volume);
    QFETCH(QStringList, calls);
    FakeEngine fake(folder);
    fake.reset();
    fake.addTrack("/music/umi.mp3", "海の歌", "ケルパ", 215);

    EngineLibrary engine(folder);
    QVERIFY(engine.init());
    QCOMPARE(engine.hasVolume(), hasVolume);
    QCOMPARE(engine.getVolume(), hasVolume ? 100 : -1);
    engine.setVolume(30);
    QCOMPARE(engine.getVolume(), volume);
    EngineLibrary::OpenRecord opened{};
    QCOMPARE(engine.open("/music/umi.mp3", opened), 1);
    QCOMPARE(CutAtNull(opened.Title), u"海の歌"_s);
    engine.play();
    int32_t seconds = -1;
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_PLAYING);
    calls << u"vbmp3_getState"_s;
    QCOMPARE(fake.log(), calls);
}

void EngineLoaderTest::nothingIsCalledAfterTheEnd()
{
    fake_.addTrack("/music/umi.mp3", "海の歌", "ケルパ", 215);
    EngineLibrary engine(FakeEngine::completeDir());
    QVERIFY(engine.init());
    engine.end();
    QCOMPARE(fake_.log(), (QStringList{u"vbmp3_init"_s, u"vbmp3_free"_s}));

    EngineLibrary::OpenRecord opened{};
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    int32_t seconds = -1;
    QCOMPARE(engine.open("/music/umi.mp3", opened), 0);
    QCOMPARE(engine.play(), 0);
    QCOMPARE(engine.getState(seconds), 0);
    QCOMPARE(engine.getFileInfo("/music/umi.mp3", tag, stream), 0);
    QCOMPARE(engine.stop(), 0);
    QCOMPARE(engine.free(), 0);
    QVERIFY(!engine.init());
    QCOMPARE(fake_.log(), (QStringList{u"vbmp3_init"_s, u"vbmp3_free"_s}));
}

QTEST_GUILESS_MAIN(EngineLoaderTest)
#include "test_engine_loader.moc"
