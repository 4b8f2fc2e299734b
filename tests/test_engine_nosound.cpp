// With no sound server to talk to, the engine must neither hang nor crash: play fails
// quietly and the state reads 0, which the player takes for an ended track.
#include "engine/enginelibrary.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestEngineNoSound : public QObject {
    Q_OBJECT

private slots:
    void playWithoutServerEndsQuietly()
    {
        QVERIFY(qEnvironmentVariable("PULSE_SERVER").contains(u"nowhere"_s));
        QTemporaryDir dir;
        const QString tone = Fixtures::makeTone(dir.path(), u"tone.mp3"_s, 5.0, 440);
        KELPA_VERIFY_FIXTURE(tone);
        EngineLibrary engine(QCoreApplication::applicationDirPath());
        QVERIFY(engine.init());
        EngineLibrary::OpenRecord record{};
        QVERIFY(engine.open(QFile::encodeName(tone), record) != 0);

        QElapsedTimer timer;
        timer.start();
        engine.play();
        engine.pause();
        engine.restart();
        engine.seek(2);
        QVERIFY2(timer.elapsed() < 1000, "calls return at once without a server");
        int32_t seconds = 0;
        QTRY_COMPARE_WITH_TIMEOUT(engine.getState(seconds), 0, 3000);
        engine.play(); // tried again, fails again
        QTRY_COMPARE_WITH_TIMEOUT(engine.getState(seconds), 0, 3000);
        engine.stop();
        engine.close();
        engine.free();
        QVERIFY2(timer.elapsed() < 5000, "free must not wait for a server");
    }
};

QTEST_GUILESS_MAIN(TestEngineNoSound)
#include "test_engine_nosound.moc"
