// The remote's pairing addresses as QR codes, for a phone's camera, and the phones paired: a
// small window owned by the settings panel, above other windows, with no task bar button. Two
// tabs offer a code each, 操作 (everything the phone pages offer) and ゲスト (choosing a track,
// play/pause, previous and next); the one chosen shows as a code, as text beneath and with a
// note of what scanning gives, or "待機していません" while the server does not listen. Beneath
// them the phones logged in (a name from the browser, the address, the role, when last heard
// from) each have a 切断 button that ends that phone's session at once. The codes never carry
// the login ID; the panel hands over each new pairing address as it is drawn.
#pragma once

#include "phonesessions.h"

#include <QString>
#include <QWidget>

class QLabel;
class QTabBar;
class QTableWidget;
class RemoteServer;

class QrWindow : public QWidget {
    Q_OBJECT

public:
    QrWindow(RemoteServer &server, QWidget *panel);

    // The addresses to show, http://ADDRESS:PORT/m/pair/CODE for each role; empty while the
    // server does not listen.
    void SetAddresses(const QString &operate, const QString &guest);

    // Shows the window beside its panel (the first time) and brings it to the front.
    void Open();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Draw();
    void ShowPhones();
    void PlaceBesidePanel();
    void KeepOnScreen();

    RemoteServer &server_;
    QString urls_[2]; // by PhoneRole
    QTabBar *roles_;
    QLabel *code_;
    QLabel *text_;
    QLabel *note_;
    QLabel *phonesTitle_;
    QTableWidget *phones_;
    QList<quint64> listed_; // the sessions the table's rows show, in order
    bool placed_ = false;
};
