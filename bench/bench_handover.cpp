// Files handed to the running copy: from starting the program with 1,000 files to all of them
// listed in the copy that runs, beside dropping the same files on its list. The running copy
// is the player window with its hand-over socket, as the program sets them up; the second
// start is the real program. Medians of several runs, warm cache.
//
// Usage: bench_handover [files=1000] [runs=5]; needs sox and lame, and kelpa with its engine
// library beside this program.
#include "benchsupport.h"
#include "handover/handover.h"
#include "player/form1.h"
#include "player/player.h"
#include "playerdrive.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir dir;
    const QStringList paths = Bench::makeTaggedTracks(dir.path(), files);
    if (paths.isEmpty())
        return 1;

    Player player(QCoreApplication::applicationDirPath(), dir.path());
    Form1 form(player);
    if (!form.Start() || !QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "the player did not start (libvbmp3.so beside the benchmark?)\n");
        return 1;
    }
    kelpa::HandoverServer handover(player, kelpa::HandoverSocketPath(dir.path()));
    if (!handover.listen()) {
        std::fprintf(stderr, "no hand-over socket in %s\n", qPrintable(dir.path()));
        return 1;
    }
    player.run(kelpa::Transport::Stop);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, dir.path());
    const QString kelpa = QCoreApplication::applicationDirPath() + u"/kelpa"_s;
    std::vector<double> handed, dropped;
    for (int run = 0; run <= runs; ++run) { // run 0 warms the cache
        Bench::deleteAll(form);
        QElapsedTimer clock;
        clock.start();
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(kelpa, paths);
        while (player.entryCount() < files && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double listed = double(clock.nsecsElapsed()) / 1e6;
        const bool ended = QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; });
        player.run(kelpa::Transport::Stop);
        Bench::deleteAll(form);
        clock.restart();
        Bench::dropOnList(form, paths);
        const double drop = double(clock.nsecsElapsed()) / 1e6;
        player.run(kelpa::Transport::Stop);
        if (run == 0)
            continue;
        handed.push_back(player.entryCount() == files && ended ? listed : -1);
        dropped.push_back(drop);
    }
    std::printf("%d tagged MP3 files added to the running player, median of %d runs, warm cache\n",
                files, runs);
    std::printf("handed over by a second start: %8.1f ms until all are listed\n",
                Bench::median(handed));
    std::printf("dropped on the list:           %8.1f ms\n", Bench::median(dropped));
    return 0;
}
