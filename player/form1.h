// The player window: playlist, transport buttons, title/time display and progress bar, a view
// of the Player behind it. It is the program's start window: its load routine is the start-up
// sequence, and closing it ends the program. Its handlers are the user's ways into the Player.
#pragma once

#include "control/playercontrol.h"

#include <vbmp3.h> // the engine library's C header (vbmp3/include)

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class Player;
class QAction;
class QFileDialog;
class QMenu;
class QMessageBox;
class QTimer;
namespace Ui {
class Form1;
}

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(Player &player, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs the load routine and, when it goes through, shows the window. False when the start
    // was refused: the user has then dismissed the message, and the program is to end.
    bool Start();

    // The player as everything outside its window drives it.
    kelpa::PlayerControl &Control();

    // How often the playback monitor looks at the engine: as often as gapless play needs.
    static constexpr int kTickMs = VBMP3_TICK_MS;
    // The display strip's font size: its inner area is 12 pixels high.
    static constexpr int kDisplayFontPixels = 11;

signals:
    // The load routine went through: the moment the windows that go with the player open,
    // before the player window itself shows.
    void Loaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool Form_Load();
    // A start-up message: waits for the user, before the event loop runs.
    void ShowMessage(const QString &text);
    // "Open Error", modal to the user but not to the caller; one box at a time.
    void ShowOpenError();
    void BuildPopupMenu();
    void ShowCaption(const QString &caption);
    void Raise();

    // The transport: the buttons, a double-click, Enter and the menu's play item.
    void Command1_Click(int16_t Index);
    void List1_DblClick();

    // The playlist (form1list.cpp).
    void List1_FilesDropped(const QList<QByteArray> &paths);
    void List1_DeleteReleased();
    void List1_RightReleased(const QPoint &globalPos);
    void mnuDelate_Click();
    void mnuDelateAll_Click();
    void mnuLoop_Click(bool checked);
    // Ctrl+O: the desktop's file dialog, whose choice is added as a drop is.
    void ChooseFiles();

    // The window layout (layout.cpp).
    void Form_Resize();

    // The playback monitor and seek bar (form1monitor.cpp).
    void Timer1_Timer();
    void PictBar_MouseDown(Qt::MouseButton button, float x, float y);

    Player &player_;
    std::unique_ptr<Ui::Form1> ui_;
    QTimer *Timer1;
    QMenu *mnuPop1;
    QAction *mnuPlay;
    QAction *mnuDelate;
    QAction *mnuDelateAll;
    QAction *mnuLoop;
    QMessageBox *openErrorBox_ = nullptr; // the one on screen
    QFileDialog *fileDialog_ = nullptr;   // the one on screen
    QString lastFolder_;

    // Design geometry in pixels, measured once by the load routine; the layout scales from it.
    float InitWidth = 0;
    float InitHeight = 0;
    float InitListHeight = 0;
    float InitListWidth = 0;
    float InitButtonTop = 0;
    float InitBarTop = 0;
    float InitDispTop = 0;
    float InitDispWidth = 0;
    // The window's width when it was last neither maximized nor as wide as the screen.
    int normalWidth_ = 0;
};
