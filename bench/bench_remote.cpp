// The web remote's costs.
//  1. Building the control page for a full playlist of 32,767 entries: with no limit, and with
//     the 5000-byte limit; and through the whole limit path (a limit no page reaches) at
//     8,192, 16,384 and 32,767 entries, which must grow in proportion, not with the square.
//     Then the same page gathered from a real player window, and encoded for the wire.
//  2. The latency of a control page request with 1,000 entries, from a client on another
//     thread: connect, send, until the server has closed (the server's 100 ms pause included).
//  3. A flood of requests for 5 s from another thread: how late the UI thread takes up input
//     (a posted call, sampled every 20 ms; median and worst, beside the quiet figures), and
//     answers per second.
//  4. A request that brings up the player's "Open Error" box, whose client then sends for
//     4 s without reading: bytes the system took from it, and the growth of the resident
//     size, with the box still up (closed after 5 s, as by the person at the desktop).
//  5. 70 connections from 127.0.0.1 that send one byte and stay: how long a normal request
//     from 127.0.0.2 waits for its answer.
//
// Usage: bench_remote [requests=30]   (runs offscreen; needs no sound server)
#include "app/settingswindow.h"
#include "net/ansi.h"
#include "net/winsock.h"
#include "playerharness.h"
#include "support/procstatus.h"
#include "webremote/frmsver.h"
#include "webremote/pages.h"
#include "webremote/remoteserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QStringList titles(int count)
{
    QStringList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list.append(i % 2 ? u"Track %1 - Artist Name"_s.arg(i)
                          : u"曲 %1 - 夜明けのスキャット"_s.arg(i));
    return list;
}

// Best of `runs` timings of f, in milliseconds.
template <typename F> double bestMs(int runs, F f)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// Has the player open its settings window into `settings`, as the program does.
std::function<void(Form1 &)> withSettings(std::unique_ptr<FrmSver> &settings)
{
    return [&settings](Form1 &form) { OpenSettingsOnLoad(form, settings); };
}

// Drops fake tracks with these titles onto the player's list.
bool fill(PlayerHarness &player, FakeEngine &engine, const QStringList &entries)
{
    QStringList paths;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QByteArray path = "/bench/" + QByteArray::number(i) + ".mp3";
        engine.addTrack(path, entries.at(i).toUtf8(), "", 200);
        paths.append(QString::fromLatin1(path));
    }
    return player.dropFiles(paths) && player.count() == entries.size();
}

double buildMs(const QStringList &entries, int32_t limit, qsizetype *bytes = nullptr)
{
    QString page;
    const double ms = bestMs(5, [&] {
        page = BuildControlPage(
            u"kelpa - 夜明け"_s, static_cast<int>(entries.size()),
            [&](int i) { return entries.at(i); }, limit);
    });
    if (bytes)
        *bytes = AnsiByteLen(page);
    return ms;
}

// Runs work on a thread of its own while another thread hands the UI thread a call every
// 20 ms, as input comes; prints how late the UI thread took the calls up (median, worst) and
// the longest gap between the ticks of a 20 ms timer on it (the player's monitor ticks so).
void sampleLateness(const char *what, const std::function<void()> &work)
{
    std::vector<qint64> delays;
    QElapsedTimer clock;
    clock.start();
    QObject receiver;
    std::atomic<bool> done = false;
    QThread *input = QThread::create([&] {
        while (!done) {
            const qint64 sent = clock.elapsed();
            QMetaObject::invokeMethod(
                &receiver, [&delays, &clock, sent] { delays.push_back(clock.elapsed() - sent); },
                Qt::QueuedConnection);
            QThread::msleep(20);
        }
    });
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    tick.start(20);
    QEventLoop loop;
    QThread *thread = QThread::create(work);
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    input->start();
    thread->start();
    loop.exec();
    done = true;
    input->wait();
    QCoreApplication::processEvents();
    delete thread;
    delete input;
    std::sort(delays.begin(), delays.end());
    if (delays.empty())
        return;
    std::printf("%s: input taken up late by median %lld ms, worst %lld ms; monitor ticks up to "
                "%lld ms apart\n",
                what, static_cast<long long>(delays[delays.size() / 2]),
                static_cast<long long>(delays.back()), static_cast<long long>(longestGap));
}

// Connects from the given local address; -1 when that fails.
int connectFrom(const char *from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// Sends a request and reads until the server closes; the bytes received.
qint64 exchange(int fd, const QByteArray &request)
{
    if (::send(fd, request.constData(), request.size(), 0) != request.size())
        return 0;
    qint64 total = 0;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        total += n;
    return total;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int requests = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 30;

    const QStringList full = titles(32767);
    qsizetype bytes = 0;
    std::printf("control page, 32767 entries, no limit:    %7.2f ms", buildMs(full, -1, &bytes));
    std::printf("  (%lld bytes)\n", static_cast<long long>(bytes));
    std::printf("control page, 32767 entries, limit 5000:  %7.2f ms", buildMs(full, 5000, &bytes));
    std::printf("  (%lld bytes)\n", static_cast<long long>(bytes));
    for (const int count : {8192, 16384, 32767}) {
        const QStringList entries = full.mid(0, count);
        std::printf("control page, %5d entries, limit never reached: %7.2f ms\n", count,
                    buildMs(entries, std::numeric_limits<int32_t>::max()));
    }
    QString page = BuildControlPage(
        u"kelpa"_s, 32767, [&](int i) { return full.at(i); }, -1);
    std::printf("encoding that page for the wire (response):  %7.2f ms\n",
                bestMs(5, [&] { (void)AnsiEncode(BuildOkResponse(page)); }));

    // Through the player window, with a playlist filled as a user fills it.
    FakeEngine engine;
    {
        std::unique_ptr<FrmSver> settings;
        PlayerHarness player(FakeEngine::completeDir(), withSettings(settings));
        if (!player.started || !fill(player, engine, full)) {
            std::fprintf(stderr, "bench_remote: the player did not take its playlist\n");
            return 1;
        }
        const kelpa::PlayerControl &control = player.control();
        const auto itemAt = [&control](int i) { return control.entryText(i); };
        std::printf("control page from the player window, %d entries, no limit: %7.2f ms\n",
                    player.count(), bestMs(5, [&] {
                        (void)BuildControlPage(control.caption(), control.entryCount(), itemAt, -1);
                    }));
    }

    // Latency with 1,000 entries, the whole list on the page.
    std::unique_ptr<FrmSver> settings;
    PlayerHarness player(FakeEngine::completeDir(), withSettings(settings));
    if (!player.started || !fill(player, engine, full.mid(0, 1000)))
        return 1;
    FrmSver *panel = settings.get();
    panel->findChild<QRadioButton *>(u"Option1"_s)->click();
    // A port that is free now: the panel listens only on a port it is given.
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    panel->findChild<QLineEdit *>(u"Text1"_s)->setText(QString::number(probe.serverPort()));
    probe.close();
    panel->findChild<QPushButton *>(u"Check1"_s)->click();
    const quint16 port =
        static_cast<quint16>(panel->findChild<Winsock *>(u"Winsock1"_s)->LocalPort());
    const QByteArray request = "GET /l.cgi?id=wuzel HTTP/1.0\r\n\r\n";

    // The client runs on a thread of its own, the server on the UI thread as in the program.
    std::vector<double> latencies;
    qsizetype pageBytes = 0;
    QByteArray controlPath;
    QThread *client = QThread::create([&] {
        auto fetch = [&](const QByteArray &sent) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(5000))
                return QByteArray();
            socket.write(sent);
            QByteArray got;
            while (socket.state() == QAbstractSocket::ConnectedState &&
                   socket.waitForReadyRead(10000))
                got += socket.readAll();
            return got + socket.readAll();
        };
        const QByteArray welcome = fetch(request);
        const qsizetype at = welcome.indexOf("<a href=\"/");
        controlPath = welcome.mid(at + 9, welcome.indexOf("\">enter", at) - at - 9);
        for (int i = 0; i < requests; ++i) {
            QElapsedTimer timer;
            timer.start();
            const QByteArray answer = fetch("GET " + controlPath + " HTTP/1.0\r\n\r\n");
            latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            pageBytes = answer.size();
        }
    });
    QEventLoop loop;
    QObject::connect(client, &QThread::finished, &loop, &QEventLoop::quit);
    client->start();
    loop.exec();
    delete client;
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty())
        return 1;
    std::printf("control page request, 1000 entries (%lld bytes), %d requests: "
                "median %.1f ms, min %.1f ms, max %.1f ms\n",
                static_cast<long long>(pageBytes), requests, latencies[latencies.size() / 2],
                latencies.front(), latencies.back());

    sampleLateness("quiet", [] { QThread::msleep(2000); });
    std::atomic<int> answers = 0;
    sampleLateness("flood of 404 requests for 5 s", [&] {
        for (QDeadlineTimer flood(5000); !flood.hasExpired();) {
            const int fd = connectFrom("127.0.0.1", port);
            if (fd >= 0 && exchange(fd, "GET /favicon.ico HTTP/1.0\r\n\r\n") > 0)
                ++answers;
            if (fd >= 0)
                ::close(fd);
        }
    });
    std::printf("answers per second under the flood: %.1f\n", answers.load() / 5.0);

    engine.refuseOpen("/bench/0.mp3"); // as if deleted since it was added
    const long before = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    long grown = 0;
    QTimer desktop;
    QObject::connect(&desktop, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            grown = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:") - before;
            box->button(QMessageBox::Ok)->click();
        }
    });
    desktop.start(5000);
    qint64 taken = 0;
    QThread *sender = QThread::create([&] {
        const int fd = connectFrom("127.0.0.1", port);
        const QByteArray playGone = "GET " + controlPath + "p0 HTTP/1.0\r\n\r\n";
        if (fd < 0 || ::send(fd, playGone.constData(), playGone.size(), 0) != playGone.size())
            return;
        const QByteArray junk(64 * 1024, 'j');
        for (QDeadlineTimer sending(4000); !sending.hasExpired();) {
            const ssize_t n =
                ::send(fd, junk.constData(), junk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                taken += n;
            else
                QThread::msleep(1);
        }
        ::close(fd);
    });
    QObject::connect(sender, &QThread::finished, &loop, &QEventLoop::quit);
    sender->start();
    loop.exec();
    delete sender;
    while (grown == 0 && QApplication::activeModalWidget())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::printf("sender behind an Open Error box: %lld KiB taken from it, resident size grew "
                "%ld KiB\n",
                static_cast<long long>(taken / 1024), grown);
    double waitedMs = -1;
    QThread *crowd = QThread::create([&] {
        std::vector<int> stalling;
        for (int i = 0; i < 70; ++i) {
            const int fd = connectFrom("127.0.0.1", port);
            if (fd >= 0 && ::send(fd, "G", 1, 0) == 1)
                stalling.push_back(fd);
        }
        QThread::msleep(300);
        QElapsedTimer waited;
        waited.start();
        const int fd = connectFrom("127.0.0.2", port);
        const timeval limit{120, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (fd >= 0 && exchange(fd, "GET / HTTP/1.0\r\n\r\n") > 0)
            waitedMs = static_cast<double>(waited.nsecsElapsed()) / 1e6;
        if (fd >= 0)
            ::close(fd);
        for (const int stalled : stalling)
            ::close(stalled);
    });
    QObject::connect(crowd, &QThread::finished, &loop, &QEventLoop::quit);
    crowd->start();
    loop.exec();
    delete crowd;
    if (waitedMs < 0)
        std::printf("normal request beside 70 one-byte connections: refused, no answer\n");
    else
        std::printf("normal request beside 70 one-byte connections: answered after %.0f ms\n",
                    waitedMs);

    return 0;
}
