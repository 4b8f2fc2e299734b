// Transport control: the five buttons, opening the selected entry, and the menu's play and
// loop items. Previous and next step from the entry last opened (CurrentIndex), not from
// the selection.
#include "form1.h"

#include "form1control.h"
#include "trimblanks.h"
#include "ui_form1.h"

using namespace Qt::Literals::StringLiterals;
using kelpa::Transport;

void Form1::Command1_Click(int16_t Index)
{
    if (Index < int16_t(Transport::Previous) || Index > int16_t(Transport::Next))
        return;
    int32_t position = 0; // not used here
    const int32_t state = engine_.getState(position);
    const int count = ListCount();

    switch (static_cast<Transport>(Index)) {
    case Transport::Previous:
        if (count == 0)
            return;
        CurrentIndex -= 1;
        // Entries deleted since the last open can leave CurrentIndex past the end; the
        // entry before "past the end" is the last one.
        if (CurrentIndex < 0 || CurrentIndex > count - 1)
            CurrentIndex = count - 1;
        SetListIndex(CurrentIndex);
        List1_DblClick();
        return;
    case Transport::Play: // or resume
        if (state == VBMP3_STATE_PAUSED)
            engine_.restart();
        else
            engine_.play();
        IsPlaying = -1;
        emit control_->statusChanged();
        return;
    case Transport::Pause: // or resume
        if (state == VBMP3_STATE_PAUSED)
            engine_.restart();
        else
            engine_.pause();
        emit control_->statusChanged();
        return;
    case Transport::Stop: // the file stays open for the next play
        engine_.stop();
        SetCaption(u"kelpa"_s);
        IsPlaying = 0;
        emit control_->statusChanged();
        return;
    case Transport::Next:
        if (count == 0)
            return;
        CurrentIndex += 1;
        if (count - 1 < CurrentIndex)
            CurrentIndex = 0;
        SetListIndex(CurrentIndex);
        List1_DblClick();
        return;
    }
}

void Form1::List1_DblClick()
{
    const int index = ListIndex();
    if (index == -1)
        return;
    CurrentIndex = index;
    const QByteArray path = List2.at(index);

    engine_.stop();
    engine_.close();
    Vbmp3::OpenRecord record{};
    if (engine_.open(TrimBlanks(path), record) == 0) {
        // The player state stays as it was; the next tick sees the idle engine and tidies up.
        CloseTrack();
        ++openErrorBoxes_;
        ShowMessage(u"Open Error"_s);
        --openErrorBoxes_;
        return;
    }

    TrackLength = record.TotalSeconds;
    PlayPosition = 0;
    TrackTitle = CutAtNull(record.Title);
    TrackArtist = CutAtNull(record.Artist);
    DispTitle = TrackTitle + u" - "_s + TrackArtist; // always this order, whatever ShowType
    SetCaption(u"kelpa - "_s + TrackTitle);
    openPath_ = path;
    emit control_->trackChanged();
    Command1_Click(int16_t(Transport::Play));
}

void Form1::CloseTrack()
{
    if (openPath_.isEmpty())
        return;
    openPath_.clear();
    emit control_->statusChanged();
    emit control_->trackChanged();
}
