// Files handed to the running copy: from starting the program with 1,000 files to all of them
// listed in the copy that runs, beside dropping the same files on its list. The running copy
// is the player window with its hand-over socket, as the program sets them up; the second
// start is the real program. Medians of several runs, warm cache. Then what senders that never
// finish cost the running copy: the memory of 8 sending 134 MB lists for 2 s, and the
// descriptors held for 1,500 that connect and say nothing; and the memory that 4,000 whole
// lists of 1 MiB (names of no file) leave behind once they are read.
//
// Usage: bench_handover [files=1000] [runs=5]; needs sox and lame, and kelpa with its engine
// library beside this program.
#include "app/singleinstance.h"
#include "benchsupport.h"
#include "handover/handover.h"
#include "player/form1.h"
#include "player/player.h"
#include "playerdrive.h"
#include "support/procstatus.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A connection to the running copy; with SOCK_NONBLOCK in flags, one that fails at once
// instead of waiting when the copy's queue is full.
int ConnectRaw(const QString &socketPath, int flags = 0)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int raw = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (::connect(raw, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(raw);
        return -1;
    }
    return raw;
}

long RssKib()
{
    return ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
}

int OpenDescriptors()
{
    return int(QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System).size());
}

// Peak growth of this process's memory while 8 senders stream lists of 32,767 names of
// 4,096 bytes for up to 2 s, and what stays once they are gone.
void FatSenders(const QString &socketPath)
{
    const long before = RssKib();
    std::vector<int> raws;
    std::vector<std::thread> senders;
    for (int i = 0; i < 8; ++i) {
        const int raw = ConnectRaw(socketPath);
        if (raw < 0)
            continue;
        raws.push_back(raw);
        senders.emplace_back([raw] {
            const QByteArray name = QByteArray("\0\0\x10\0", 4) + QByteArray(4096, 'a');
            QByteArray wire = QByteArray("\0\0\x7f\xff", 4) + name;
            while (::send(raw, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL) == wire.size())
                wire = name;
        });
    }
    long peak = before;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        peak = std::max(peak, RssKib());
    }
    // A sender blocked on a full socket wakes up failing.
    for (const int raw : raws)
        ::shutdown(raw, SHUT_RDWR);
    for (std::thread &sender : senders)
        sender.join();
    for (const int raw : raws)
        ::close(raw);
    QTest::qWait(500);
    std::printf("8 senders of 134 MB lists, 2 s:  %8.1f MB more at the peak, %.1f MB after\n",
                double(peak - before) / 1024, double(RssKib() - before) / 1024);
}

// One start after another, each with a list of 256 names of 4 KiB that name no file: the peak
// while they come, and what the running copy still holds once the player has read them all.
void FinishedLists(const QString &socketPath, Player &player, int lists)
{
    QList<QByteArray> names;
    for (int i = 0; i < 256; ++i)
        names.append("/nonexistent/" + QByteArray::number(i) + QByteArray(4076, 'a'));
    const QByteArray wire = kelpa::EncodeFileList(names);
    const long before = RssKib();
    std::atomic<int> answered = 0;
    std::atomic<bool> done = false;
    std::thread starts([&] {
        for (int i = 0; i < lists; ++i) {
            const int raw = ConnectRaw(socketPath);
            char answer[kelpa::kAnswerBytes];
            if (raw >= 0 &&
                ::send(raw, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL) == wire.size() &&
                ::recv(raw, answer, sizeof answer, MSG_WAITALL) == qsizetype(sizeof answer))
                ++answered;
            if (raw >= 0)
                ::close(raw);
        }
        done = true;
    });
    long peak = before;
    while (!done || player.Reading()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        peak = std::max(peak, RssKib());
    }
    starts.join();
    QTest::qWait(500);
    std::printf("%d lists of 1 MiB, one by one: RSS %.1f MB before, %.1f MB at the peak, %.1f MB "
                "after (%d taken)\n",
                lists, double(before) / 1024, double(peak) / 1024, double(RssKib()) / 1024,
                int(answered));
}

void IdleSenders(const QString &socketPath)
{
    const int before = OpenDescriptors();
    std::vector<int> idle;
    for (int i = 0; i < 1500; ++i) {
        const int raw = ConnectRaw(socketPath, SOCK_NONBLOCK);
        if (raw >= 0)
            idle.push_back(raw);
    }
    QTest::qWait(500);
    const int held = OpenDescriptors() - before - int(idle.size());
    for (const int raw : idle)
        ::close(raw);
    std::printf("1,500 idle connections:          %8d descriptors held (%zu connected)\n", held,
                idle.size());
}

} // namespace

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

    // The running copy, as the program runs it: later starts find its lock and its socket.
    kelpa::SingleInstance instance(dir.path());
    Player player(QCoreApplication::applicationDirPath());
    Form1 form(player);
    if (instance.start({}) || !form.Start() || !QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "the player did not start (libvbmp3.so beside the benchmark?)\n");
        return 1;
    }
    if (!instance.serve(player)) {
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
    const QString socketPath = dir.filePath(u"kelpa.files"_s);
    FatSenders(socketPath);
    IdleSenders(socketPath);
    FinishedLists(socketPath, player, 4000);
    return 0;
}
