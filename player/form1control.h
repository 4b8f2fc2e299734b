// The player window as everything outside it sees it: the window implements
// kelpa::PlayerControl through this object, which it owns (a widget cannot also be the
// interface's QObject). Every command goes through the window's own handlers, so a command
// from outside acts exactly as the button or list entry behind it.
#pragma once

#include "control/playercontrol.h"

class Form1;

class Form1Control final : public kelpa::PlayerControl {
    Q_OBJECT

public:
    explicit Form1Control(Form1 &form1);

    QString caption() const override;
    int entryCount() const override;
    QString entryText(int index) const override;
    void run(kelpa::Transport command) override;
    bool playEntry(int index) override;
    void setShowType(uint8_t showType) override;
    int addFiles(const QList<QByteArray> &paths) override;
    kelpa::PlaybackStatus status() const override;
    kelpa::TrackInfo track() const override;
    int32_t position() const override;
    void seek(int32_t seconds) override;
    bool loop() const override;
    void setLoop(bool on) override;
    void raise() override;
    void quit() override;

private:
    Form1 &form1_;
};
