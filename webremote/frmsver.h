// The server settings window. It stays above all other windows for the whole run and cannot
// be closed on its own: it ends with the process, when the player window is closed.
#pragma once

#include <QWidget>

class FrmSver : public QWidget
{
    Q_OBJECT

public:
    explicit FrmSver(QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
};
