// The web remote as a user meets it. HTTP clients on 127.0.0.1 (or another 127.0.0.x address
// standing for another machine) run in the test's thread, so the server (also on this thread)
// gets the event loop whenever a client waits. Three ways to stand the remote up:
//   ServerFixture  the server alone, against the fake player: no window at all;
//   PanelFixture   the settings panel with its server, against the fake player;
//   RemoteFixture  the player window started against the fake engine, with the settings panel
//                  its load routine opens, for what the two windows show together.
#pragma once

#include "app/settingswindow.h"
#include "fakeplayercontrol.h"
#include "net/ansi.h"
#include "net/winsock.h"
#include "playerharness.h"
#include "webremote/frmsver.h"
#include "webremote/remoteserver.h"
#include "windowwatch.h"
#include "wirepages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

// One client connection, its bytes collected as they come.
class Client : public QObject {
public:
    // From the given local address: 127.0.0.2 stands for a second machine.
    explicit Client(quint16 port, const QString &from = u"127.0.0.1"_s)
    {
        socket.bind(QHostAddress(from));
        connect(&socket, &QTcpSocket::readyRead, this, [this] { received += socket.readAll(); });
        connect(&socket, &QTcpSocket::disconnected, this, [this] {
            if (socket.isOpen())
                received += socket.readAll();
            closed = true;
        });
        connect(&socket, &QAbstractSocket::errorOccurred, this, [this] { closed = true; });
        socket.connectToHost(u"127.0.0.1"_s, port);
    }

    // Sends once connected (running the event loop until then).
    void send(const QByteArray &bytes)
    {
        QDeadlineTimer deadline(5000);
        while (socket.state() != QAbstractSocket::ConnectedState && !closed &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        socket.write(bytes);
        socket.flush();
    }

    // Runs the event loop until the server has closed the connection (false: not within ms).
    bool waitClosed(int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        while (!closed && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        return closed;
    }

    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};

// A request on a connection of its own to the server on `port`: everything the server sent
// before closing.
inline QByteArray exchangeWith(quint16 port, const QByteArray &request, int ms = 10000,
                               const QString &from = u"127.0.0.1"_s)
{
    Client client(port, from);
    client.send(request);
    client.waitClosed(ms);
    return client.received;
}

inline QByteArray getRequest(const QString &path)
{
    return "GET " + AnsiEncode(path) + " HTTP/1.0\r\n\r\n";
}

// The login number a welcome page leads to; -1 when the answer is no welcome page.
inline int welcomeNumber(const QByteArray &answer)
{
    const QRegularExpressionMatch match =
        QRegularExpression(u"<a href=\"/(\\d+)/\">enter</a>"_s).match(QString::fromLatin1(answer));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The server alone, driving the fake player, listening on a port of the system's choosing.
class ServerFixture {
public:
    explicit ServerFixture(const ServerTimings &timings = {}, RemoteServer::Clock clock = {})
        : server(player, timings, std::move(clock))
    {
        server.setLoginId(u"wuzel"_s);
        if (server.setPort(0) && server.listen())
            port = static_cast<quint16>(server.port());
    }

    QByteArray exchange(const QByteArray &request, int ms = 10000,
                        const QString &from = u"127.0.0.1"_s)
    {
        return exchangeWith(port, request, ms, from);
    }
    QByteArray get(const QString &path, const QString &from = u"127.0.0.1"_s)
    {
        return exchange(getRequest(path), 10000, from);
    }
    // Logs in with the ID; the login number, or -1 when the login failed.
    int login(const QString &id = u"wuzel"_s, const QString &from = u"127.0.0.1"_s)
    {
        return welcomeNumber(get(u"/l.cgi?id="_s + id, from));
    }
    // Adds tracks with these titles to the playlist.
    void addTracks(const QStringList &titles)
    {
        for (const QString &title : titles)
            player.paths.append(title.toUtf8());
    }

    FakePlayerControl player;
    RemoteServer server;
    quint16 port = 0;
};

// A port no socket uses, below the range the system hands out to outgoing connections, so
// that no client of another program takes it before the panel listens on it.
inline quint16 freePort()
{
    const quint16 first = static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(10000));
    for (quint16 port = first; port < 30000; ++port) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

// The settings panel's controls, looked up by name.
class PanelControls {
public:
    template <typename T> T *widget(const char *name) const
    {
        return panel->findChild<T *>(QString::fromLatin1(name));
    }
    QLineEdit *text(int n) const { return widget<QLineEdit>(qPrintable(u"Text%1"_s.arg(n))); }
    QPushButton *check1() const { return widget<QPushButton>("Check1"); }
    QRadioButton *option(int n) const
    {
        return widget<QRadioButton>(qPrintable(u"Option%1"_s.arg(n)));
    }
    QComboBox *combo1() const { return widget<QComboBox>("Combo1"); }
    Winsock *winsock1() const { return widget<Winsock>("Winsock1"); }

    // Replaces a box's text as a user would: select all, type.
    static void retype(QLineEdit *box, const QString &text)
    {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    // Types a free port and presses the listen toggle; the port.
    quint16 listen()
    {
        retype(text(1), QString::number(freePort()));
        QTest::mouseClick(check1(), Qt::LeftButton);
        port = static_cast<quint16>(winsock1()->LocalPort());
        return port;
    }

    QByteArray exchange(const QByteArray &request, int ms = 10000)
    {
        return exchangeWith(port, request, ms);
    }
    QByteArray get(const QString &path) { return exchange(getRequest(path)); }
    int login(const QString &id) { return welcomeNumber(get(u"/l.cgi?id="_s + id)); }

    FrmSver *panel = nullptr;
    quint16 port = 0;
};

// The settings panel and its server over the fake player, as the player's start-up makes it.
class PanelFixture : public PanelControls {
public:
    explicit PanelFixture(const ServerTimings &timings = {})
        : own(std::make_unique<FrmSver>(player, icon(), timings))
    {
        panel = own.get();
        panel->show();
    }

    // The icon the About box shows: the player's, here a plain square.
    static QIcon icon()
    {
        QPixmap square(32, 32);
        square.fill(Qt::darkCyan);
        return QIcon(square);
    }

    FakePlayerControl player;
    std::unique_ptr<FrmSver> own;
};

class RemoteFixture : public PanelControls {
public:
    // The player started as the program starts it, with the settings window its load
    // routine opens.
    explicit RemoteFixture(const QString &engineDir = FakeEngine::completeDir())
        : player(engineDir, [this](Form1 &form) { OpenSettingsOnLoad(form, settings_); })
    {
        panel = settings_.get();
        engine.reset();
    }
    ~RemoteFixture() { settings_.reset(); } // the panel before the player it drives

    // Adds fake tracks with these titles (and no artist) to the playlist by dropping them.
    bool addTracks(const QStringList &titles)
    {
        QStringList paths;
        for (const QString &title : titles) {
            const QString path = u"/music/%1.mp3"_s.arg(trackCount_++);
            engine.addTrack(path.toUtf8(), title.toUtf8(), QByteArray(), 180);
            paths.append(path);
        }
        return player.dropFiles(paths);
    }

private:
    std::unique_ptr<FrmSver> settings_;
    static inline int trackCount_ = 0; // paths unique across the fixtures of a test program

public:
    FakeEngine engine;
    PlayerHarness player;
};

// The body of a response, after its header block.
inline QByteArray bodyOf(const QByteArray &response)
{
    const qsizetype end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

inline QByteArray titleOf(const QByteArray &response)
{
    const QByteArray body = bodyOf(response);
    const qsizetype start = body.indexOf("<title>");
    const qsizetype end = body.indexOf("</title>");
    return start < 0 || end < start ? QByteArray() : body.mid(start + 7, end - start - 7);
}

inline int listedEntries(const QByteArray &response)
{
    return static_cast<int>(bodyOf(response).count("<br><a href=\"p"));
}
