// The server settings panel and the web remote's server. The panel stays above all other
// windows for the whole run and cannot be closed on its own: it ends with the process, when
// the player window is closed.
//
// The server serves one connection at a time on the UI thread: it accepts a connection,
// collects one GET request, answers it in one piece, closes the connection and pauses before
// taking up the next. Nothing in it sleeps or waits on a person: a box that a request's
// command brings up is shown while the answer goes out and the server goes on. It drives the
// player only through kelpa::PlayerControl. Its files:
//   frmsver.cpp        the panel's controls and the values they feed to the server
//   qrwindow.h         the remote's address as a QR code, opened from the address box
//   connections.cpp    accepting, receiving, sending and closing (sockets in net/winsock.h)
//   handlerequest.cpp  what a request asks for, carried out on the player
//   servertimings.h    how long the server waits for what
//   pages.h, request.h the answers' bytes and the reading of requests, without state
#pragma once

#include "control/playercontrol.h"
#include "servertimings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QIcon>
#include <QQueue>
#include <QRandomGenerator>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class Form2;
class QTimer;
class QrWindow;
class Winsock;
namespace Ui {
class FrmSver;
}

class FrmSver : public QWidget {
    Q_OBJECT

public:
    // Runs the panel's load step (everything but showing it). The player outlives it; the
    // About box shows aboutIcon. The server runs with the timings given.
    FrmSver(kelpa::PlayerControl &player, const QIcon &aboutIcon, const ServerTimings &timings = {},
            QWidget *parent = nullptr);
    ~FrmSver() override;

    // The control page body as a request would get it now: the player's caption, the
    // playlist's display strings, cut at ListByteLimit.
    QString BuildControlPage() const;

    // The playlist's part of the control page is cut at this many bytes until the user sets
    // a limit; a limit set is never below the least one.
    static constexpr int32_t DefaultListByteLimit = 5000;
    static constexpr int32_t LeastListByteLimit = 500;
    // Login numbers are drawn from 0 to one below this.
    static constexpr int LoginNumberRange = 10000;
    // The panel's font size, in pixels.
    static constexpr int FontPixels = 11;
    // Connection requests beyond this many waiting for the busy connection are closed at once,
    // and so are those of a peer address that already holds this many places.
    static constexpr qsizetype MaxWaitingConnections = 64;
    static constexpr qsizetype MaxWaitingPerPeer = 4;
    // This many guesses within the miss window lock the remote's logins and controls.
    static constexpr int MaxMisses = 10;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The panel (frmsver.cpp).
    void Form_Load();
    void Check1_Click();
    void StartListening();
    void Option1_Click();
    void Option2_Click();
    void ApplyByteLimitBox();
    void Text3_Change();
    void Text4_Change();
    void Combo1_Click(int index);
    void Command1_Click();
    // The remote's address for a phone: the address box's tool tip and the QR code window.
    QString RemoteUrl() const; // http://ADDRESS:PORT/ while listening, else empty
    void ShowRemoteAddress();
    void ShowQrCode();
    void Text3_ContextMenu(const QPoint &position);

    // Connections (connections.cpp).
    void Winsock1_ConnectionRequest(int32_t requestID);
    void ServeWaitingConnection();
    bool IsIdleSpare() const;
    void RequestTimer_Timeout();
    void EnforceCrowdedDeadline();
    void DropConnection();
    void Winsock2_DataArrival(int32_t bytesTotal);
    void Winsock2_SendComplete();
    void Winsock2_Close();
    void Winsock2_Error();
    void SendPage(const QString &body);
    void SendNotFound();
    void FinishSend();

    // Requests (handlerequest.cpp).
    void HandleRequest();
    void SendLoginPage();
    // Runs a command that drives the player; true: answer with the control page, else 404.
    void RunThenAnswer(const std::function<bool()> &command);
    void SendPendingAnswer(uint64_t request, bool done);
    void CountMiss();
    QString IdleCaption() const;

    kelpa::PlayerControl &player_;
    const ServerTimings timings_;
    std::unique_ptr<Ui::FrmSver> ui_;
    Winsock *Winsock1;
    Winsock *Winsock2;
    std::unique_ptr<Form2> form2_;
    QIcon aboutIcon_;
    QrWindow *qrWindow_ = nullptr; // made at its first opening, a child of the panel

    // Server state.
    QByteArray RecvBuffer; // the bytes received on the current connection, decoded whole
    int16_t LoginNumber = 0;
    bool LoggedIn = false; // until the first login no login number is valid
    QString LoginId;
    int32_t ListByteLimit = 0;
    int16_t SendPending = 0;
    QRandomGenerator random_;
    bool portSet_ = false; // a port from the port box has been given to Winsock1

    QList<qint64> misses_;    // when the recent guesses came, on clock_
    uint64_t requests_ = 0;   // complete requests so far
    uint64_t unanswered_ = 0; // the request whose control page is still to be sent, or 0

    // Connection bookkeeping.
    struct Waiting {
        int32_t requestID;
        QHostAddress peer;
        qint64 since; // on clock_
    };
    QQueue<Waiting> waiting_; // connection requests in order of arrival
    bool answering_ = false;  // from a complete request until its connection is closed
    bool heardFrom_ = false;  // the current connection has sent at least one byte
    QElapsedTimer clock_;
    qint64 acceptedAt_ = 0;   // on clock_: when the current connection was accepted
    qint64 firstByteAt_ = -1; // ... and when its first byte came (at the latest); -1 before
    QTimer *requestTimer_;
    QTimer *crowdedTimer_; // the deadline of a request that others wait behind
    QTimer *spareTimer_;
    QTimer *pauseTimer_;   // the pause after an answer
    QTimer *lockoutTimer_; // runs while logins and controls are locked
};
