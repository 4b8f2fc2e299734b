// kelpa's own engine library, as built beside the program: the player's loader finds it and
// resolves every entry point, and the calls that need no track behave as the player relies on.
#include "engine/enginelibrary.h"

#include <QFileInfo>
#include <QTest>

class EngineLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void loadsWithEveryEntryPointAndIdlesHarmlessly();
    void volumeIsClampedAndKept_data();
    void volumeIsClampedAndKept();
};

void EngineLibraryTest::loadsWithEveryEntryPointAndIdlesHarmlessly()
{
    const QString folder = QString::fromUtf8(KELPA_ENGINE_DIR);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/libvbmp3.so")));
    EngineLibrary engine(folder);
    QVERIFY(engine.init()); // fails if any of the eleven required entry points is missing
    QVERIFY(engine.hasVolume());
    QCOMPARE(engine.getVolume(), 100);

    int32_t seconds = -1;
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_IDLE);
    engine.stop();  // harmless when idle
    engine.close(); // harmless when nothing is open

    EngineLibrary::OpenRecord opened{};
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    const QByteArray missing = QByteArrayLiteral("/nonexistent/kelpa-test.mp3");
    QCOMPARE(engine.open(missing, opened), 0);
    QCOMPARE(engine.getFileInfo(missing, tag, stream), 0);
    QCOMPARE(engine.getState(seconds), VBMP3_STATE_IDLE);
    engine.free();
}

void EngineLibraryTest::volumeIsClampedAndKept_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("kept");
    QTest::newRow("below the range") << -20 << 0;
    QTest::newRow("silent") << 0 << 0;
    QTest::newRow("within") << 37 << 37;
    QTest::newRow("full") << 100 << 100;
    QTest::newRow("above the range") << 250 << 100;
}

// Without a track or a sound server: the level is the engine's own until a stream takes it.
void EngineLibraryTest::volumeIsClampedAndKept()
{
    QFETCH(int, percent);
    QFETCH(int, kept);
    EngineLibrary engine(QString::fromUtf8(KELPA_ENGINE_DIR));
    QVERIFY(engine.init());
    QVERIFY(engine.hasVolume());
    engine.setVolume(percent);
    QCOMPARE(engine.getVolume(), kept);
    engine.free();
    QCOMPARE(engine.getVolume(), kept); // for the run, not for one connection
    engine.setVolume(100);
}

QTEST_GUILESS_MAIN(EngineLibraryTest)
#include "test_engine_library.moc"
