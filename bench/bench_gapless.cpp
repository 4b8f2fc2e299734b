// Loop play across track boundaries: the silence heard between one track and the next. The
// player window runs as the program runs it (its 300 ms monitor, loop play on, the real engine)
// over two short tracks of different tones, while the null sink's monitor is recorded. A silent
// stream with a 20 ms latency plays beside it, so that the sink runs in small blocks as it does
// with a sound card (alone, the null sink mixes in long blocks and hides short holes).
//
// Usage: bench_gapless [transitions=8] [track seconds=1.5]; needs a sound server
// (PULSE_SERVER, KELPA_NULL_SINK), sox, lame, pacat and parec. bench/run.sh provides all of them.
#include "benchsupport.h"
#include "player/form1.h"
#include "playerdrive.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
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

    QProcess companion;
    companion.setStandardInputFile(u"/dev/zero"_s);
    companion.start(u"pacat"_s, {u"--playback"_s, u"--raw"_s, u"--latency-msec=20"_s});
    if (!companion.waitForStarted()) {
        std::fprintf(stderr, "pacat is needed for the low-latency stream\n");
        return 1;
    }
    SinkRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "cannot record the sink: %s\n", qPrintable(recorder.error()));
        return 1;
    }

    Form1 form(QCoreApplication::applicationDirPath(), dir.path());
    if (!form.Start()) {
        std::fprintf(stderr, "the player did not start (libvbmp3.so beside the benchmark?)\n");
        return 1;
    }
    Bench::dropOnList(form, {low, high});
    form.findChild<QAction *>(u"mnuLoop"_s)->trigger();
    form.SetListIndex(0);
    form.List1_DblClick();
    // Each track, plus at most the old hole between tracks, plus the tail of the last.
    QTest::qWait(int((transitions + 1) * (trackSeconds + 0.4) * 1000) + 500);
    form.Command1_Click(int16_t(kelpa::Transport::Stop));
    const QList<qint16> heard = recorder.stop();
    companion.kill();
    companion.waitForFinished();

    const std::vector<qsizetype> starts = trackStarts(heard);
    const qsizetype window = 2205; // findTone's default: the start lies within it
    std::vector<double> silences;
    // From within one track to within the next: the hole between them is the longest there.
    for (std::size_t i = 1; i < starts.size() && int(silences.size()) < transitions; ++i)
        silences.push_back(1000.0 *
                           double(ToneAnalysis::longestSilence(heard, starts[i - 1] + window,
                                                               starts[i] + window)) /
                           recorder.sampleRate());
    std::printf("loop play of two %.1f s tracks through the player, a 20 ms stream beside it\n",
                trackSeconds);
    std::printf("silences between tracks (ms):");
    for (const double ms : silences)
        std::printf(" %.1f", ms);
    std::printf("\n");
    if (int(silences.size()) < transitions) {
        std::printf("only %zu of %d transitions heard\n", silences.size(), transitions);
        return 1;
    }
    std::printf("kelpa:     median %.1f ms, worst %.1f ms over %zu transitions\n",
                Bench::median(silences), *std::max_element(silences.begin(), silences.end()),
                silences.size());
    return 0;
}
