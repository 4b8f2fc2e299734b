// kelpa's own engine library, as built beside the program: the player's loader finds it and
// resolves every entry point, and the calls that need no track behave as the player relies on.
#include "engine/enginelibrary.h"

#include <QFileInfo>
#include <QTest>

class EngineLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void loadsWithEveryEntryPointAndIdlesHarmlessly();
};

void EngineLibraryTest::loadsWithEveryEntryPointAndIdlesHarmlessly()
{
    const QString folder = QString::fromUtf8(KELPA_ENGINE_DIR);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/libvbmp3.so")));
    EngineLibrary engine(folder);
    QVERIFY(engine.init()); // fails if any of the eleven entry points is missing

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

QTEST_GUILESS_MAIN(EngineLibraryTest)
#include "test_engine_library.moc"
