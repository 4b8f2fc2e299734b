// The real engine driven as the player drives it at the end of a track: a poll every tick of the
// player's monitor, and on the ended state stop, close, open the next file and play. What the
// null sink hears: the next track follows the last sample of the previous one, a stop, close or
// pause in the middle of a track still silences at once, and a stop after the end lets its last
// moments play out, whether or not the end was asked for. A silent stream with a 20 ms latency
// plays beside it, so that the sink runs in small blocks as it does with a sound card (alone,
// the null sink mixes long blocks ahead and fills short holes before they are heard).
#include "engine/enginelibrary.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/smallblocks.h"
#include "support/soundserver.h"
#include "support/toneanalysis.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kTickMs = VBMP3_TICK_MS; // the player's monitor
constexpr double kFirstTone = 440;
constexpr double kSecondTone = 1320;

} // namespace

enum class Action { Stop, Close, Pause };
Q_DECLARE_METATYPE(Action)
// When the action comes: after the end it lets the track's last moments play out.
enum class Moment { Middle, AfterTheEndWasAsked, InTheTailUnasked };
Q_DECLARE_METATYPE(Moment)
Q_DECLARE_METATYPE(Fixtures::ToneOptions)

class TestEngineJoin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void nextTrackFollowsWithoutAHole_data();
    void nextTrackFollowsWithoutAHole();
    void silencedAtOnceUnlessTheTrackHasEnded_data();
    void silencedAtOnceUnlessTheTrackHasEnded();

private:
    // Polls as the player's monitor does until the state reads 0; false on timeout.
    bool tickUntilEnded(int timeoutMs, int periodMs = kTickMs);
    // What the player does on an ended track with loop play: the next file, from the top.
    bool openAndPlay(const QString &file);

    QTemporaryDir dir_;
    SmallBlocks companion_;
    EngineLibrary engine_{QCoreApplication::applicationDirPath()};
    QString first_;
    QString long_; // 3 s of the first track's tone
};

void TestEngineJoin::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(engine_.init(), "the engine library beside the test must load and initialise");
    first_ = Fixtures::makeTone(dir_.path(), u"first.mp3"_s, 1.5, kFirstTone);
    KELPA_VERIFY_FIXTURE(first_);
    long_ = Fixtures::makeTone(dir_.path(), u"long.mp3"_s, 3, kFirstTone);
    KELPA_VERIFY_FIXTURE(long_);
    if (qEnvironmentVariableIsSet("PULSE_SERVER")) {
        QVERIFY2(companion_.start(), "pacat plays the low-latency stream");
    }
}

void TestEngineJoin::cleanupTestCase()
{
    engine_.free();
    companion_.stop();
}

bool TestEngineJoin::tickUntilEnded(int timeoutMs, int periodMs)
{
    // The monitor's timer: the state is read on each tick only, so the ended state is seen up
    // to a tick late, as the player sees it.
    bool ended = false;
    QTimer tick;
    tick.callOnTimeout([&] {
        int32_t seconds = 0;
        ended = engine_.getState(seconds) == 0;
    });
    tick.start(periodMs);
    return QTest::qWaitFor([&] { return ended; }, timeoutMs);
}

bool TestEngineJoin::openAndPlay(const QString &file)
{
    engine_.stop();
    engine_.close();
    EngineLibrary::OpenRecord record{};
    if (engine_.open(QFile::encodeName(file), record) == 0)
        return false;
    int32_t seconds = -1;
    engine_.getState(seconds);
    engine_.play();
    return true;
}

void TestEngineJoin::nextTrackFollowsWithoutAHole_data()
{
    using Fixtures::ToneOptions;
    QTest::addColumn<ToneOptions>("options");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("maxHoleMs");
    // The first track: 1.5 s, 44.1 kHz stereo, 128 kbit/s.
    QTest::newRow("same format") << ToneOptions{} << 1.5 << 20;
    QTest::newRow("VBR after CBR") << ToneOptions{.vbr = true} << 1.5 << 20;
    QTest::newRow("shorter than the tail") << ToneOptions{} << 0.3 << 20;
    // Another format needs a stream of its own: it starts once the first has played out.
    QTest::newRow("mono after stereo") << ToneOptions{.channels = 1} << 1.5 << 500;
    QTest::newRow("22.05 kHz after 44.1 kHz") << ToneOptions{.sampleRate = 22050} << 1.5 << 500;
}

void TestEngineJoin::nextTrackFollowsWithoutAHole()
{
    KELPA_REQUIRE_SOUND_SERVER();
    QFETCH(Fixtures::ToneOptions, options);
    QFETCH(double, seconds);
    QFETCH(int, maxHoleMs);
    const QString second =
        Fixtures::makeTone(dir_.path(), QString::fromLatin1(QTest::currentDataTag()) + u".mp3"_s,
                           seconds, kSecondTone, options);
    KELPA_VERIFY_FIXTURE(second);

    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    QVERIFY(openAndPlay(first_));
    QVERIFY(tickUntilEnded(5000));
    QVERIFY(openAndPlay(second));
    int32_t position = -1;
    QCOMPARE(engine_.getState(position), 1);
    QCOMPARE(position, 0); // the first track still sounds: nothing of this one is heard yet
    QVERIFY(tickUntilEnded(5000));
    engine_.stop(); // without loop play the player stops and closes after the last track
    engine_.close();
    QVERIFY(recorder.waitForQuiet(recorder.sampleIndexAt(SinkRecorder::Clock::now())));
    const QList<qint16> heard = recorder.stop();

    const qsizetype window = 2205;
    const qsizetype firstAt = ToneAnalysis::findTone(heard, kFirstTone);
    QVERIFY2(firstAt >= 0, "the first track was not heard");
    const qsizetype secondAt = ToneAnalysis::findTone(heard, kSecondTone, firstAt, 441);
    QVERIFY2(secondAt >= 0, "the second track was not heard after the first");
    const double first = ToneAnalysis::secondsOfTone(heard, kFirstTone);
    const double next = ToneAnalysis::secondsOfTone(heard, kSecondTone);
    const double holeMs =
        1000.0 * double(ToneAnalysis::longestSilence(heard, firstAt + window, secondAt + 441)) /
        recorder.sampleRate();
    qInfo("heard %.2f s, then %.2f s, with a hole of %.1f ms between", first, next, holeMs);
    QVERIFY2(qAbs(first - 1.5) <= 0.1, "the first track is heard whole, its tail too");
    QVERIFY2(qAbs(next - seconds) <= 0.1, "the second track is heard whole, its tail too");
    QVERIFY2(holeMs <= maxHoleMs, qPrintable(u"a hole of %1 ms between the tracks"_s.arg(holeMs)));
}

void TestEngineJoin::silencedAtOnceUnlessTheTrackHasEnded_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<Moment>("moment");
    QTest::newRow("stop while playing") << Action::Stop << Moment::Middle;
    QTest::newRow("close while playing") << Action::Close << Moment::Middle;
    QTest::newRow("pause while playing") << Action::Pause << Moment::Middle;
    QTest::newRow("stop after the end") << Action::Stop << Moment::AfterTheEndWasAsked;
    QTest::newRow("close after the end") << Action::Close << Moment::AfterTheEndWasAsked;
    QTest::newRow("stop in the tail, the end never asked for")
        << Action::Stop << Moment::InTheTailUnasked;
}

void TestEngineJoin::silencedAtOnceUnlessTheTrackHasEnded()
{
    KELPA_REQUIRE_SOUND_SERVER();
    QFETCH(Action, action);
    QFETCH(Moment, moment);
    const bool afterEnd = moment != Moment::Middle;
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    QVERIFY(openAndPlay(moment == Moment::InTheTailUnasked ? long_ : first_));
    if (moment == Moment::AfterTheEndWasAsked) {
        QVERIFY(tickUntilEnded(5000, 10));
    } else if (moment == Moment::InTheTailUnasked) {
        // Its second 2 leaves a second to hear; from then on the state is not asked until the
        // action comes, a tenth of a second into the tail.
        int32_t seconds = 0;
        QVERIFY(QTest::qWaitFor([&] { return engine_.getState(seconds) == 1 && seconds == 2; }));
        QTest::qWait(1000 - VBMP3_TAIL_MS + 100);
    } else {
        QVERIFY(recorder.waitForTone(kFirstTone, 0, 500ms));
    }

    const SinkRecorder::Clock::time_point at = SinkRecorder::Clock::now();
    switch (action) {
    case Action::Stop:
        engine_.stop();
        break;
    case Action::Close:
        engine_.close();
        break;
    case Action::Pause:
        engine_.pause();
        break;
    }
    // What the sink plays in the 600 ms after the call: the rest of the track, or nothing.
    QVERIFY(recorder.waitForSamples(recorder.sampleIndexAt(at) + recorder.samplesFor(600ms)));
    const QList<qint16> heard = recorder.stop();
    engine_.stop();
    engine_.close();

    // From 100 ms after the call on: the rest of the track, or silence.
    const qsizetype from = recorder.sampleIndexAt(at) + recorder.samplesFor(100ms);
    const qsizetype to = from + recorder.samplesFor(150ms);
    QVERIFY2(heard.size() >= to, "the recording is too short");
    if (afterEnd)
        QVERIFY2(ToneAnalysis::hasTone(heard, from, to, kFirstTone),
                 "the track's last moments play out after its end");
    else
        QVERIFY2(ToneAnalysis::isSilent(heard, from, heard.size()),
                 "silent within 100 ms of the call");
}

QTEST_GUILESS_MAIN(TestEngineJoin)
#include "test_engine_join.moc"
