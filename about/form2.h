// The About box: the program's name and version, a copyright line, the player's icon, and a
// button that opens the product home page in the desktop's browser. Shown modally by the
// settings panel's information button; "&OK" only hides it, so a later show finds it as it was.
#pragma once

#include <QDialog>
#include <QIcon>

#include <memory>

namespace Ui {
class Form2;
}

class Form2 : public QDialog {
    Q_OBJECT

public:
    // Runs the load step: the icon, the home page address, topmost. owner is the window it
    // is modal to and centred on.
    Form2(const QIcon &playerIcon, QWidget *owner);
    ~Form2() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Command1_Click();
    void Command2_Click();

    std::unique_ptr<Ui::Form2> ui_;
};
