#include "mprisplayer.h"

#include "mprisservice.h"

#include <QUrl>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

namespace {

constexpr qlonglong kMicroseconds = 1000000;

} // namespace

QString PlaybackStatusName(PlaybackStatus status)
{
    switch (status) {
    case PlaybackStatus::Playing:
        return u"Playing"_s;
    case PlaybackStatus::Paused:
        return u"Paused"_s;
    case PlaybackStatus::Stopped:
        break;
    }
    return u"Stopped"_s;
}

QString LoopStatusName(bool loop)
{
    return loop ? u"Playlist"_s : u"None"_s;
}

double VolumeOnTheBus(int percent)
{
    return percent < 0 ? 1.0 : percent / 100.0;
}

MprisPlayer::MprisPlayer(MprisService &service) : QDBusAbstractAdaptor(&service), service_(service)
{}

PlayerControl &MprisPlayer::player() const
{
    return service_.player();
}

QString MprisPlayer::playbackStatus() const
{
    return PlaybackStatusName(player().status());
}

QString MprisPlayer::loopStatus() const
{
    return LoopStatusName(player().loop());
}

void MprisPlayer::setLoopStatus(const QString &status)
{
    // Repeating one track is no setting of this player: "Track" leaves loop play as it is.
    if (status == u"Playlist"_s || status == u"None"_s)
        player().setLoop(status == u"Playlist"_s);
}

QVariantMap MprisPlayer::metadata() const
{
    return service_.metadata();
}

double MprisPlayer::volume() const
{
    return VolumeOnTheBus(player().volume());
}

void MprisPlayer::setVolume(double volume)
{
    if (player().volume() < 0 || std::isnan(volume)) {
        // Nothing changes: a client that moved its slider already hears where it stays.
        service_.announceVolume();
        return;
    }
    // Below 0 is silence, as the bus's rules ask; above 1 is no more than full.
    player().setVolume(int(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

qlonglong MprisPlayer::position() const
{
    return player().position() * kMicroseconds;
}

void MprisPlayer::Next()
{
    player().run(Transport::Next);
}

void MprisPlayer::Previous()
{
    player().run(Transport::Previous);
}

// The pause button resumes a paused track; Pause on the bus only ever pauses, and Play only
// ever starts or resumes, so that a key press never does the opposite of what it says.
void MprisPlayer::Pause()
{
    if (player().status() == PlaybackStatus::Playing)
        player().run(Transport::Pause);
}

void MprisPlayer::PlayPause()
{
    player().playPause();
}

void MprisPlayer::Stop()
{
    player().run(Transport::Stop);
}

void MprisPlayer::Play()
{
    if (player().status() != PlaybackStatus::Playing)
        player().playPause();
}

void MprisPlayer::Seek(qlonglong Offset)
{
    if (player().status() == PlaybackStatus::Stopped)
        return;
    const qlonglong target = player().position() + std::llround(double(Offset) / kMicroseconds);
    // Past the end is the next track, as the bus's rules ask.
    if (target > player().track().lengthSeconds) {
        player().run(Transport::Next);
        return;
    }
    player().seek(int32_t(std::max(target, 0LL)));
}

void MprisPlayer::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position)
{
    // A position meant for a track that has since changed is dropped.
    if (TrackId.path() != service_.trackId() || Position < 0 ||
        Position > player().track().lengthSeconds * kMicroseconds)
        return;
    player().seek(int32_t(std::llround(double(Position) / kMicroseconds)));
}

void MprisPlayer::OpenUri(const QString &Uri)
{
    const QUrl url(Uri);
    if (!url.isLocalFile())
        return;
    // The URL's own bytes, not its text: a name that is not UTF-8 is percent-encoded in it.
    player().addFiles({QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())});
}

} // namespace kelpa
