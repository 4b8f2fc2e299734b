// The server's connections under the ways clients misbehave: waiting, silence, requests that
// never end or end with more bytes, characters split across arrivals, floods, clients that
// leave mid-request or mid-answer, random bytes, and load. The server must answer every
// complete request, keep its memory flat and keep the UI thread running.
#include "remotefixture.h"
#include "support/procstatus.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray LoginRequest = "GET / HTTP/1.0\r\n\r\n";

// What takes the user seconds takes the tests a moment.
const ServerTimings Quick{.requestTimeoutMs = 3000,
                          .crowdedRequestMs = 1000,
                          .sendTimeoutMs = 2000,
                          .spareConnectionMs = 500,
                          .pauseMs = 10};

bool isLoginPage(const QByteArray &response)
{
    return response.startsWith("HTTP/1.0 200 OK\r\n") &&
           response.endsWith("about kelpa</a></h6></div></body></html>");
}

// Runs the event loop for ms milliseconds.
void pump(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

} // namespace

class ConnectionsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondConnectionWaitsForTheFirst();
    void requestInPiecesIsAnsweredAfterTheLastOne();
    void characterSplitAcrossArrivalsSurvives();
    void silentClientThatLeavesFreesTheServer();
    void idleSpareConnectionMakesWayForARequest();
    void idleConnectionAloneIsServedWhenItSpeaks();
    void unfinishedRequestIsDropped_data();
    void unfinishedRequestIsDropped();
    void crowdFromOneAddressLetsAnotherIn_data();
    void crowdFromOneAddressLetsAnotherIn();
    void boxOfThePlayerHoldsNoAnswer();
    void halfClosedCompleteRequestIsServed_data();
    void halfClosedCompleteRequestIsServed();
    void oversizedRequests();
    void clientsThatLeaveMidRequestOrMidAnswer();
    void clientThatNeverReadsItsAnswerIsGivenUp();
    void floodBeyondTheQueueIsTurnedAway_data();
    void floodBeyondTheQueueIsTurnedAway();
    void releasingTheToggleKeepsQueuedAndRunningConnections();
    void loadKeepsMemoryFlatAndTheThreadRunning();
    void floodLeavesTheWindowLive();

private:
    std::unique_ptr<RemoteFixture> remote;
};

void ConnectionsTest::init()
{
    remote = std::make_unique<RemoteFixture>(Quick);
    QVERIFY(remote->player.started);
    remote->port = remote->listen();
    QVERIFY(remote->port != 0);
}

void ConnectionsTest::cleanup()
{
    remote.reset();
}

void ConnectionsTest::secondConnectionWaitsForTheFirst()
{
    Client first(remote->port);
    first.send("GET / HTTP/1.0\r\n");
    pump(200);
    Client second(remote->port);
    second.send(LoginRequest);
    pump(400);
    QVERIFY(first.received.isEmpty());
    QVERIFY(second.received.isEmpty()); // waits for the first connection

    first.send("\r\n");
    QVERIFY(first.waitClosed());
    QVERIFY(isLoginPage(first.received));
    QVERIFY(second.waitClosed());
    QVERIFY(isLoginPage(second.received));
}

void ConnectionsTest::requestInPiecesIsAnsweredAfterTheLastOne()
{
    Client client(remote->port);
    for (const QByteArray &piece :
         {QByteArray("GET /ind"), QByteArray("ex.htm HTTP/1.0\r"), QByteArray("\n\r")}) {
        client.send(piece);
        pump(250);
        QVERIFY(client.received.isEmpty());
        QVERIFY(!client.closed);
        QCOMPARE(remote->panel->windowTitle(), u"kelpa"_s);
    }
    client.send("\n");
    QVERIFY(client.waitClosed());
    QVERIFY(isLoginPage(client.received));
}

void ConnectionsTest::characterSplitAcrossArrivalsSurvives()
{
    remote->text(4)->setText(u"曲"_s); // 0x8B 0xC8
    Client client(remote->port);
    client.send("GET /l.cgi?id=\x8b");
    pump(250);
    client.send("\xc8 HTTP/1.0\r\n\r\n");
    QVERIFY(client.waitClosed());
    QVERIFY2(client.received.contains("welcome to kelpa"), client.received.constData());
}

void ConnectionsTest::silentClientThatLeavesFreesTheServer()
{
    Client silent(remote->port);
    pump(100);
    Client waiting(remote->port);
    waiting.send(LoginRequest);
    pump(100);
    silent.socket.disconnectFromHost();
    QVERIFY(waiting.waitClosed());
    QVERIFY(isLoginPage(waiting.received));
    QVERIFY(silent.received.isEmpty());
}

void ConnectionsTest::idleSpareConnectionMakesWayForARequest()
{
    // A browser's spare connection: open, never used.
    Client spare(remote->port);
    pump(100);
    QElapsedTimer waited;
    waited.start();
    Client request(remote->port);
    request.send(LoginRequest);
    QVERIFY(request.waitClosed());
    QVERIFY(isLoginPage(request.received));
    QVERIFY2(waited.elapsed() < 3000, qPrintable(u"waited %1 ms"_s.arg(waited.elapsed())));
    QVERIFY(spare.waitClosed(1000));
    QVERIFY(spare.received.isEmpty()); // closed without an answer
}

void ConnectionsTest::idleConnectionAloneIsServedWhenItSpeaks()
{
    Client late(remote->port);
    pump(1500); // silent, but nobody else waits
    QVERIFY(!late.closed);
    late.send(LoginRequest);
    QVERIFY(late.waitClosed());
    QVERIFY(isLoginPage(late.received));
}

void ConnectionsTest::unfinishedRequestIsDropped_data()
{
    QTest::addColumn<bool>("othersWait");
    QTest::addColumn<int>("afterMs");
    QTest::newRow("alone: the request timeout") << false << Quick.requestTimeoutMs;
    QTest::newRow("others wait: the short deadline") << true << Quick.crowdedRequestMs;
}

void ConnectionsTest::unfinishedRequestIsDropped()
{
    QFETCH(bool, othersWait);
    QFETCH(int, afterMs);
    QElapsedTimer clock;
    clock.start();
    Client unfinished(remote->port);
    unfinished.send("GET / HTTP/1.0\r\n");
    pump(200);
    std::unique_ptr<Client> waiting;
    if (othersWait) {
        waiting = std::make_unique<Client>(remote->port, u"127.0.0.2"_s);
        waiting->send(LoginRequest);
    }
    QVERIFY(unfinished.waitClosed(afterMs + 3000));
    const qint64 closedAfter = clock.elapsed();
    QVERIFY2(closedAfter > afterMs - 300 && closedAfter < afterMs + 1000,
             qPrintable(u"closed after %1 ms"_s.arg(closedAfter)));
    QVERIFY(unfinished.received.isEmpty());
    if (waiting) {
        QVERIFY(waiting->waitClosed());
        QVERIFY(isLoginPage(waiting->received));
    }
}

void ConnectionsTest::crowdFromOneAddressLetsAnotherIn_data()
{
    QTest::addColumn<int>("crowd");
    QTest::addColumn<int>("answeredWithinMs");
    QTest::newRow("70 one-byte connections") << 70 << 3000;
    QTest::newRow("5 one-byte connections") << 5 << 2600;
}

void ConnectionsTest::crowdFromOneAddressLetsAnotherIn()
{
    QFETCH(int, crowd);
    QFETCH(int, answeredWithinMs);
    remote = std::make_unique<RemoteFixture>(ServerTimings{}); // the program's own timings
    remote->port = remote->listen();
    std::vector<std::unique_ptr<Client>> stalling;
    for (int i = 0; i < crowd; ++i) {
        stalling.push_back(std::make_unique<Client>(remote->port));
        stalling.back()->send("G");
    }
    pump(300);
    QElapsedTimer waited;
    waited.start();
    Client normal(remote->port, u"127.0.0.2"_s);
    normal.send(LoginRequest);
    QVERIFY(normal.waitClosed(15000));
    QVERIFY(isLoginPage(normal.received));
    QVERIFY2(waited.elapsed() < answeredWithinMs,
             qPrintable(u"answered after %1 ms"_s.arg(waited.elapsed())));
}

void ConnectionsTest::boxOfThePlayerHoldsNoAnswer()
{
    QVERIFY(remote->addTracks({u"gone"_s}));
    remote->engine.refuseOpen(remote->trackPath(0).toUtf8()); // deleted since it was added
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);

    // Looked at from within the box's own event loop, as the person at the desktop sees it.
    Client client(remote->port);
    QString shownText;
    bool answeredWhileShown = false;
    bool othersServedWhileShown = false;
    QTimer desktop;
    connect(&desktop, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !shownText.isEmpty())
            return;
        shownText = box->text();
        answeredWhileShown = client.waitClosed(3000) && listedEntries(client.received) == 1;
        othersServedWhileShown = isLoginPage(remote->exchange(LoginRequest, 3000));
        box->button(QMessageBox::Ok)->click();
    });
    desktop.start(50);
    client.send("GET /" + QByteArray::number(number) + "/p0 HTTP/1.0\r\n\r\n");
    QTRY_COMPARE(shownText, u"Open Error"_s);
    QVERIFY(answeredWhileShown);
    QVERIFY(othersServedWhileShown);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(isLoginPage(remote->exchange(LoginRequest)));
}

void ConnectionsTest::halfClosedCompleteRequestIsServed_data()
{
    QTest::addColumn<bool>("queued");
    QTest::newRow("served at once") << false;
    QTest::newRow("queued behind another") << true;
}

void ConnectionsTest::halfClosedCompleteRequestIsServed()
{
    QFETCH(bool, queued);
    QVERIFY(remote->addTracks({u"a"_s}));
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);
    remote->clearLog();
    std::unique_ptr<Client> busy;
    if (queued) {
        busy = std::make_unique<Client>(remote->port, u"127.0.0.2"_s);
        busy->send("GET / HTTP/1.0\r\n");
        pump(200);
    }
    Client halfClosed(remote->port);
    halfClosed.send("GET /" + QByteArray::number(number) + "/3 HTTP/1.0\r\n\r\n");
    ::shutdown(static_cast<int>(halfClosed.socket.socketDescriptor()), SHUT_WR);
    pump(300);
    if (busy)
        busy->send("\r\n");
    QVERIFY(halfClosed.waitClosed());
    QCOMPARE(listedEntries(halfClosed.received), 1);
    QVERIFY(remote->engine.log().contains(u"vbmp3_stop"_s));
}

void ConnectionsTest::oversizedRequests()
{
    // Past 16 KiB without an empty line: the 404 answer, then the connection is closed.
    const QByteArray longLine = "GET /" + QByteArray(17 * 1024, 'a');
    QCOMPARE(remote->exchange(longLine), NotFoundResponse);

    // A megabyte streamed at the server ends its connection; the next request is served.
    Client flood(remote->port);
    flood.send(QByteArray(1024 * 1024, 'x'));
    QVERIFY(flood.waitClosed());
    QVERIFY(flood.received.isEmpty() || flood.received == NotFoundResponse);
    QVERIFY(isLoginPage(remote->exchange(LoginRequest)));

    // An empty line anywhere ends the request: a long body behind it does not hold it up.
    QVERIFY(isLoginPage(remote->exchange(LoginRequest + QByteArray(64 * 1024, 'b'))));
}

void ConnectionsTest::clientsThatLeaveMidRequestOrMidAnswer()
{
    QVERIFY(remote->addTracks(QStringList(2000, QString(128, u'x'))));
    QTest::mouseClick(remote->option(1), Qt::LeftButton, {}, QPoint(5, 5)); // ~320 KB pages
    const int number = remote->login(u"wuzel"_s);

    {
        Client leaving(remote->port);
        leaving.send("GET /" + QByteArray::number(number) + "/ HTTP/1.0\r\n");
        pump(150);
    } // gone mid-request
    QVERIFY(isLoginPage(remote->exchange(LoginRequest)));

    for (int round = 0; round < 3; ++round) {
        Client reader(remote->port);
        reader.socket.setReadBufferSize(1024);
        reader.send("GET /" + QByteArray::number(number) + "/ HTTP/1.0\r\n\r\n");
        QDeadlineTimer deadline(5000);
        while (reader.received.isEmpty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QVERIFY(!reader.received.isEmpty());
        // Gone mid-answer, with a reset.
        const linger resetAtClose{1, 0};
        setsockopt(static_cast<int>(reader.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER,
                   &resetAtClose, sizeof resetAtClose);
        reader.socket.abort();
    }
    const QByteArray page = remote->get(u"/%1/"_s.arg(number));
    QCOMPARE(listedEntries(page), 2000);
    QVERIFY(page.contains("Content-length: " + QByteArray::number(bodyOf(page).size()) + "\r\n"));
}

void ConnectionsTest::clientThatNeverReadsItsAnswerIsGivenUp()
{
    // A page far larger than the kernel's socket buffers: every "&" goes out as "&amp;".
    const QString path = u"/music/ampersands.mp3"_s;
    remote->engine.addTrack(path.toUtf8(), QByteArray(127, '&'), QByteArray(), 180);
    QVERIFY(remote->player.dropFiles(QStringList(20000, path)));
    QTest::mouseClick(remote->option(1), Qt::LeftButton, {}, QPoint(5, 5)); // the whole list
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);

    // A client with a tiny receive window that asks for the page and never reads.
    const int stubborn = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(stubborn >= 0);
    const int window = 4096;
    setsockopt(stubborn, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(remote->port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(stubborn, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray request = "GET /" + QByteArray::number(number) + "/ HTTP/1.0\r\n\r\n";
    QCOMPARE(::send(stubborn, request.constData(), request.size(), 0), request.size());

    // The answer's wait runs nested inside this test's own waiting, so a server that never
    // gives up would never hand control back: that ends the test here.
    QTimer never;
    never.setSingleShot(true);
    connect(&never, &QTimer::timeout, [] { qFatal("the server never gave up the unread answer"); });
    never.start(Quick.sendTimeoutMs * 3);
    // Meanwhile it sends on and on: what the server does not read stays with the sender.
    pump(300); // the page is built
    const long before = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    const QByteArray junk(64 * 1024, 'j');
    qint64 sent = 0;
    for (QDeadlineTimer sending(Quick.sendTimeoutMs / 2); !sending.hasExpired();) {
        const ssize_t n = ::send(stubborn, junk.constData(), junk.size(), MSG_DONTWAIT);
        sent += n > 0 ? n : 0;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const long grown = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:") - before;
    QVERIFY2(grown < 8 * 1024,
             qPrintable(u"%1 KiB sent, grew %2 KiB"_s.arg(sent / 1024).arg(grown)));
    // The next client is served once the stubborn answer is given up.
    QVERIFY(isLoginPage(remote->exchange(LoginRequest, 30000)));
    never.stop();
    ::close(stubborn);
}

void ConnectionsTest::floodBeyondTheQueueIsTurnedAway_data()
{
    QTest::addColumn<int>("addresses");
    QTest::addColumn<int>("admitted");
    QTest::newRow("one address") << 1 << int{FrmSver::MaxWaitingPerPeer};
    QTest::newRow("20 addresses") << 20 << int{FrmSver::MaxWaitingConnections};
}

void ConnectionsTest::floodBeyondTheQueueIsTurnedAway()
{
    QFETCH(int, addresses);
    QFETCH(int, admitted);
    remote = std::make_unique<RemoteFixture>(ServerTimings{.crowdedRequestMs = 10000});
    remote->port = remote->listen();
    Client busy(remote->port);
    busy.send("GET / HTTP/1.0\r\n"); // holds the connection
    pump(200);
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < 80; ++i)
        crowd.push_back(
            std::make_unique<Client>(remote->port, u"127.0.1.%1"_s.arg(1 + i % addresses)));
    // Connections beyond the system's accept backlog retry their handshake after a second.
    pump(3500);
    int turnedAway = 0;
    for (const auto &client : crowd)
        turnedAway += client->closed && client->received.isEmpty() ? 1 : 0;

    QCOMPARE(turnedAway, 80 - admitted);

    crowd.clear(); // the waiting ones leave; their connections are skipped when their turn comes
    busy.send("\r\n");
    QVERIFY(busy.waitClosed());
    QVERIFY(isLoginPage(busy.received));
    QVERIFY(isLoginPage(remote->exchange(LoginRequest)));
}

void ConnectionsTest::releasingTheToggleKeepsQueuedAndRunningConnections()
{
    Client running(remote->port);
    running.send("GET / HTTP/1.0\r\n");
    pump(200);
    Client queued(remote->port);
    queued.send(LoginRequest);
    pump(200);
    QTest::mouseClick(remote->check1(), Qt::LeftButton);
    QVERIFY(!remote->check1()->isChecked());
    running.send("\r\n");
    QVERIFY(running.waitClosed());
    QVERIFY(isLoginPage(running.received));
    QVERIFY(queued.waitClosed());
    QVERIFY(isLoginPage(queued.received));
    // Not listening again behind the released toggle.
    QCOMPARE(remote->winsock1()->State(), int16_t{Winsock::sckClosed});
    Client refused(remote->port);
    QVERIFY(refused.waitClosed(3000));
    QVERIFY(refused.received.isEmpty());
}

void ConnectionsTest::loadKeepsMemoryFlatAndTheThreadRunning()
{
    QVERIFY(remote->addTracks(QStringList(50, u"track"_s)));
    const int number = remote->login(u"wuzel"_s);
    const QString page = u"/%1/"_s.arg(number);

    // A timer stands for the player's own: it must keep ticking while the server works.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this,
            [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    ticker.start(20);

    auto sequential = [&](int count) {
        int answered = 0;
        for (int i = 0; i < count; ++i)
            answered += listedEntries(remote->get(page)) == 50 ? 1 : 0;
        return answered;
    };
    auto concurrent = [&](int count) {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<Client>(remote->port, u"127.0.2.%1"_s.arg(i + 1)));
            clients.back()->send("GET " + page.toLatin1() + " HTTP/1.0\r\n\r\n");
        }
        int answered = 0;
        for (const auto &client : clients)
            answered += client->waitClosed(30000) && listedEntries(client->received) == 50 ? 1 : 0;
        return answered;
    };
    auto randomBytes = [&](int count) {
        QRandomGenerator random(7);
        int completeAnswered = 0;
        int complete = 0;
        for (int i = 0; i < count; ++i) {
            QByteArray junk(random.bounded(1, 2000), Qt::Uninitialized);
            for (char &c : junk)
                c = static_cast<char>(random.bounded(256));
            junk.replace("\r\n\r\n", "\r\n");
            const bool completed = i % 2 == 0;
            if (completed) {
                junk += "\r\n\r\n";
                ++complete;
            }
            Client client(remote->port);
            client.send(junk);
            if (!completed) {
                pump(20);
                client.socket.disconnectFromHost();
            }
            client.waitClosed(15000);
            completeAnswered += completed && client.received.startsWith("HTTP/1.0 ") ? 1 : 0;
        }
        return completeAnswered == complete;
    };

    QCOMPARE(sequential(200), 200);
    QCOMPARE(concurrent(20), 20);
    QVERIFY(randomBytes(40));
    const long before = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
    QCOMPARE(sequential(100), 100);
    QCOMPARE(concurrent(20), 20);
    QVERIFY(randomBytes(40));
    const long after = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
#if defined(__SANITIZE_ADDRESS__) // holds freed memory back, so the resident size says nothing
    Q_UNUSED(before);
    Q_UNUSED(after);
#else
    QVERIFY2(after - before < 4096, qPrintable(u"grew from %1 to %2 KiB"_s.arg(before).arg(after)));
#endif
    QVERIFY2(longestGap < 1000, qPrintable(u"the thread stood still for %1 ms"_s.arg(longestGap)));
}

void ConnectionsTest::floodLeavesTheWindowLive()
{
    remote = std::make_unique<RemoteFixture>(ServerTimings{}); // the program's own pause
    remote->port = remote->listen();
    // How late the thread takes up input (a call handed to it from another thread every
    // 20 ms), and the longest gap between the ticks of a 20 ms timer on it.
    auto lateness = [&](int ms, const std::function<void()> &meanwhile) {
        QList<qint64> delays;
        QElapsedTimer clock;
        clock.start();
        std::atomic<bool> done = false;
        QThread *input = QThread::create([&] {
            while (!done) {
                const qint64 sent = clock.elapsed();
                QMetaObject::invokeMethod(
                    this, [&delays, &clock, sent] { delays.append(clock.elapsed() - sent); },
                    Qt::QueuedConnection);
                QThread::msleep(20);
            }
        });
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer tick;
        connect(&tick, &QTimer::timeout, this,
                [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
        tick.start(20);
        QThread *client = QThread::create(meanwhile);
        input->start();
        client->start();
        pump(ms);
        client->wait();
        done = true;
        input->wait();
        QCoreApplication::processEvents();
        delete client;
        delete input;
        std::sort(delays.begin(), delays.end());
        return std::pair{delays.value(delays.size() / 2), longestGap};
    };
    const auto [quiet, quietGap] = lateness(1000, [] {});
    std::atomic<int> answers = 0;
    const quint16 port = remote->port;
    const auto [flooded, floodGap] = lateness(5000, [&] {
        for (QDeadlineTimer flood(4500); !flood.hasExpired();) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            socket.write("GET /favicon.ico HTTP/1.0\r\n\r\n");
            while (socket.waitForReadyRead(3000) ||
                   socket.state() == QAbstractSocket::ConnectedState) {
                if (socket.readAll().startsWith("HTTP/1.0 404"))
                    ++answers;
            }
        }
    });
    const QString figures =
        u"input late by %1 ms (quiet %2 ms), ticks apart up to %3 ms, %4 answers"_s.arg(flooded)
            .arg(quiet)
            .arg(floodGap)
            .arg(answers.load());
    QVERIFY2(flooded <= quiet + 5, qPrintable(figures));
    QVERIFY2(floodGap < 350, qPrintable(figures));
    QVERIFY2(answers > 10 && answers <= 5 * 11, qPrintable(figures));
}

QTEST_MAIN(ConnectionsTest)
#include "test_connections.moc"
