// Start with one file on the command line: from starting the program to the first sound of
// the file in the null sink, for kelpa and for its peers started the same way (mpg123, and
// audacious when present). Medians of several runs.
//
// Usage: bench_cmdline [runs=5]; needs the private sound server and display of bench/run.sh,
// sox and lame, and kelpa with its engine library beside this program.
#include "benchsupport.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/toneanalysis.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Milliseconds from the start of `command` to the first sound it plays; -1 when none is
// heard within ten seconds.
double timeToSound(const QStringList &command, const QProcessEnvironment &env)
{
    SinkRecorder recorder;
    if (!recorder.start()) {
        std::fprintf(stderr, "no recording: %s\n", qPrintable(recorder.error()));
        return -1;
    }
    const qsizetype from = recorder.samples().size();
    QProcess player;
    player.setProcessEnvironment(env);
    const SinkRecorder::Clock::time_point started = SinkRecorder::Clock::now();
    player.start(command.first(), command.mid(1));
    qsizetype onset = -1;
    for (int waited = 0; onset < 0 && waited < 10000; waited += 20) {
        QTest::qWait(20);
        onset = ToneAnalysis::findSound(recorder.samples(), from, 441);
    }
    const double ms =
        onset < 0
            ? -1
            : std::chrono::duration<double, std::milli>(recorder.timeOfSample(onset) - started)
                  .count();
    player.kill();
    player.waitForFinished();
    recorder.stop();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const QString track = Fixtures::makeTone(dir.path(), u"tone.mp3"_s, 3.0, 440.0);
    if (track.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(Fixtures::lastError()));
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, dir.path()); // no running copy to hand the file to

    const QString kelpa = QCoreApplication::applicationDirPath() + u"/kelpa"_s;
    const QList<std::pair<QString, QStringList>> players{
        {u"kelpa"_s, {kelpa, track}},
        {u"mpg123"_s, {u"mpg123"_s, u"-q"_s, track}},
        {u"audacious"_s, {u"audacious"_s, u"--headless"_s, u"--play"_s, track}},
    };
    std::printf("start with one file on the command line to its first sound in the null sink, "
                "median of %d runs\n",
                runs);
    for (const auto &[name, command] : players) {
        if (QStandardPaths::findExecutable(command.first()).isEmpty()) {
            std::printf("%-10s not installed\n", qPrintable(name));
            continue;
        }
        timeToSound(command, env); // warm the page cache
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            if (const double ms = timeToSound(command, env); ms >= 0)
                times.push_back(ms);
        }
        std::printf("%-10s %8.1f ms  (%zu of %d runs heard)\n", qPrintable(name),
                    Bench::median(times), times.size(), runs);
    }
    return 0;
}
