#include "form1control.h"

#include "form1.h"

#include <QAction>

#include <algorithm>

Form1Control::Form1Control(Form1 &form1) : kelpa::PlayerControl(&form1), form1_(form1) {}

QString Form1Control::caption() const
{
    return form1_.Caption();
}

int Form1Control::entryCount() const
{
    return form1_.ListCount();
}

QString Form1Control::entryText(int index) const
{
    return form1_.ListItem(index);
}

void Form1Control::run(kelpa::Transport command)
{
    form1_.Command1_Click(static_cast<int16_t>(command));
}

bool Form1Control::playEntry(int index)
{
    if (!form1_.SetListIndex(index))
        return false;
    form1_.List1_DblClick(); // nothing for -1
    return true;
}

void Form1Control::setShowType(uint8_t showType)
{
    form1_.ShowType = showType;
}

int Form1Control::addFiles(const QList<QByteArray> &paths)
{
    const int before = form1_.ListCount();
    form1_.List1_FilesDropped(paths);
    const int added = form1_.ListCount() - before;
    if (added > 0 && status() == kelpa::PlaybackStatus::Stopped)
        playEntry(before);
    return added;
}

kelpa::PlaybackStatus Form1Control::status() const
{
    int32_t seconds = 0;
    switch (form1_.engine_.getState(seconds)) {
    case VBMP3_STATE_IDLE:
        return kelpa::PlaybackStatus::Stopped;
    case VBMP3_STATE_PAUSED:
        return kelpa::PlaybackStatus::Paused;
    default:
        return kelpa::PlaybackStatus::Playing;
    }
}

kelpa::TrackInfo Form1Control::track() const
{
    if (form1_.openPath_.isEmpty())
        return {};
    return {form1_.openPath_, form1_.TrackTitle, form1_.TrackArtist, form1_.TrackLength};
}

int32_t Form1Control::position() const
{
    int32_t seconds = 0;
    return form1_.engine_.getState(seconds) == VBMP3_STATE_IDLE ? 0 : seconds;
}

void Form1Control::seek(int32_t seconds)
{
    if (status() == kelpa::PlaybackStatus::Stopped)
        return;
    const int32_t target = std::clamp(seconds, 0, std::max(form1_.TrackLength, 0));
    form1_.engine_.seek(target);
    emit seeked(target);
}

bool Form1Control::loop() const
{
    return form1_.mnuLoop->isChecked();
}

void Form1Control::setLoop(bool on)
{
    form1_.mnuLoop->setChecked(on); // the menu item tells of the change
}

void Form1Control::raise()
{
    if (form1_.isMinimized())
        form1_.showNormal();
    form1_.QWidget::raise();
    form1_.activateWindow();
}

void Form1Control::quit()
{
    form1_.close();
}
