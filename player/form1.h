// The player window: playlist, transport buttons, title/time display and progress bar. It is
// the program's start window: its load routine is the start-up sequence, and closing it ends
// the program.
#pragma once

#include "control/playercontrol.h"
#include "engine/enginelibrary.h"
#include "playlistmodel.h"
#include "transportstate.h"

#include <QLockFile>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class Form1Control;
class QAction;
class QMenu;
class QTimer;
namespace Ui {
class Form1;
}

class Form1 : public QWidget {
    Q_OBJECT

public:
    // programDir is where the engine library is looked for first; lockDir holds the lock
    // that tells a second copy of the program that this one runs (none when it is empty).
    Form1(const QString &programDir, const QString &lockDir, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs the load routine and, when it goes through, shows the window. False when the start
    // was refused: the user has then dismissed the message, and the program is to end.
    bool Start();

    // The player as everything outside its window drives it.
    kelpa::PlayerControl &Control();

    // The operations behind the buttons and the list, also driven by the web remote. All of
    // them run on the UI thread, to completion, and never fail: a failed open shows the
    // "Open Error" box and returns.
    //
    // One transport command by button index (kelpa::Transport): previous, play (or resume
    // when paused), pause (or resume when paused), stop, next. Other values do nothing.
    void Command1_Click(int16_t Index);
    // Opens and plays the selected entry; nothing when no entry is selected.
    void List1_DblClick();
    // Selects the entry at index in the list, or nothing for -1. False, and no change, for an
    // index outside -1 .. ListCount() - 1.
    bool SetListIndex(int index);
    // The selected entry, -1 when none is.
    int ListIndex() const;
    int ListCount() const;
    // The display string of the entry at index; empty outside the list.
    QString ListItem(int index) const;
    // The path of the entry at index as it was added, untrimmed, in the file system's bytes
    // (which need not be UTF-8); empty outside the list.
    QByteArray ListPath(int index) const;
    // The window caption: "kelpa", or "kelpa - " and the title while a track is open.
    QString Caption() const;

    // Player state. All zero or empty until the load routine runs.
    TransportState PlayState;
    int32_t TrackLength = 0;  // seconds
    int32_t PlayPosition = 0; // seconds
    QString TrackTitle;
    QString TrackArtist;
    QString DispTitle; // title and artist joined by " - "
    uint8_t ShowType =
        0; // display format of new entries: 0 title, 1 artist - title, 2 title - artist

    // Design geometry in pixels, measured once by the load routine; the layout scales from it.
    float InitWidth = 0;
    float InitHeight = 0;
    float InitListHeight = 0;
    float InitListWidth = 0;
    float InitButtonTop = 0;
    float InitBarTop = 0;
    float InitDispTop = 0;
    float InitDispWidth = 0;

    // How often the playback monitor looks at the engine.
    static constexpr int kTickMs = 300;
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
    friend class Form1Control;

    bool Form_Load();
    bool AnotherCopyRunning();
    bool EngineMissing();
    void ShowMessage(const QString &text);
    void BuildPopupMenu();
    void SetCaption(const QString &caption);
    // The engine closed the open track: tells whoever drives the player from outside.
    void CloseTrack();

    // The playlist (playlist.cpp).
    std::optional<TrackTags> ReadTags(const QByteArray &name);
    void AddFiles(const QList<QByteArray> &paths);
    void DeleteEntry(int32_t index);
    void List1_FilesDropped(const QList<QByteArray> &paths);
    void List1_DeleteReleased();
    void List1_RightReleased(const QPoint &globalPos);
    void mnuDelate_Click();
    void mnuDelateAll_Click();

    // The window layout (layout.cpp).
    void Form_Resize();

    // The playback monitor and seek bar (monitor.cpp).
    void Timer1_Timer();
    void PictBar_MouseDown(Qt::MouseButton button, float x, float y);

    std::unique_ptr<Ui::Form1> ui_;
    QTimer *Timer1;
    QMenu *mnuPop1;
    QAction *mnuPlay;
    QAction *mnuDelate;
    QAction *mnuDelateAll;
    QAction *mnuLoop;
    // The entries, at the same indices as their display strings in List1: the two always have
    // the same count.
    PlaylistModel List2;
    // The caption as set, which the window title shows exactly.
    QString caption_;
    // The window's width when it was last neither maximized nor as wide as the screen.
    int normalWidth_ = 0;
    // "Open Error" boxes on screen. Timer ticks and socket events go on while one is shown.
    int openErrorBoxes_ = 0;
    // The path of the track the engine has open, as its entry holds it; empty when none is.
    QByteArray openPath_;
    EngineLibrary engine_;
    QLockFile instanceLock_;
    Form1Control *control_;
};
