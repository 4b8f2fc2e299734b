// Loop play across track boundaries: the silence heard between one track and the next. The
// player window runs as the program runs it (its 300 ms monitor, loop play on, the real engine)
// over two short tracks of different tones, while the null sink's monitor is recorded; then
// audacious (headless, repeat on, driven by audtool) plays the same two files the same way. A
// silent stream with a 20 ms latency plays beside them, so that the sink runs in small blocks
// as it does with a sound card (alone, the null sink mixes in long blocks and hides short holes).
//
// Usage: bench_gapless [transitions=8] [track seconds=1.5]; needs a sound server
// (PULSE_SERVER, KELPA_NULL_SINK), a session bus for audtool, sox, lame, pacat, parec and
// audacious. bench/run.sh provides all of them.
#include "benchsupport.h"
#include "player/form1.h"
#include "player/player.h"
#include "playerdrive.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/smallblocks.h"
#include "support/toneanalysis.h"

#include <QAction>
#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr double kLow = 440;
constexpr double kHigh = 1320;

// Where each track starts in the recording (to within one analysis window), tones alternating.
std::vector<qsizetype> trackStarts(const QList<qint16> &heard)
{
    std::vector<qsizetype> starts;
    for (qsizetype at = ToneAnalysis::findTone(heard, kLow); at >= 0;
         at = ToneAnalysis::findTone(heard, starts.size() % 2 ? kHigh : kLow, at))
        starts.push_back(at);
    return starts;
}

// The longest silence between each track and the next, in milliseconds.
std::vector<double> silencesBetweenTracks(const QList<qint16> &heard, int rate)
{
    const std::vector<qsizetype> starts = trackStarts(heard);
    const qsizetype window = 2205; // findTone's default: the start lies within it
    std::vector<double> silences;
    // From within one track to within the next: the hole between them is the longest there.
    for (std::size_t i = 1; i < starts.size(); ++i)
        silences.push_back(1000.0 *
                           double(ToneAnalysis::longestSilence(heard, starts[i - 1] + window,
                                                               starts[i] + window)) /
                           rate);
    return silences;
}

bool report(const char *player, std::vector<double> silences, int transitions)
{
    if (int(silences.size()) < transitions) {
        std::printf("%-10s only %zu of %d transitions heard\n", player, silences.size(),
                    transitions);
        return false;
    }
    silences.resize(std::size_t(transitions));
    std::printf("%-10s median %6.1f ms, worst %6.1f ms; each:", player, Bench::median(silences),
                *std::max_element(silences.begin(), silences.end()));
    for (const double ms : silences)
        std::printf(" %.1f", ms);
    std::printf("\n");
    return true;
}

// Records the sink while `play` runs, for about as long as `seconds`.
template <typename Play> QList<qint16> record(double seconds, Play &&play)
{
    SinkRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "cannot record the sink: %s\n", qPrintable(recorder.error()));
        return {};
    }
    play(int(seconds * 1000));
    return recorder.stop();
}

// audtool's answer, trimmed; empty when it fails or has nothing to say.
QByteArray audtool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(u"audtool"_s, arguments);
    if (!tool.waitForFinished(5000) || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput().trimmed();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int transitions = argc > 1 ? std::max(6, std::atoi(argv[1])) : 8;
    const double trackSeconds = argc > 2 ? std::max(0.5, std::atof(argv[2])) : 1.5;
    QTemporaryDir dir;
    const QString low = Fixtures::makeTone(dir.path(), u"low.mp3"_s, trackSeconds, kLow);
    const QString high = low.isEmpty()
                             ? QString()
                             : Fixtures::makeTone(dir.path(), u"high.mp3"_s, trackSeconds, kHigh);
    if (high.isEmpty()) {
        std::fprintf(stderr, "cannot make the tracks: %s\n", qPrintable(Fixtures::lastError()));
        return 1;
    }
    SmallBlocks companion;
    if (!companion.start()) {
        std::fprintf(stderr, "pacat is needed for the low-latency stream\n");
        return 1;
    }
    // Each track, plus at most the old hole between tracks, plus the tail of the last.
    const double seconds = (transitions + 1) * (trackSeconds + 0.4) + 0.5;

    Player core(QCoreApplication::applicationDirPath());
    Form1 form(core);
    if (!form.Start()) {
        std::fprintf(stderr, "the player did not start (libvbmp3.so beside the benchmark?)\n");
        return 1;
    }
    Bench::dropOnList(form, {low, high});
    form.findChild<QAction *>(u"mnuLoop"_s)->trigger();
    const QList<qint16> kelpa = record(seconds, [&](int ms) {
        core.playEntry(0);
        QTest::qWait(ms);
        core.run(kelpa::Transport::Stop);
    });

    // The peer, with a configuration of its own (repeat on, nothing from the user's).
    QProcess peer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_CONFIG_HOME"_s, dir.filePath(u"config"_s));
    peer.setProcessEnvironment(env);
    peer.start(u"audacious"_s, {u"-H"_s, low, high});
    const bool loaded = peer.waitForStarted() &&
                        QTest::qWaitFor([] { return audtool({u"playlist-length"_s}) == "2"; });
    if (loaded && audtool({u"playlist-repeat-status"_s}) != "on")
        audtool({u"playlist-repeat-toggle"_s});
    QList<qint16> audacious;
    if (loaded && audtool({u"playlist-repeat-status"_s}) == "on")
        audacious = record(seconds, [](int ms) {
            audtool({u"playlist-jump"_s, u"1"_s});
            audtool({u"playback-play"_s});
            QTest::qWait(ms);
        });
    audtool({u"shutdown"_s});
    peer.waitForFinished();
    companion.stop();

    std::printf("silences between tracks in loop play of two %.1f s tracks, a 20 ms stream "
                "beside the player\n",
                trackSeconds);
    const bool ours = report("kelpa", silencesBetweenTracks(kelpa, 44100), transitions);
    if (audacious.isEmpty())
        std::printf("audacious  did not play (audacious, audtool and a session bus needed)\n");
    else
        report("audacious", silencesBetweenTracks(audacious, 44100), transitions);
    return ours ? 0 : 1;
}
