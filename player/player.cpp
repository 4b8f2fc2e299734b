#include "player.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

Player::Player(const QString &programDir, QObject *parent)
    : kelpa::PlayerControl(parent), engine_(programDir), selection_(&List2),
      loader_([this](const QByteArray &name) { return ReadTags(name); }, kelpa::MaxEntries),
      pictures_([this](const QByteArray &path) {
          return engine_.getPicture(path, kelpa::MaxPictureBytes);
      }),
      caption_(u"kelpa"_s)
{
    connect(&loader_, &PlaylistLoader::entriesRead, this, &Player::EntriesRead);
    // The open track's entry follows its row as entries come and go.
    connect(&List2, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                ++revision_;
                if (openEntry_ >= first)
                    openEntry_ += last - first + 1;
            });
    connect(&List2, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                ++revision_;
                if (openEntry_ > last)
                    openEntry_ -= last - first + 1;
                else if (openEntry_ >= first)
                    openEntry_ = -1;
            });
    connect(&loader_, &PlaylistLoader::finished, this, [this](int job) {
        playFirstRead_.remove(job);
        if (!loader_.Busy())
            emit filesAdded();
    });
}

Player::~Player() = default;

bool Player::EngineMissing()
{
    return !engine_.init();
}

void Player::Load()
{
    PlayState.CurrentIndex = -1;
    PlayState.IsPlaying = false;
}

void Player::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    loader_.Stop(); // no tags are read from the engine once it is gone
    pictures_.Stop();
    engine_.stop();
    engine_.end(); // every engine call after this one is a no-op
}

int Player::ListIndex() const
{
    const QModelIndex current = selection_.currentIndex();
    return current.isValid() && selection_.isSelected(current) ? current.row() : -1;
}

bool Player::SetListIndex(int index)
{
    if (index < -1 || index >= entryCount())
        return false;
    if (index < 0)
        selection_.clear();
    else
        selection_.setCurrentIndex(List2.index(index), QItemSelectionModel::ClearAndSelect);
    return true;
}

int32_t Player::EngineState(int32_t &seconds) const
{
    return engine_.getState(seconds);
}

std::optional<TrackTags> Player::ReadTags(const QByteArray &name)
{
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    if (engine_.getFileInfo(name, tag, stream) == 0)
        return std::nullopt;
    return TrackTags{CutAtNull(tag.Title), CutAtNull(tag.Artist)};
}

void Player::dropFiles(const QList<QByteArray> &paths)
{
    loader_.Add(paths, ShowType);
}

void Player::EntriesRead(int job, const QList<PlaylistEntry> &entries)
{
    const int first = entryCount();
    List2.Append(entries);
    if (playFirstRead_.remove(job) && entryCount() > first &&
        status() == kelpa::PlaybackStatus::Stopped)
        playEntry(first);
}

void Player::DeleteEntry(int32_t index)
{
    if (index < 0 || index >= entryCount())
        return;
    const bool wasSelected = index == ListIndex();
    List2.Remove(index);
    loader_.Freed(1);
    // The selection model would make a neighbour of a removed row current; here a deletion
    // selects nothing, so that a second Delete does not remove an entry never chosen.
    if (wasSelected)
        SetListIndex(-1);
}

void Player::DeleteAll()
{
    // Last entry first, so that no index moves under the loop.
    for (int i = entryCount() - 1; i >= 0; --i)
        DeleteEntry(i);
}

void Player::SetCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    emit captionChanged(caption_);
}

QString Player::DispTitle() const
{
    return track_.title + u" - "_s + track_.artist; // always this order, whatever ShowType
}

void Player::OpenErrorAnswered()
{
    openErrorUnanswered_ = false;
}

void Player::setShowType(uint8_t showType)
{
    ShowType = showType;
}

void Player::setLoop(bool on)
{
    if (on == loop_)
        return;
    loop_ = on;
    emit loopChanged();
}

int Player::volume() const
{
    return engine_.hasVolume() ? engine_.getVolume() : -1;
}

void Player::setVolume(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent > 0)
        muted_ = false;
    if (!engine_.hasVolume() || percent == volume())
        return;
    engine_.setVolume(percent);
    emit volumeChanged(percent);
}

void Player::volumeUp()
{
    if (muted())
        toggleMute();
    else if (volume() >= 0)
        setVolume(volume() + kelpa::VolumeStep);
}

void Player::volumeDown()
{
    if (volume() > 0)
        setVolume(volume() - kelpa::VolumeStep);
}

void Player::toggleMute()
{
    const int level = volume();
    if (level < 0)
        return;
    if (muted()) {
        setVolume(unmutedVolume_);
        return;
    }
    unmutedVolume_ = level;
    setVolume(0);
    muted_ = true;
}

bool Player::muted() const
{
    // A mixer that raised kelpa's level meanwhile has ended the mute.
    return muted_ && volume() == 0;
}

void Player::raise()
{
    emit raiseRequested();
}

void Player::quit()
{
    emit quitRequested();
}
