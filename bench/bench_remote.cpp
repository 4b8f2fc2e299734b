// The web remote's costs.
//  1. Building the control page for a full playlist of 32,767 entries: with no limit, and with
//     the 5000-byte limit; and through the whole limit path (a limit no page reaches) at
//     8,192, 16,384 and 32,767 entries, which must grow in proportion, not with the square.
//     Then the same page gathered from a real player window, and encoded for the wire.
//  2. The latency of a control page request with 1,000 entries, from a client on another
//     thread: connect, send, until the server has closed (the server's 100 ms pause included).
//
// Usage: bench_remote [requests=30]   (runs offscreen; needs no sound server)
#include "app/settingswindow.h"
#include "net/ansi.h"
#include "net/winsock.h"
#include "playerharness.h"
#include "webremote/frmsver.h"
#include "webremote/pages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

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
    return player.dropFiles(paths) && player.form->ListCount() == entries.size();
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
        FrmSver *panel = settings.get();
        panel->findChild<QRadioButton *>(u"Option1"_s)->click();
        std::printf("control page from the player window, %d entries, no limit: %7.2f ms\n",
                    player.form->ListCount(), bestMs(5, [&] { (void)panel->BuildControlPage(); }));
    }

    // Latency with 1,000 entries, the whole list on the page.
    std::unique_ptr<FrmSver> settings;
    PlayerHarness player(FakeEngine::completeDir(), withSettings(settings));
    if (!player.started || !fill(player, engine, full.mid(0, 1000)))
        return 1;
    FrmSver *panel = settings.get();
    panel->findChild<QRadioButton *>(u"Option1"_s)->click();
    panel->findChild<QLineEdit *>(u"Text1"_s)->setText(u"0"_s);
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
    return 0;
}
