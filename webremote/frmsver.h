// The server settings panel and the web remote's server. The panel stays above all other
// windows for the whole run and cannot be closed on its own: it ends with the process, when
// the player window is closed.
//
// The server serves one connection at a time on the UI thread: it accepts a connection,
// collects one GET request, answers it in one piece and closes the connection. It drives the
// player only through kelpa::PlayerControl. Its files:
//   frmsver.cpp        the panel's controls and the values they feed to the server
//   qrwindow.h         the remote's address as a QR code, opened from the address box
//   connections.cpp    accepting, receiving, sending and closing (sockets in net/winsock.h)
//   handlerequest.cpp  what a request asks for, carried out on the player
//   pages.h, request.h the answers' bytes and the reading of requests, without state
#pragma once

#include "control/playercontrol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIcon>
#include <QQueue>
#include <QRandomGenerator>
#include <QString>
#include <QWidget>

#include <cstdint>
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
    // About box shows aboutIcon.
    FrmSver(kelpa::PlayerControl &player, const QIcon &aboutIcon, QWidget *parent = nullptr);
    ~FrmSver() override;

    // The control page body as a request would get it now: the player's caption, the
    // playlist's display strings, cut at ListByteLimit.
    QString BuildControlPage() const;

    // Connection requests beyond this many waiting for the busy connection are closed at once.
    static constexpr qsizetype MaxWaitingConnections = 64;
    // A connection that has not completed its request this long after it was accepted is
    // closed without an answer.
    static constexpr int RequestTimeoutMs = 10000;
    // An answer not taken by its client within this time is given up.
    static constexpr int SendTimeoutMs = 10000;
    // A connection that has sent nothing at all this long after it was accepted is a browser's
    // spare one; it is closed as soon as another connection waits.
    static constexpr int SpareConnectionMs = 500;

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
    void FinalSteps();

    kelpa::PlayerControl &player_;
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

    // Connection bookkeeping.
    QQueue<int32_t> waiting_;  // connection requests in order of arrival
    bool answering_ = false;   // from a complete request until its connection is closed
    bool heardFrom_ = false;   // the current connection has sent at least one byte
    QElapsedTimer acceptedAt_; // when the current connection was accepted
    QTimer *requestTimer_;
    QTimer *spareTimer_;
};
