// The web remote's server: the HTTP/1.0 remote control that drives the player through
// kelpa::PlayerControl. It serves one connection at a time on the UI thread: it accepts a
// connection, collects one GET request, answers it in one piece, closes the connection and
// pauses before taking up the next. Nothing in it waits: every step is a socket event or a
// timer, so a command that brings up a box, a client that never reads, or a crowd of clients
// holds neither the thread nor the player.
//
// The settings panel (frmsver.h) feeds it the port, the login ID and the page's byte limit, and
// shows its caption. Its files:
//   connections.cpp    accepting, receiving, sending and closing (sockets in net/winsock.h)
//   remotehandler.h    what a request asks for and its answer, on the state kept here
//   servertimings.h    how long the server waits for what
//   pages.h, phonepages.h, request.h  the answers' bytes and the reading of requests
//
// Times come from a clock the server is given (milliseconds, never going back), so that a test
// can move it; the timers only say when to look at it again.
#pragma once

#include "control/playercontrol.h"
#include "remotehandler.h"
#include "servertimings.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QString>

#include <cstdint>
#include <functional>

class QTimer;
class Winsock;

class RemoteServer : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;
    // The player outlives the server. Without a clock, the time since the server was made.
    explicit RemoteServer(kelpa::PlayerControl &player, const ServerTimings &timings = {},
                          Clock clock = {}, QObject *parent = nullptr);
    ~RemoteServer() override;

    // The ID a login must carry; no login succeeds with an empty one. A change ends the login
    // number and every phone session, and replaces the pairing code.
    void setLoginId(const QString &id);
    // The role's one-time code of the pairing address http://ADDRESS:PORT/m/pair/CODE, which
    // logs a phone in without the ID. pairingCodeChanged follows each new one: after each use,
    // after an ID change, and when it lapses.
    QByteArray pairingCode(PhoneRole role = PhoneRole::Operate);
    // The phones logged in, and the end of one of them at once (PhoneSessions::close).
    QList<PhoneSessions::Phone> phones() const { return state_.phones.phones(); }
    void endPhone(quint64 id) { state_.phones.close(id); }
    // The time on the server's clock, which phones' lastUsed is on.
    qint64 now() const { return clock_(); }
    // The control page lists entries while its body stays below this many bytes; -1: all.
    // A connection keeps the limit in force when it was accepted (see connectionAccepted).
    void setListByteLimit(int32_t limit);
    int32_t listByteLimit() const { return state_.listByteLimit; }

    // The port the next listen() uses; false, and the port last set stays, outside 0..65535
    // or while listening. Port 0 lets the system choose.
    bool setPort(int32_t port);
    bool hasPort() const { return portSet_; }
    // Starts listening on the port set (on every interface); false when it cannot, with the
    // reason in listenError().
    bool listen();
    QAbstractSocket::SocketError listenError() const;
    // Stops listening; connections queued or being served are served to the end.
    void stopListening();
    bool isListening() const;
    // While listening, the port in use; otherwise the port set.
    int32_t port() const;

    // "kelpa", "kelpa (処理中)" while a request of the design's pages is answered, "kelpa
    // (ログイン停止中)" while logins are locked.
    QString caption() const { return caption_; }

    // The playlist's part of the control page is cut at this many bytes until a limit is set.
    static constexpr int32_t DefaultListByteLimit = RemoteState::DefaultListByteLimit;
    // At most this many connections wait for the busy connection, and at most this many of
    // one peer address (a browser opens up to six at once); connections whose peer has left
    // are not counted, however recently it left. A connection beyond the first is closed at
    // once; beyond the second, it takes the place of the oldest waiting one of an untrusted
    // address that has sent nothing, or, from a trusted address, of the oldest one of an
    // untrusted address, and is closed at once only when there is none.
    static constexpr qsizetype MaxWaitingConnections = 64;
    static constexpr qsizetype MaxWaitingPerPeer = 6;

signals:
    void captionChanged(const QString &caption);
    void pairingCodeChanged();
    // A connection was accepted. Emitted before anything of it is read, so a handler that
    // sets the byte limit sets it for this connection.
    void connectionAccepted();

private:
    // Connections (connections.cpp).
    void Winsock1_ConnectionRequest(int32_t requestID);
    bool MakeRoom(bool forTrusted);
    void ServeWaitingConnection();
    bool AcceptNext();
    void RecordTurn(const QHostAddress &peer);
    void StartSpareTimer();
    bool IsIdleSpare() const;
    void RequestTimer_Timeout();
    void EnforceCrowdedDeadline();
    void DropConnection();
    void Winsock2_DataArrival(int32_t bytesTotal);
    void Winsock2_SendComplete();
    void Winsock2_Close();
    void Winsock2_Error();
    void SendNotFound();
    void SendBytes(const QByteArray &response);
    void FinishSend();

    // Requests (remoteserver.cpp).
    void HandleRequest();
    void ShowLocks();
    QString IdleCaption() const;
    void setCaption(const QString &caption);
    void RenewPairingCode();

    kelpa::PlayerControl &player_;
    const ServerTimings timings_;
    Winsock *Winsock1;
    Winsock *Winsock2;
    QString caption_;

    // Server state.
    QByteArray RecvBuffer; // the bytes received on the current connection
    bool portSet_ = false; // a port has been given to Winsock1
    Clock clock_;
    RemoteState state_; // on clock_

    // Connection bookkeeping.
    struct Waiting {
        int32_t requestID;
        QHostAddress peer;
        qint64 since; // on clock_: when it asked to connect
    };
    QQueue<Waiting> waiting_; // connection requests in order of arrival
    bool answering_ = false;  // from a complete request until its connection is closed
    bool sending_ = false;    // from handing the answer to the socket until it has gone out
    bool heardFrom_ = false;  // the current connection has sent at least one byte
    bool paced_ = true;       // the answer is followed by the design's pause
    QHostAddress peer_;       // where the current connection comes from
    qint64 connectedAt_ = 0;  // on clock_: when the current connection asked to connect
    qint64 firstByteAt_ = -1; // ... and when its first byte came (at the latest); -1 before
    // Turns taken, for fairness: when each address (an IPv6 network counted as one) was last
    // taken up, on a count of connections taken up; whether the last one was a trusted
    // address's taken up ahead of its turn.
    QHash<QHostAddress, quint64> lastTurn_;
    quint64 turns_ = 0;
    bool trustedWentAhead_ = false;
    QTimer *requestTimer_;
    QTimer *crowdedTimer_; // the deadline of a request that others wait behind
    QTimer *spareTimer_;
    QTimer *sendTimer_;    // the deadline of an answer its client does not take
    QTimer *pauseTimer_;   // the pause after an answer
    QTimer *lockoutTimer_; // fires when the locks in force may next change
    QTimer *pairingTimer_; // fires when the pairing code lapses
};
