// Playlist speed and size: a list file of 10,000 real tagged MP3 paths dropped on the player
// window (entries per second, warm cache, and the memory it takes); then 32,767 entries, the
// most the list holds: memory, and the time of one monitor tick with that list on screen;
// last, a 5 MB .m3u of 2.5 million short lines: the longest the UI thread does not answer
// while it is read, read by the player's loader and, as the player did before, on the UI
// thread itself.
//
// Usage: bench_playlist [files=10000] [runs=5]; needs sox and lame to make the one track the
// files are built from, and the engine library beside the program. A sound server makes the
// ticks those of a playing track; without one they are idle ticks.
#include "benchsupport.h"
#include "player/form1.h"
#include "player/picturebox.h"
#include "player/player.h"
#include "playerdrive.h"
#include "support/procstatus.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Lets the peak of resident memory start again from the present (Linux 4.0 and later).
void resetPeak()
{
    QFile clear(u"/proc/self/clear_refs"_s);
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir;
    const QStringList paths = Bench::makeTaggedTracks(dir.path(), files);
    if (paths.isEmpty())
        return 1;
    const auto writeList = [&](const QString &name, int entries) {
        const QString path = dir.filePath(name);
        QFile list(path);
        if (!list.open(QIODevice::WriteOnly))
            return QString();
        for (int i = 0; i < entries; ++i)
            list.write(paths[i % files].toUtf8() + '\n');
        return path;
    };
    const QString list = writeList(u"list.m3u"_s, files);
    const QString full = writeList(u"full.m3u"_s, kelpa::MaxEntries);

    Player player(QCoreApplication::applicationDirPath());
    Form1 form(player);
    if (!form.Start()) {
        std::fprintf(stderr, "the player did not start (libvbmp3.so beside the benchmark?)\n");
        return 1;
    }
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    form.resize(400, 600);
    QTest::qWait(100);

    // Warm the cache and the libraries, then time the drops.
    Bench::dropOnList(form, {list});
    Bench::deleteAll(form);
    std::vector<double> addRates, shownRates;
    long peakAdd = 0;
    const long before = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    for (int r = 0; r < runs; ++r) {
        resetPeak();
        QElapsedTimer timer;
        timer.start();
        Bench::dropOnList(form, {list});
        const qint64 added = timer.nsecsElapsed();
        QCoreApplication::processEvents(); // the list lays itself out and paints
        const qint64 shown = timer.nsecsElapsed();
        if (player.entryCount() != files) {
            std::fprintf(stderr, "only %d of %d entries added\n", player.entryCount(), files);
            return 1;
        }
        addRates.push_back(files / (added / 1e9));
        shownRates.push_back(files / (shown / 1e9));
        peakAdd = std::max(peakAdd, ProcStatus::kib(QCoreApplication::applicationPid(), "VmHWM:"));
        Bench::deleteAll(form);
    }
    std::printf(
        "list file of %d tagged MP3 paths dropped on the list, median of %d runs, warm cache\n",
        files, runs);
    std::printf("  added:              %8.0f entries/s\n", Bench::median(addRates));
    std::printf("  added and painted:  %8.0f entries/s\n", Bench::median(shownRates));
    std::printf("  resident memory: %.1f MiB before, peak %.1f MiB while adding\n", before / 1024.0,
                peakAdd / 1024.0);
    std::printf("  for scale, not measured here: Audacious imports such a list at about 10,250/s "
                "with worker threads, "
                "qmmp about 420/s\n");

    // The fullest list there can be.
    const long empty = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    QElapsedTimer timer;
    timer.start();
    Bench::dropOnList(form, {full});
    QCoreApplication::processEvents();
    const double fullSeconds = timer.nsecsElapsed() / 1e9;
    const long fullRss = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    std::printf("%d entries: added in %.2f s, resident memory %.1f MiB (%.0f bytes per entry)\n",
                player.entryCount(), fullSeconds, fullRss / 1024.0,
                (fullRss - empty) * 1024.0 / std::max(1, player.entryCount()));

    // Ticks with that list on screen, while the last entry plays (or idles without sound).
    player.SetListIndex(player.entryCount() - 1);
    player.OpenSelected();
    QTest::qWait(500);
    auto *timer1 = form.findChild<QTimer *>(u"Timer1"_s);
    timer1->stop();
    auto *disp = form.findChild<PictureBox *>(u"PictDisp"_s);
    auto *bar = form.findChild<PictureBox *>(u"PictBar"_s);
    std::vector<double> tickUs, paintUs;
    for (int i = 0; i < 2000; ++i) {
        QElapsedTimer t;
        t.start();
        QMetaObject::invokeMethod(timer1, "timeout");
        tickUs.push_back(t.nsecsElapsed() / 1e3);
        // The worst a tick can cost on screen: both boxes painted anew.
        disp->update();
        bar->update();
        t.restart();
        QCoreApplication::processEvents();
        paintUs.push_back(t.nsecsElapsed() / 1e3);
    }
    std::printf("one tick with %d entries listed (%s): median %.1f us, 99th percentile %.1f us;\n"
                "  painting both boxes afterwards: median %.1f us, 99th percentile %.1f us\n",
                player.entryCount(), disp->Text().isEmpty() ? "idle" : "playing",
                Bench::median(tickUs), percentile(tickUs, 0.99), Bench::median(paintUs),
                percentile(paintUs, 0.99));

    timer.restart();
    Bench::deleteAll(form);
    std::printf("deleting all %d entries: %.0f ms\n", kelpa::MaxEntries,
                timer.nsecsElapsed() / 1e6);
    player.run(kelpa::Transport::Stop);

    // The huge list: every hundredth of its 2.5 million lines names the track (25,000
    // entries), the others name nothing. Timed by a 5 ms timer on the UI thread: the longest
    // gap between its ticks is the longest the window, the web remote and the media controls
    // wait.
    const QString huge = dir.filePath(u"huge.m3u"_s);
    {
        QFile out(huge);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray track = QFileInfo(paths[0]).fileName().toUtf8();
        QByteArray bytes;
        for (int line = 0; line < 2500000; ++line)
            bytes += line % 100 == 0 ? track + '\n' : QByteArray("x\n");
        bytes.truncate(PlaylistReader::kMaxListFileBytes);
        out.write(bytes);
        QFile::copy(paths[0], dir.filePath(QFileInfo(paths[0]).fileName()));
    }
    // The stall is timed in an event loop as the program's own: a timer of 5 ms whose longest
    // gap between two ticks is the longest anything else on the UI thread waits.
    int overBudget = 0; // gaps of more than 50 ms
    const auto longestStall = [&overBudget](const std::function<void()> &start,
                                            const std::function<bool()> &reading) {
        QEventLoop loop;
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        overBudget = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 gap = sinceTick.restart();
            overBudget += gap > 50;
            longest = std::max(longest, gap);
            if (!reading())
                loop.quit();
        });
        ticker.start(5);
        sinceTick.start();
        QTimer::singleShot(0, start);
        loop.exec();
        return longest;
    };
    Bench::deleteAll(form);
    QElapsedTimer whole;
    whole.start();
    const qint64 loaderStall = longestStall([&] { player.dropFiles({QFile::encodeName(huge)}); },
                                            [&] { return player.Reading(); });
    const double loaderSeconds = whole.nsecsElapsed() / 1e9;
    const int loaderOver = overBudget;
    const int loaderEntries = player.entryCount();
    Bench::deleteAll(form);
    // As the player read before: the same reading, with a handle of its own on the engine.
    EngineLibrary engine(QCoreApplication::applicationDirPath());
    if (!engine.init())
        return 1;
    const PlaylistReader::TagReader readTags = [&](const QByteArray &name) {
        EngineLibrary::TagRecord tag{};
        EngineLibrary::StreamRecord stream{};
        if (engine.getFileInfo(name, tag, stream) == 0)
            return std::optional<TrackTags>();
        return std::optional<TrackTags>(TrackTags{CutAtNull(tag.Title), CutAtNull(tag.Artist)});
    };
    whole.restart();
    PlaylistModel onUiThread;
    const qint64 uiStall = longestStall(
        [&] {
            QList<PlaylistEntry> read;
            PlaylistReader(readTags, 0).Read({QFile::encodeName(huge)}, [&](PlaylistEntry &&entry) {
                read.append(std::move(entry));
                return read.size() < kelpa::MaxEntries;
            });
            onUiThread.Append(std::move(read));
        },
        [] { return false; });
    std::printf("a 5 MB .m3u of 2.5 million short lines, %d entries:\n"
                "  read by the loader:     longest UI-thread stall %lld ms (%d over 50 ms), "
                "all read in %.1f s\n"
                "  read on the UI thread:  longest UI-thread stall %lld ms (%d entries)\n",
                loaderEntries, static_cast<long long>(loaderStall), loaderOver, loaderSeconds,
                static_cast<long long>(uiStall), onUiThread.Count());
    return 0;
}
