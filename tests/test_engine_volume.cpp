// The real engine's output volume, as the sound server and a listener see it: the level of
// kelpa's stream in `pactl list sink-inputs`, and the level of the tone recorded from the null
// sink against the same tone at full volume. The level must hold for the next track, whether
// it opens on a new stream or joins the end of the previous track on the same one.
#include "engine/enginelibrary.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/smallblocks.h"
#include "support/soundserver.h"
#include "support/toneanalysis.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr double kFirstTone = 440;
constexpr double kSecondTone = 1320;

QString pactl(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LC_ALL"_s, u"C"_s);
    process.setProcessEnvironment(env);
    process.start(u"pactl"_s, arguments);
    if (!process.waitForFinished(5000))
        return u"<pactl failed>"_s;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// kelpa's streams in the sound server: each one's index, and the percentages pactl shows for
// its channels, e.g. {"50%"}, one entry per distinct value.
QMap<QString, QStringList> kelpaStreams()
{
    QMap<QString, QStringList> streams;
    static const QRegularExpression volumeLine(u"^\\s*Volume:(.*)$"_s,
                                               QRegularExpression::MultilineOption);
    static const QRegularExpression percent(u"(\\d+)%"_s);
    for (const QString &block : pactl({u"list"_s, u"sink-inputs"_s}).split(u"Sink Input #"_s)) {
        if (!block.contains(u"application.name = \"kelpa\""_s))
            continue;
        QStringList &levels = streams[block.section(u'\n', 0, 0).trimmed()];
        const QString line = volumeLine.match(block).captured(1);
        for (const QRegularExpressionMatch &match : percent.globalMatch(line))
            if (!levels.contains(match.captured(0)))
                levels << match.captured(0);
    }
    return streams;
}

// The levels of all of kelpa's streams together: a stream at another level beside one at the
// expected level shows too.
QStringList kelpaStreamLevels()
{
    QStringList levels;
    for (const QStringList &stream : kelpaStreams())
        for (const QString &level : stream)
            if (!levels.contains(level))
                levels << level;
    return levels;
}

} // namespace

enum class Scenario { WhilePlaying, BeforePlay, NextTrack, JoinSetBefore, JoinSetInTail };
Q_DECLARE_METATYPE(Scenario)

class TestEngineVolume : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void serverLevelStandsUntilSet();
    void levelIsHeardAndShownInTheServer_data();
    void levelIsHeardAndShownInTheServer();

private:
    bool tickUntilEnded(int timeoutMs);
    // What the player does to play another file: stop, close, open, play.
    bool openAndPlay(const QString &file);

    QTemporaryDir dir_;
    SmallBlocks companion_;
    EngineLibrary engine_{QCoreApplication::applicationDirPath()};
    QString first_;
    QString second_;
};

void TestEngineVolume::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(engine_.init(), "the engine library beside the test must load and initialise");
    QVERIFY(engine_.hasVolume());
    first_ = Fixtures::makeTone(dir_.path(), u"first.mp3"_s, 2.5, kFirstTone);
    KELPA_VERIFY_FIXTURE(first_);
    second_ = Fixtures::makeTone(dir_.path(), u"second.mp3"_s, 1.5, kSecondTone);
    KELPA_VERIFY_FIXTURE(second_);
    // A stream with a 20 ms latency beside kelpa's, so that the null sink mixes in small blocks
    // as a sound card does and a change of level is heard when it is made.
    if (qEnvironmentVariableIsSet("PULSE_SERVER")) {
        QVERIFY2(companion_.start(), "pacat plays the low-latency stream");
    }
}

void TestEngineVolume::cleanupTestCase()
{
    engine_.free();
    companion_.stop();
}

bool TestEngineVolume::tickUntilEnded(int timeoutMs)
{
    int32_t seconds = 0;
    return QTest::qWaitFor([&] { return engine_.getState(seconds) == 0; }, timeoutMs);
}

bool TestEngineVolume::openAndPlay(const QString &file)
{
    engine_.stop();
    engine_.close();
    EngineLibrary::OpenRecord record{};
    if (engine_.open(QFile::encodeName(file), record) == 0)
        return false;
    engine_.play();
    return true;
}

// Runs first, before anything sets a level in this process. A user who turned kelpa down in
// the desktop's mixer finds it there again on the next stream (the server restores it), and
// kelpa reads that level back, until kelpa's own level is set: from then on, that one holds.
void TestEngineVolume::serverLevelStandsUntilSet()
{
    KELPA_REQUIRE_SOUND_SERVER();
    const QString module =
        pactl({u"load-module"_s, u"module-stream-restore"_s, u"restore_device=false"_s});
    QVERIFY2(module.toInt() > 0, qPrintable(module));
    const auto unload = qScopeGuard([&] { pactl({u"unload-module"_s, module}); });
    QVERIFY(openAndPlay(first_));
    QTRY_COMPARE(kelpaStreams().size(), 1);
    pactl({u"set-sink-input-volume"_s, kelpaStreams().firstKey(), u"40%"_s});
    QTRY_COMPARE(kelpaStreamLevels(), QStringList{u"40%"_s});

    const QList<std::pair<int, QString>> steps = {{-1, u"40%"_s}, {70, u"70%"_s}, {-1, u"70%"_s}};
    for (const auto &[set, shown] : steps) {
        engine_.stop(); // the next play is a new stream
        if (set >= 0)
            engine_.setVolume(set);
        engine_.play();
        QTRY_COMPARE_WITH_TIMEOUT(kelpaStreamLevels(), QStringList{shown}, 1500);
        QTRY_COMPARE_WITH_TIMEOUT(engine_.getVolume(), shown.chopped(1).toInt(), 1500);
    }
    engine_.stop();
    engine_.close();
}

void TestEngineVolume::levelIsHeardAndShownInTheServer_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<int>("percent");
    QTest::addColumn<double>("ratio"); // of the recorded RMS to the same tone at 100 %
    // The mixers' scale: the amplitude is the cube of the share, 50 % is -18 dB.
    QTest::newRow("50 % while playing") << Scenario::WhilePlaying << 50 << 0.125;
    QTest::newRow("30 % while playing") << Scenario::WhilePlaying << 30 << 0.027;
    QTest::newRow("0 % is silent") << Scenario::WhilePlaying << 0 << 0.0;
    QTest::newRow("set before play, heard from the start") << Scenario::BeforePlay << 50 << 0.125;
    QTest::newRow("kept when the next track opens") << Scenario::NextTrack << 50 << 0.125;
    QTest::newRow("kept across a gapless join") << Scenario::JoinSetBefore << 50 << 0.125;
    QTest::newRow("set in the last moments, kept by the joined track")
        << Scenario::JoinSetInTail << 50 << 0.125;
}

void TestEngineVolume::levelIsHeardAndShownInTheServer()
{
    KELPA_REQUIRE_SOUND_SERVER();
    QFETCH(Scenario, scenario);
    QFETCH(int, percent);
    QFETCH(double, ratio);

    engine_.setVolume(100);
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    QVERIFY(openAndPlay(first_));
    // Enough of the first track at the full level to measure it by.
    QVERIFY2(recorder.waitForTone(kFirstTone, 0, 600ms), "the first track was not heard");
    QTRY_COMPARE(kelpaStreamLevels(), QStringList{u"100%"_s});

    SinkRecorder::Clock::time_point changed = SinkRecorder::Clock::now();
    double tone = kFirstTone;
    switch (scenario) {
    case Scenario::WhilePlaying:
        engine_.setVolume(percent);
        break;
    case Scenario::BeforePlay:
        engine_.stop();
        engine_.setVolume(percent);
        QVERIFY(recorder.waitForQuiet(recorder.sampleIndexAt(SinkRecorder::Clock::now())));
        changed = SinkRecorder::Clock::now();
        engine_.play();
        break;
    case Scenario::NextTrack:
        engine_.setVolume(percent);
        QVERIFY(openAndPlay(second_));
        tone = kSecondTone;
        break;
    case Scenario::JoinSetBefore:
        engine_.setVolume(percent);
        QVERIFY(tickUntilEnded(5000));
        QVERIFY(openAndPlay(second_));
        tone = kSecondTone;
        break;
    case Scenario::JoinSetInTail:
        QVERIFY(tickUntilEnded(5000));
        engine_.setVolume(percent);
        QVERIFY(openAndPlay(second_));
        tone = kSecondTone;
        break;
    }
    QCOMPARE(engine_.getVolume(), percent);
    QTRY_COMPARE_WITH_TIMEOUT(kelpaStreamLevels(), QStringList{QString::number(percent) + u'%'},
                              1500);

    // Where the new level is measured: a quarter of a second after the change, or 150 ms into
    // the second track; -1 while that is not heard yet.
    const auto measuredFrom = [&](const QList<qint16> &heard) -> qsizetype {
        if (tone != kSecondTone)
            return recorder.sampleIndexAt(changed) + recorder.samplesFor(250ms);
        const qsizetype first = ToneAnalysis::findTone(heard, kFirstTone);
        const qsizetype second = first < 0 ? -1 : ToneAnalysis::findTone(heard, kSecondTone, first);
        return second < 0 ? -1 : second + recorder.samplesFor(150ms);
    };
    const qsizetype measured = recorder.samplesFor(300ms);
    if (!QTest::qWaitFor(
            [&] {
                const QList<qint16> heard = recorder.samples();
                const qsizetype from = measuredFrom(heard);
                return from >= 0 && heard.size() >= from + measured;
            },
            10000))
        qWarning("the recording did not reach the measured stretch");
    const QList<qint16> heard = recorder.stop();
    engine_.stop();
    engine_.close();

    const qsizetype start = ToneAnalysis::findTone(heard, kFirstTone);
    QVERIFY2(start >= 0, "the first track was not heard");
    const qsizetype from = start + recorder.samplesFor(150ms);
    const double full = ToneAnalysis::rms(heard, from, from + recorder.samplesFor(300ms));
    const qsizetype after = measuredFrom(heard);
    QVERIFY2(after >= 0, "the second track was not heard");
    const qsizetype to = after + measured;
    QVERIFY2(heard.size() >= to, "the recording is too short");
    const double level = ToneAnalysis::rms(heard, after, to);
    qInfo("full %.4f, at %d %%: %.4f (%.4f of full)", full, percent, level, level / full);
    if (ratio == 0) {
        QVERIFY2(ToneAnalysis::isSilent(heard, after, to), "silent at 0 %");
    } else {
        QVERIFY2(ToneAnalysis::hasTone(heard, after, to, tone, 44100, 0.005),
                 "the tone goes on at the lower level");
        QVERIFY2(qAbs(level / full - ratio) <= ratio * 0.2,
                 qPrintable(u"level %1 of full, expected %2"_s.arg(level / full).arg(ratio)));
    }
}

QTEST_GUILESS_MAIN(TestEngineVolume)
#include "test_engine_volume.moc"
