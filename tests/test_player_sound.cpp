// The player end to end with the real engine: two short tracks of different tones, loop play
// on, the real 300 ms timer. What the null sink hears must be the first track, the second,
// then the first again.
#include "playerharness.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/soundserver.h"
#include "support/toneanalysis.h"

#include <QtTest>

class PlayerSoundTest : public QObject {
    Q_OBJECT

private slots:
    void loopPlayPlaysBothTracksAndWraps();
};

void PlayerSoundTest::loopPlayPlaysBothTracksAndWraps()
{
    KELPA_REQUIRE_SOUND_SERVER();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString low = Fixtures::makeTone(dir.path(), u"low.mp3"_s, 2.0, 440);
    KELPA_VERIFY_FIXTURE(low);
    const QString high = Fixtures::makeTone(dir.path(), u"high.mp3"_s, 2.0, 1320);
    KELPA_VERIFY_FIXTURE(high);
    using namespace Fixtures;
    KELPA_VERIFY_FIXTURE(prependToFile(low, id3v2({id3TextFrame("TIT2", u"低い音"_s, Utf8)}, 4)));
    KELPA_VERIFY_FIXTURE(prependToFile(high, id3v2({id3TextFrame("TIT2", u"高い音"_s, Utf8)}, 4)));

    PlayerHarness p(QCoreApplication::applicationDirPath()); // the real engine beside the test
    QVERIFY(p.started);
    QVERIFY(p.dropFiles({low, high}));
    QCOMPARE(p.items(), (QStringList{u"低い音"_s, u"高い音"_s}));
    p.menuItem(u"mnuLoop"_s)->trigger();
    p.timer()->start();

    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    const qsizetype startedAt = recorder.samples().size();
    QVERIFY(p.core->SetListIndex(0));
    p.core->OpenSelected();
    QCOMPARE(p.core->caption(), u"kelpa - 低い音"_s);

    // The monitor moves on by itself: to the second entry, then back to the first.
    QTRY_COMPARE_WITH_TIMEOUT(p.core->ListIndex(), 1, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(p.core->caption(), u"kelpa - 高い音"_s, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(p.pictDisp()->Text().startsWith(u"00:01 高い音 - "_s), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(p.core->ListIndex(), 0, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(p.core->caption(), u"kelpa - 低い音"_s, 1000);
    // Until the first track is heard again after the second.
    const auto heardAgain = [&] {
        const QList<qint16> heard = recorder.samples();
        const qsizetype first = ToneAnalysis::findTone(heard, 440, startedAt);
        const qsizetype second = first < 0 ? -1 : ToneAnalysis::findTone(heard, 1320, first);
        return second >= 0 && ToneAnalysis::findTone(heard, 440, second) >= 0;
    };
    if (!QTest::qWaitFor(heardAgain, 5000))
        qWarning("the first track was not heard again within 5 s");
    const QList<qint16> heard = recorder.stop();
    QTest::mouseClick(p.button(3), Qt::LeftButton);

    // First track, second track, first again, in that order and each about its length.
    const qsizetype first = ToneAnalysis::findTone(heard, 440, startedAt);
    QVERIFY2(first >= 0, "the first track was not heard");
    const qsizetype second = ToneAnalysis::findTone(heard, 1320, first);
    QVERIFY2(second >= 0, "the second track was not heard after the first");
    const qsizetype again = ToneAnalysis::findTone(heard, 440, second);
    QVERIFY2(again >= 0, "the first track was not heard again after the second");
    const double firstSeconds = ToneAnalysis::secondsOfTone(heard, 440, first, second);
    const double secondSeconds = ToneAnalysis::secondsOfTone(heard, 1320, second, again);
    const double gap = double(again - second) / recorder.sampleRate() - secondSeconds;
    qInfo("heard %.2f s of the first track, %.2f s of the second, then %.2f s without it",
          firstSeconds, secondSeconds, gap);
    QVERIFY2(firstSeconds > 1.7 && firstSeconds < 2.3, qPrintable(QString::number(firstSeconds)));
    QVERIFY2(secondSeconds > 1.7 && secondSeconds < 2.3,
             qPrintable(QString::number(secondSeconds)));
    // Between tracks the player waits at most about a tick: no long silence.
    QVERIFY2(gap < 0.8, qPrintable(u"gap of %1 s"_s.arg(gap)));

    // Stop: the sound ends and the strip goes blank.
    QTRY_COMPARE_WITH_TIMEOUT(p.pictDisp()->Text(), QString(), 1000);
    QCOMPARE(p.core->caption(), u"kelpa"_s);
}

QTEST_MAIN(PlayerSoundTest)
#include "test_player_sound.moc"
