// The server settings panel. The panel stays above all other windows for the whole run and
// cannot be closed on its own: it ends with the process, when the player window is closed.
//
// It owns the web remote's server (remoteserver.h) and feeds it what its controls hold: the
// port and the listen toggle, the login ID, the page's byte limit; it passes the display format
// of new entries on to the player, and shows the server's caption as its own. Its files:
//   frmsver.cpp        the panel's controls and the values they feed to the server
//   qrwindow.h         the remote's addresses as QR codes and the phones paired, opened from
//                      the address box
// The boxes it brings up (a failed listen, the About box) are modal to the user but shown
// without waiting for them.
#pragma once

#include "control/playercontrol.h"
#include "phonesessions.h"
#include "servertimings.h"

#include <QClipboard>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class Form2;
class QMessageBox;
class QrWindow;
class RemoteServer;
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

    RemoteServer &server() const { return *server_; }

    // A limit set is never below this.
    static constexpr int32_t LeastListByteLimit = 500;
    // The panel's font size, in pixels.
    static constexpr int FontPixels = 11;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void Check1_Click();
    void StartListening();
    void ShowListenFailure(const QString &typed, bool taken);
    void Option1_Click();
    void Option2_Click();
    void ApplyLimitOptions();
    void ApplyByteLimitBox();
    void Text1_Paste(QClipboard::Mode mode);
    void Text1_ContextMenu(const QPoint &position);
    void Text3_Change();
    void Text4_Change();
    void Combo1_Click(int index);
    void Command1_Click();
    // The remote's address for a phone: the address box's tool tip and the QR code window.
    QString RemoteUrl() const; // http://ADDRESS:PORT/ while listening, else empty
    // http://ADDRESS:PORT/m/pair/CODE while listening, else empty.
    QString PairingUrl(PhoneRole role) const;
    void ShowRemoteAddress();
    void ShowQrCode();
    void Text3_ContextMenu(const QPoint &position);

    kelpa::PlayerControl &player_; // takes the display format of new entries
    RemoteServer *server_;         // a child of the panel
    std::unique_ptr<Ui::FrmSver> ui_;
    std::unique_ptr<Form2> form2_;
    QIcon aboutIcon_;
    QrWindow *qrWindow_ = nullptr;        // made at its first opening, a child of the panel
    QPointer<QMessageBox> listenFailure_; // the failed-listen box while it is up
};
