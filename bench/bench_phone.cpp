// The phone pages' costs.
//  1. Building the player page for playlists of 100 and 32,767 entries (the open track last,
//     so that finding its entry walks the whole list): time per build (median of 21) and bytes.
//  2. The latency of /m/state from a client on another thread: connect, send, until the server
//     has closed (requests spaced by the server's 100 ms pause, which is not counted).
//  3. The UI thread's CPU time over 10 s while one phone keeps the live page open (a state
//     request each second, as its script sends them), beside 10 s without it, in % of a core.
//
// Usage: bench_phone   (runs offscreen; needs no sound server)
#include "fakeplayercontrol.h"
#include "webremote/phonepages.h"
#include "webremote/remoteserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void fill(FakePlayerControl &player, int count)
{
    player.paths.clear();
    for (int i = 0; i < count; ++i)
        player.paths.append("/music/曲 " + QByteArray::number(i) + " - 夜明けのスキャット.mp3");
    player.playEntry(count - 1);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One request on a connection of its own, from the calling thread; the whole answer.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        write(fd, request.constData(), size_t(request.size())) == request.size()) {
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
            answer.append(buffer, got);
    }
    close(fd);
    return answer;
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Runs the event loop for ms; the UI thread's CPU seconds meanwhile.
double cpuWhileRunning(int ms)
{
    const double before = threadCpuSeconds();
    QTimer::singleShot(ms, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return threadCpuSeconds() - before;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FakePlayerControl player;

    std::printf("player page (the open track last in the list):\n");
    for (const int count : {100, 32767}) {
        fill(player, count);
        std::vector<double> ms;
        QByteArray page;
        for (int run = 0; run < 21; ++run) {
            QElapsedTimer timer;
            timer.start();
            page = PhonePlayerPage(player, 0, player.currentEntry(), "token");
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::printf("  %5d entries: %.3f ms, %lld bytes\n", count, median(ms),
                    static_cast<long long>(page.size()));
    }

    fill(player, 1000);
    RemoteServer server(player);
    server.setLoginId(u"wuzel"_s);
    if (!server.setPort(0) || !server.listen()) {
        std::fprintf(stderr, "bench_phone: cannot listen\n");
        return 1;
    }
    const auto port = static_cast<quint16>(server.port());

    // The client's thread: log in, then the state requests, timed.
    std::vector<double> latencies;
    std::atomic<bool> polling = true;
    QThread *client = QThread::create([&] {
        // The login form's token first, as a phone reads it off the login page.
        const QByteArray form = exchange(port, "GET /m/ HTTP/1.0\r\n\r\n");
        const qsizetype value = form.indexOf("name=\"t\" value=\"") + 16;
        const QByteArray body =
            "t=" + form.mid(value, form.indexOf('"', value) - value) + "&id=wuzel";
        const QByteArray login =
            exchange(port, "POST /m/login HTTP/1.0\r\nContent-Type: "
                           "application/x-www-form-urlencoded\r\n"
                           "Content-Length: " +
                               QByteArray::number(body.size()) + "\r\n\r\n" + body);
        const qsizetype at = login.indexOf("kelpa_m=");
        const QByteArray cookie = login.mid(at, login.indexOf(';', at) - at);
        const QByteArray request = "GET /m/state HTTP/1.0\r\nCookie: " + cookie + "\r\n\r\n";
        for (int i = 0; i < 30; ++i) {
            QThread::msleep(150);
            QElapsedTimer timer;
            timer.start();
            exchange(port, request);
            latencies.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        // One phone keeps the live page open: a state request each second.
        while (polling) {
            exchange(port, request);
            QThread::msleep(1000);
        }
    });
    client->start();
    // Latency first (about 5 s), then the live page for 10 s.
    cpuWhileRunning(6000);
    std::printf("/m/state latency (1,000 entries): median %.2f ms, worst %.2f ms\n",
                median(latencies), *std::max_element(latencies.begin(), latencies.end()));
    const double live = cpuWhileRunning(10000);
    polling = false;
    cpuWhileRunning(1500); // the client's last request
    client->wait();
    delete client;
    const double quiet = cpuWhileRunning(10000);
    std::printf("UI thread CPU over 10 s: %.4f %% of a core with a live phone page, %.4f %% "
                "without; %.4f %% more (target under 0.1 %%)\n",
                live * 10, quiet * 10, (live - quiet) * 10);
    return 0;
}
