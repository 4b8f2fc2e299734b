// The web remote as a user runs it: the player window started against the fake engine, its
// settings panel driven through the panel's own widgets, and HTTP clients on 127.0.0.1 that
// run in the test's thread, so the server (also on this thread) gets the event loop whenever
// a client waits.
#pragma once

#include "app/settingswindow.h"
#include "net/ansi.h"
#include "net/winsock.h"
#include "playerharness.h"
#include "webremote/frmsver.h"
#include "windowwatch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTcpSocket>

// One client connection, its bytes collected as they come.
class Client : public QObject {
public:
    explicit Client(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { received += socket.readAll(); });
        connect(&socket, &QTcpSocket::disconnected, this, [this] {
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

    // Runs the event loop until the server has closed the connection.
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

class RemoteFixture {
public:
    // The player started as the program starts it, with the settings window its load
    // routine opens.
    explicit RemoteFixture(const QString &engineDir = FakeEngine::completeDir())
        : player(engineDir, [this](Form1 &form) { OpenSettingsOnLoad(form, settings_); }),
          panel(settings_.get())
    {
        engine.reset();
    }
    ~RemoteFixture() { settings_.reset(); } // before the player it drives

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

    // Types port 0 (any free port) and presses the listen toggle; the port chosen.
    quint16 listen()
    {
        retype(text(1), u"0"_s);
        QTest::mouseClick(check1(), Qt::LeftButton);
        return static_cast<quint16>(winsock1()->LocalPort());
    }

    // One request on a connection of its own; everything the server sent before closing.
    QByteArray exchange(const QByteArray &request, int ms = 10000)
    {
        Client client(port);
        client.send(request);
        client.waitClosed(ms);
        return client.received;
    }
    QByteArray get(const QString &path)
    {
        return exchange("GET " + AnsiEncode(path) + " HTTP/1.0\r\n\r\n");
    }

    // Logs in with the ID and returns the login number the welcome page leads to; -1 when
    // the login failed.
    int login(const QString &id)
    {
        const QByteArray answer = get(u"/l.cgi?id="_s + id);
        const QRegularExpressionMatch match =
            QRegularExpression(u"<a href=\"/(\\d+)/\">enter</a>"_s)
                .match(QString::fromLatin1(answer));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    // Adds fake tracks with these titles (and no artist) to the playlist by dropping them.
    bool addTracks(const QStringList &titles)
    {
        QStringList paths;
        for (const QString &title : titles) {
            const QString path = u"/music/%1.mp3"_s.arg(trackCount_++);
            engine.addTrack(path.toUtf8(), title.toUtf8(), QByteArray(), 180);
            tracks_.append({path, title});
            paths.append(path);
        }
        return player.dropFiles(paths);
    }

    // The path of the i-th track added.
    QString trackPath(int i) const { return tracks_.value(i).first; }

    // Forgets the engine calls so far; the tracks stay known to the engine.
    void clearLog()
    {
        engine.reset();
        for (const auto &[path, title] : tracks_)
            engine.addTrack(path.toUtf8(), title.toUtf8(), QByteArray(), 180);
    }

private:
    std::unique_ptr<FrmSver> settings_;

public:
    FakeEngine engine;
    PlayerHarness player;
    FrmSver *panel;
    quint16 port = 0;

private:
    static inline int trackCount_ = 0; // paths unique across the fixtures of a test program
    QList<std::pair<QString, QString>> tracks_;
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

inline const QByteArray NotFoundResponse =
    "HTTP/1.0 404 Not found\r\nServer: kelpa/0.01\r\nContent-length: 126\r\nContent-Type: "
    "text/html\r\n\r\n"
    "<html><head><title>HTTP/1.1 404 Not found</title></head><body>HTTP/1.1 404 Not found<br><br>"
    "<a href=\"/\">Home</a></body></html>";

inline const QByteArray LoginErrorResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 128\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>kelpa error</title></head><body><center>login error<br><br>"
    "<a href=\"index.htm\">top</a></center></body></html>";

inline const QByteArray EmptyControlResponse =
    "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: 236\r\nContent-type: "
    "text/html\r\n\r\n"
    "<html><head><title>kelpa</title><META HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\"></head>"
    "<body><center>kelpa<br><a href=\"0\">|&lt;</a> <a href=\"1\">&gt;</a> <a href=\"2\">||</a> "
    "<a href=\"3\">\x81\xa0</a> <a href=\"4\">&gt;|</a><br></center></body></html>";
