// The player window: playlist, transport buttons, title/time display and progress bar. It is
// the program's start window: its load routine is the start-up sequence, and closing it ends
// the program.
#pragma once

#include "engine/vbmp3.h"

#include <QLockFile>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class FrmSver;
class QTimer;
namespace Ui {
class Form1;
}

class Form1 : public QWidget
{
    Q_OBJECT

public:
    // programDir is where the engine library is looked for first; lockDir holds the lock
    // that tells a second copy of the program that this one runs.
    Form1(const QString &programDir, const QString &lockDir, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs the load routine and, when it goes through, shows the window. False when the start
    // was refused: the user has then dismissed the message, and the program is to end.
    bool Start();

    // The settings window opened by the load routine; null before it ran.
    FrmSver *SettingsWindow() const { return frmSver_.get(); }

    // Player state. All zero or empty until the load routine runs.
    int32_t CurrentIndex = 0; // playlist index last opened for playing; -1 = none yet
    int16_t IsPlaying = 0;    // 16-bit truth value: -1 while a started track is meant to run
    int32_t TrackLength = 0;  // seconds
    int32_t PlayPosition = 0; // seconds
    QString TrackTitle;
    QString TrackArtist;
    QString DispTitle; // title and artist joined by " - "
    uint8_t ShowType = 0; // display format of new entries: 0 title, 1 artist - title, 2 title - artist

    // Design geometry in pixels, measured once by the load routine; the layout scales from it.
    float InitWidth = 0;
    float InitHeight = 0;
    float InitListHeight = 0;
    float InitListWidth = 0;
    float InitButtonTop = 0;
    float InitBarTop = 0;
    float InitDispTop = 0;
    float InitDispWidth = 0;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool Form_Load();
    bool AnotherCopyRunning();
    bool EngineMissing();
    void ShowMessage(const QString &text);

    std::unique_ptr<Ui::Form1> ui_;
    QTimer *Timer1;
    Vbmp3 engine_;
    QLockFile instanceLock_;
    std::unique_ptr<FrmSver> frmSver_;
};
