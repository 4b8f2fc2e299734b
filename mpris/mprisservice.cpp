#include "mprisservice.h"

#include "control/playercontrol.h"
#include "mprisplayer.h"
#include "mprisroot.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

namespace {

const QString kObjectPath = u"/org/mpris/MediaPlayer2"_s;
const QString kPlayerInterface = u"org.mpris.MediaPlayer2.Player"_s;

// A URL for any file name's bytes, UTF-8 or not.
QString FileUrl(const QByteArray &path)
{
    return u"file://"_s + QString::fromLatin1(path.toPercentEncoding("/"));
}

} // namespace

MprisService::MprisService(PlayerControl &player, QObject *parent)
    : QObject(parent), player_(player)
{
    new MprisRoot(player, this);
    auto *playerInterface = new MprisPlayer(*this);
    connect(&player, &PlayerControl::statusChanged, this, [this] {
        announce(kPlayerInterface, {{u"PlaybackStatus"_s, PlaybackStatusName(player_.status())}});
    });
    connect(&player, &PlayerControl::trackChanged, this, [this] {
        ++trackSerial_;
        announce(kPlayerInterface, {{u"Metadata"_s, metadata()}});
    });
    connect(&player, &PlayerControl::loopChanged, this, [this] {
        announce(kPlayerInterface, {{u"LoopStatus"_s, LoopStatusName(player_.loop())}});
    });
    connect(&player, &PlayerControl::volumeChanged, this, &MprisService::announceVolume);
    connect(&player, &PlayerControl::seeked, playerInterface, [playerInterface](int32_t seconds) {
        emit playerInterface->Seeked(seconds * 1000000LL);
    });
}

bool MprisService::start(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusConnection connection = bus;
    if (!connection.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    bus_ = connection;
    // A second player of the same name (another user's session bus shared, a test copy) gets
    // the name with its process id, as media players do.
    if (connection.registerService(u"org.mpris.MediaPlayer2.kelpa"_s))
        return true;
    return connection.registerService(
        u"org.mpris.MediaPlayer2.kelpa.instance%1"_s.arg(QCoreApplication::applicationPid()));
}

QString MprisService::trackId() const
{
    if (player_.track().path.isEmpty())
        return u"/org/mpris/MediaPlayer2/TrackList/NoTrack"_s;
    return u"/org/kelpa/track/%1"_s.arg(trackSerial_);
}

QVariantMap MprisService::metadata() const
{
    const TrackInfo track = player_.track();
    QVariantMap map{{u"mpris:trackid"_s, QVariant::fromValue(QDBusObjectPath(trackId()))}};
    if (track.path.isEmpty())
        return map;
    map.insert(u"mpris:length"_s, qlonglong(track.lengthSeconds) * 1000000);
    map.insert(u"xesam:title"_s, track.title);
    map.insert(u"xesam:artist"_s, QStringList{track.artist});
    map.insert(u"xesam:url"_s, FileUrl(track.path));
    return map;
}

void MprisService::announceVolume()
{
    announce(kPlayerInterface, {{u"Volume"_s, VolumeOnTheBus(player_.volume())}});
}

void MprisService::announce(const QString &interfaceName, const QVariantMap &changed)
{
    if (!bus_)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        kObjectPath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
    signal << interfaceName << changed << QStringList();
    bus_->send(signal);
}

} // namespace kelpa
