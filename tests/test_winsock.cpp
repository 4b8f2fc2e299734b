// The socket layer against real TCP clients on 127.0.0.1: the members, the state values the
// server relies on (0, 8, 9), and events that come from the event loop, never from inside a
// call and never nested in their own handler.
#include "net/ansi.h"
#include "net/winsock.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A listener on a port of the system's choosing, and a second socket to accept on.
struct Server {
    Winsock listener;
    Winsock connection;
    QSignalSpy requests{&listener, &Winsock::ConnectionRequest};

    bool listen() { return listener.setLocalPort(0) && listener.Listen(); }
    quint16 port() const { return static_cast<quint16>(listener.LocalPort()); }

    // Waits for the next connection request and accepts it.
    bool acceptNext()
    {
        if (requests.isEmpty() && !requests.wait(5000))
            return false;
        return connection.Accept(requests.takeFirst().at(0).value<int32_t>());
    }

    // Listens, connects a client and accepts it on `connection`; null when any step fails.
    std::unique_ptr<QTcpSocket> connectedClient();
};

std::unique_ptr<QTcpSocket> connectTo(quint16 port)
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(u"127.0.0.1"_s, port);
    if (!client->waitForConnected(5000))
        return nullptr;
    return client;
}

std::unique_ptr<QTcpSocket> Server::connectedClient()
{
    if (!listen())
        return nullptr;
    auto client = connectTo(port());
    return client && acceptNext() ? std::move(client) : nullptr;
}

// Waits for the client to have read at least `count` bytes in all, into got; false when they
// do not come within the deadline.
[[nodiscard]] bool readAtLeast(QTcpSocket &client, qsizetype count, QByteArray &got)
{
    got.clear();
    return QTest::qWaitFor(
        [&] {
            got += client.readAll();
            return got.size() >= count;
        },
        5000);
}

} // namespace

class WinsockTest : public QObject {
    Q_OBJECT

private slots:
    void listensOnTheChosenPortOnce();
    void refusesPortsItCannotUse();
    void acceptedDataArrivesWhole();
    void sendCompletesFromTheEventLoop();
    void sentTextIsInTheWireEncoding();
    void peerCloseIsStateEight();
    void resetConnectionEndsInEightOrNine();
    void arrivalIsNotNestedInItsOwnHandler();
    void whatCameBeforeTheAcceptIsReported();
    void droppedRequestIsClosed();
    void acceptNeedsAClosedSocketAndAKnownRequest();
    void closeLetsSentBytesOut();
    void closedListenerKeepsPendingConnections();
};

void WinsockTest::listensOnTheChosenPortOnce()
{
    Server server;
    QCOMPARE(server.listener.State(), int16_t{Winsock::sckClosed});
    QVERIFY(server.listen());
    QCOMPARE(server.listener.State(), int16_t{Winsock::sckListening});
    QVERIFY(server.port() != 0);
    QVERIFY(!server.listener.Listen()); // already listening
    QVERIFY(!server.listener.setLocalPort(1234));

    auto client = connectTo(server.port());
    QVERIFY(client);
    QVERIFY(server.requests.wait(5000));

    server.listener.Close();
    QCOMPARE(server.listener.State(), int16_t{Winsock::sckClosed});
    QVERIFY(!connectTo(server.port()));
}

void WinsockTest::refusesPortsItCannotUse()
{
    Winsock socket;
    QVERIFY(!socket.setLocalPort(65536));
    QVERIFY(!socket.setLocalPort(-1));
    QCOMPARE(socket.LocalPort(), 0);
    QVERIFY(socket.setLocalPort(65535));
    QCOMPARE(socket.LocalPort(), 65535);

    Server taken;
    QVERIFY(taken.listen());
    QVERIFY(socket.setLocalPort(taken.port()));
    QVERIFY(!socket.Listen());
    QCOMPARE(socket.State(), int16_t{Winsock::sckClosed});
    QVERIFY(!Winsock::LocalIP().isEmpty());
}

void WinsockTest::acceptedDataArrivesWhole()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckConnected});

    QSignalSpy arrivals(&server.connection, &Winsock::DataArrival);
    client->write("GET / HTTP/1.0\r\n\r\n");
    QVERIFY(arrivals.wait(5000));
    const int32_t total = arrivals.at(0).at(0).value<int32_t>();
    QCOMPARE(total, 18);
    QByteArray data;
    QCOMPARE(server.connection.GetData(data, total), 18);
    QCOMPARE(data, QByteArray("GET / HTTP/1.0\r\n\r\n"));
    QCOMPARE(server.connection.GetData(data, 10), 0);
    QVERIFY(data.isEmpty());
}

void WinsockTest::sendCompletesFromTheEventLoop()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);

    QSignalSpy complete(&server.connection, &Winsock::SendComplete);
    QVERIFY(server.connection.SendBytes(AnsiEncode(u"hello"_s)));
    QCOMPARE(complete.size(), 0); // not from inside the call
    QVERIFY(complete.wait(5000));
    QByteArray got;
    QVERIFY(readAtLeast(*client, 5, got));
    QCOMPARE(got, QByteArray("hello"));

    // A large answer completes once, after all of it has gone out.
    const QString big(4 * 1024 * 1024, u'x');
    QVERIFY(server.connection.SendBytes(AnsiEncode(big)));
    QVERIFY(readAtLeast(*client, big.size(), got));
    QCOMPARE(got.size(), big.size());
    QTRY_COMPARE(complete.size(), 2);
    QVERIFY2(!QTest::qWaitFor([&] { return complete.size() > 2; }, 50), "completed once");
}

void WinsockTest::sentTextIsInTheWireEncoding()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);
    QVERIFY(server.connection.SendBytes(AnsiEncode(u"□ｱ漢\U0001F600"_s)));
    const QByteArray wire("\x81\xa0\xb1\x8a\xbf&#128512;");
    QByteArray got;
    QVERIFY(readAtLeast(*client, wire.size(), got));
    QCOMPARE(got, wire);
}

void WinsockTest::peerCloseIsStateEight()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);
    QSignalSpy closed(&server.connection, &Winsock::Closed);
    QSignalSpy errors(&server.connection, &Winsock::Error);

    ::shutdown(static_cast<int>(client->socketDescriptor()), SHUT_WR);
    QVERIFY(closed.wait(5000));
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckClosing});
    // The peer shut down only its sending side: it still reads.
    QVERIFY(server.connection.SendBytes(AnsiEncode(u"late answer"_s)));
    QByteArray got;
    QVERIFY(readAtLeast(*client, 11, got));
    QCOMPARE(got, QByteArray("late answer"));
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckClosing}); // until closed here
    QCOMPARE(errors.size(), 0);

    server.connection.Close();
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckClosed});
    QCOMPARE(closed.size(), 1);
}

void WinsockTest::resetConnectionEndsInEightOrNine()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);
    QSignalSpy closed(&server.connection, &Winsock::Closed);
    QSignalSpy errors(&server.connection, &Winsock::Error);

    // Closing with a zero linger time resets the connection instead of ending it.
    const linger resetAtClose{1, 0};
    QCOMPARE(setsockopt(static_cast<int>(client->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                        &resetAtClose, sizeof resetAtClose),
             0);
    client->abort();
    // Whether the reset is seen on reading or on writing, one event says so.
    server.connection.SendBytes(AnsiEncode(QString(1024 * 1024, u'x')));
    QTRY_VERIFY_WITH_TIMEOUT(closed.size() + errors.size() == 1, 5000);
    QCOMPARE(server.connection.State(),
             int16_t(errors.isEmpty() ? Winsock::sckClosing : Winsock::sckError));
    QVERIFY2(!QTest::qWaitFor([&] { return closed.size() + errors.size() > 1; }, 50),
             "one event only");
}

void WinsockTest::arrivalIsNotNestedInItsOwnHandler()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);

    int depth = 0;
    int deepest = 0;
    QByteArray received;
    connect(&server.connection, &Winsock::DataArrival, this, [&](int32_t total) {
        ++depth;
        deepest = qMax(deepest, depth);
        QByteArray data;
        server.connection.GetData(data, total);
        received += data;
        if (received == "first") {
            // More comes while this handler pumps events, as the request handler does.
            client->write("second");
            client->flush();
            QDeadlineTimer deadline(300);
            while (!deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        --depth;
    });
    client->write("first");
    QTRY_COMPARE(received, QByteArray("firstsecond"));
    QCOMPARE(deepest, 1);
}

void WinsockTest::whatCameBeforeTheAcceptIsReported()
{
    Server server;
    QVERIFY(server.listen());
    auto client = connectTo(server.port());
    QVERIFY(client);
    client->write("early");
    client->disconnectFromHost();
    QVERIFY(server.requests.wait(5000));
    // Once the client is closed, the bytes and the end are with the waiting connection.
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);

    QSignalSpy arrivals(&server.connection, &Winsock::DataArrival);
    QSignalSpy closed(&server.connection, &Winsock::Closed);
    QVERIFY(server.acceptNext());
    QTRY_COMPARE(arrivals.size(), 1);
    QByteArray data;
    server.connection.GetData(data, arrivals.at(0).at(0).value<int32_t>());
    QCOMPARE(data, QByteArray("early"));
    QTRY_COMPARE(closed.size(), 1);
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckClosing});
}

void WinsockTest::droppedRequestIsClosed()
{
    Server server;
    QVERIFY(server.listen());
    auto client = connectTo(server.port());
    QVERIFY(client);
    QVERIFY(server.requests.wait(5000));
    const int32_t id = server.requests.takeFirst().at(0).value<int32_t>();
    Winsock::DropRequest(id);
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!server.connection.Accept(id));
}

void WinsockTest::acceptNeedsAClosedSocketAndAKnownRequest()
{
    Server server;
    QVERIFY(server.listen());
    QVERIFY(!server.connection.Accept(12345));
    auto first = connectTo(server.port());
    auto second = connectTo(server.port());
    QVERIFY(first && second);
    QTRY_COMPARE(server.requests.size(), 2);
    const int32_t firstId = server.requests.at(0).at(0).value<int32_t>();
    const int32_t secondId = server.requests.at(1).at(0).value<int32_t>();
    QVERIFY(firstId != secondId);
    QVERIFY(server.connection.Accept(firstId));
    QVERIFY(!server.connection.Accept(secondId)); // busy
    QVERIFY(!server.connection.Accept(firstId));
    server.connection.Close();
    QVERIFY(server.connection.Accept(secondId));

    // The first connection was closed; the second is the one that carries data now.
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    QSignalSpy arrivals(&server.connection, &Winsock::DataArrival);
    second->write("2");
    QVERIFY(arrivals.wait(5000));
}

void WinsockTest::closeLetsSentBytesOut()
{
    Server server;
    auto client = server.connectedClient();
    QVERIFY(client);
    const QString big(8 * 1024 * 1024, u'y');
    QVERIFY(server.connection.SendBytes(AnsiEncode(big)));
    server.connection.Close();
    QCOMPARE(server.connection.State(), int16_t{Winsock::sckClosed});
    QByteArray got;
    QVERIFY(readAtLeast(*client, big.size(), got));
    QCOMPARE(got.size(), big.size());
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
}

void WinsockTest::closedListenerKeepsPendingConnections()
{
    Server server;
    QVERIFY(server.listen());
    auto client = connectTo(server.port());
    QVERIFY(client);
    QVERIFY(server.requests.wait(5000));
    server.listener.Close();
    QVERIFY(server.acceptNext());
    QSignalSpy arrivals(&server.connection, &Winsock::DataArrival);
    client->write("still here");
    QVERIFY(arrivals.wait(5000));
}

QTEST_MAIN(WinsockTest)
#include "test_winsock.moc"
