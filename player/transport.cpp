// Transport control: the five commands, opening the selected entry, and what the remotes ask
// of the transport. Previous and next step from the entry last opened (TransportState), not
// from the selection.
#include "player.h"

#include "trimblanks.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using kelpa::Transport;

void Player::run(Transport command)
{
    int32_t position = 0; // not used here
    const int32_t state = EngineState(position);
    const int count = entryCount();

    switch (command) {
    case Transport::Previous:
        if (count == 0)
            return;
        SetListIndex(PlayState.StepBack(count));
        OpenSelected();
        return;
    case Transport::Play: // or resume
        if (state == VBMP3_STATE_PAUSED)
            engine_.restart();
        else
            engine_.play();
        PlayState.IsPlaying = true;
        // After a stop the caption said nothing plays; an open track plays again now.
        if (!track_.path.isEmpty())
            SetCaption(u"kelpa - "_s + track_.title);
        emit statusChanged();
        return;
    case Transport::Pause: // or resume
        if (state == VBMP3_STATE_PAUSED)
            engine_.restart();
        else
            engine_.pause();
        emit statusChanged();
        return;
    case Transport::Stop: // the file stays open for the next play
        engine_.stop();
        SetCaption(u"kelpa"_s);
        PlayState.IsPlaying = false;
        emit statusChanged();
        return;
    case Transport::Next:
        if (count == 0)
            return;
        SetListIndex(PlayState.StepForward(count));
        OpenSelected();
        return;
    }
}

void Player::OpenSelected()
{
    const int index = ListIndex();
    if (index == -1)
        return;
    PlayState.CurrentIndex = index;
    const QByteArray path = List2.Path(index);

    engine_.stop();
    engine_.close();
    EngineLibrary::OpenRecord record{};
    const QByteArray file = TrimBlanks(path);
    if (engine_.open(file, record) == 0) {
        // The player state stays as it was; the next tick sees the idle engine and tidies up.
        CloseTrack();
        ++failedOpens_;
        openErrorUnanswered_ = true;
        emit openFailed(path);
        return;
    }

    track_ = {path, CutAtNull(record.Title), CutAtNull(record.Artist), record.TotalSeconds};
    List2.SetLength(index, record.TotalSeconds);
    openEntry_ = index;
    pictures_.Open(file);
    failedOpens_ = 0;
    SetCaption(u"kelpa - "_s + track_.title);
    emit trackChanged();
    run(Transport::Play);
}

void Player::CloseTrack()
{
    openEntry_ = -1;
    if (track_.path.isEmpty())
        return;
    track_ = {};
    pictures_.Close();
    emit statusChanged();
    emit trackChanged();
}

void Player::playPause()
{
    if (status() != kelpa::PlaybackStatus::Stopped)
        run(Transport::Pause); // which also resumes
    else if (track_.path.isEmpty() && entryCount() > 0)
        playEntry(std::max(ListIndex(), 0)); // play has no open track to play
    else
        run(Transport::Play);
}

bool Player::playEntry(int index)
{
    if (!SetListIndex(index))
        return false;
    OpenSelected(); // nothing for -1
    return true;
}

void Player::addFiles(const QList<QByteArray> &paths)
{
    playFirstRead_.insert(loader_.Add(paths, ShowType));
}

kelpa::PlaybackStatus Player::status() const
{
    int32_t seconds = 0;
    switch (EngineState(seconds)) {
    case VBMP3_STATE_IDLE:
        return kelpa::PlaybackStatus::Stopped;
    case VBMP3_STATE_PAUSED:
        return kelpa::PlaybackStatus::Paused;
    default:
        return kelpa::PlaybackStatus::Playing;
    }
}

kelpa::TrackInfo Player::track() const
{
    return track_;
}

int32_t Player::position() const
{
    // The engine is the one source of the position; a tick shows what it answers then.
    int32_t seconds = 0;
    return EngineState(seconds) == VBMP3_STATE_IDLE ? 0 : seconds;
}

void Player::seek(int32_t seconds)
{
    int32_t position = 0;
    if (EngineState(position) == VBMP3_STATE_IDLE)
        return;
    seconds = std::clamp(seconds, 0, std::max(TrackLength(), 0));
    engine_.seek(seconds);
    emit seeked(seconds);
}
