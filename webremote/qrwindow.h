// The remote's pairing address as a QR code, for a phone's camera: a small window owned by the
// settings panel, above other windows, with no task bar button. It shows the address of the
// phone pages' one-time pairing code as a code and as text beneath, with a note that scanning
// logs the phone in, or "待機していません" while the server does not listen. The code never
// carries the login ID; the panel hands over each new pairing address as it is drawn.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

class QrWindow : public QWidget {
    Q_OBJECT

public:
    explicit QrWindow(QWidget *panel);

    // The address to show, http://ADDRESS:PORT/m/pair/CODE; empty while the server does not
    // listen.
    void SetAddress(const QString &url);

    // Shows the window beside its panel (the first time) and brings it to the front.
    void Open();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Draw();
    void PlaceBesidePanel();
    void KeepOnScreen();

    QString url_;
    QLabel *code_;
    QLabel *text_;
    QLabel *note_;
    bool placed_ = false;
};
