// The remote's address as a QR code, for a phone's camera: a small window owned by the settings
// panel, above other windows, with no task bar button. It shows the login page's address as a
// code and as text beneath, or "待機していません" while the server does not listen. The code never
// carries the login ID.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

class QrWindow : public QWidget {
    Q_OBJECT

public:
    explicit QrWindow(QWidget *panel);

    // The address to show, http://ADDRESS:PORT/; empty while the server does not listen.
    void SetAddress(const QString &url);

    // Shows the window beside its panel (the first time) and brings it to the front.
    void Open();

private:
    void Draw();
    void PlaceBesidePanel();

    QString url_;
    QLabel *code_;
    QLabel *text_;
    bool placed_ = false;
};
