// CPU and memory while playing: the whole kelpa process (player window shown, its timer
// running, the engine playing a 128 kbit/s file into the sound server) against
// `mpg123 -q -o pulse` playing the same file.
//
// Usage: bench_playback [seconds=30]; needs a sound server (PULSE_SERVER), a display, sox,
// lame and mpg123. bench/run.sh provides all of them.
#include "benchsupport.h"
#include "engine/enginelibrary.h"
#include "player/form1.h"
#include "player/player.h"
#include "support/fixtures.h"
#include "support/procstatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

double cpuSecondsOfSelf()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double cpuSecondsOf(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which sits in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

constexpr int kWarmUpMs = 2000;

// Runs the event loop for a while the way kelpa's own loop runs: asleep until an event.
// (QTest::qWait would wake every 10 ms and be counted as kelpa's.)
void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    QTemporaryDir dir;
    const QString mp3 = Fixtures::makeTone(dir.path(), u"t.mp3"_s, seconds + 10, 440);
    if (mp3.isEmpty()) {
        std::fprintf(stderr, "cannot make the file: %s\n", qPrintable(Fixtures::lastError()));
        return 1;
    }

    // The peer first, so that kelpa's own start-up does not overlap it.
    QProcess peer;
    peer.start(u"mpg123"_s, {u"-q"_s, u"-o"_s, u"pulse"_s, mp3});
    if (!peer.waitForStarted()) {
        std::fprintf(stderr, "mpg123 is needed as the peer\n");
        return 1;
    }
    runEventLoop(kWarmUpMs);
    const double peerStart = cpuSecondsOf(peer.processId());
    runEventLoop(seconds * 1000);
    const double peerCpu = cpuSecondsOf(peer.processId()) - peerStart;
    const long peerRss = ProcStatus::kib(peer.processId(), "VmHWM:");
    peer.kill();
    peer.waitForFinished();

    Player core(QCoreApplication::applicationDirPath());
    Form1 player(core);
    if (!player.Start())
        return 1;
    // A second handle on the same loaded library drives the engine the player initialised.
    EngineLibrary engine(QCoreApplication::applicationDirPath());
    EngineLibrary::OpenRecord record{};
    if (!engine.init() || !engine.open(QFile::encodeName(mp3), record)) {
        std::fprintf(stderr, "the engine cannot open the file\n");
        return 1;
    }
    engine.play();
    runEventLoop(kWarmUpMs);
    const double ownStart = cpuSecondsOfSelf();
    runEventLoop(seconds * 1000);
    const double ownCpu = cpuSecondsOfSelf() - ownStart;
    int32_t position = 0;
    const bool playing = engine.getState(position) == 1;
    const long ownRss = ProcStatus::kib(QCoreApplication::applicationPid(), "VmHWM:");

    std::printf("playing a 128 kbit/s MP3 into the sound server for %d s (after %d ms warm-up)\n",
                seconds, kWarmUpMs);
    std::printf("kelpa (window shown):  CPU %.2f %% of a core, peak RSS %.1f MiB%s\n",
                100.0 * ownCpu / seconds, ownRss / 1024.0,
                playing ? "" : "  (NOT PLAYING at the end!)");
    std::printf("mpg123 -q -o pulse:    CPU %.2f %% of a core, peak RSS %.1f MiB\n",
                100.0 * peerCpu / seconds, peerRss / 1024.0);
    std::printf("ratio: %.2f x mpg123\n", ownCpu / peerCpu);
    return 0;
}
