// The desktop's media controls and media keys: the player on the session bus as
// org.mpris.MediaPlayer2.kelpa, object /org/mpris/MediaPlayer2, with the root and the Player
// interfaces. Commands act as the window's buttons do, through PlayerControl; changes of the
// status, the track, loop play and the volume go out as PropertiesChanged. Everything runs on the
// UI thread, where Qt D-Bus delivers the calls.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace kelpa {

class PlayerControl;

class MprisService : public QObject {
    Q_OBJECT

public:
    explicit MprisService(PlayerControl &player, QObject *parent = nullptr);

    // Puts the player on the bus. False when there is no bus to reach: the player then runs
    // as it would without the desktop's controls.
    bool start(const QDBusConnection &bus = QDBusConnection::sessionBus());

    PlayerControl &player() const { return player_; }
    // The object path naming the open track, a new one for each track opened; the "no track"
    // path when none is.
    QString trackId() const;
    // The Player interface's Metadata of the open track.
    QVariantMap metadata() const;
    // Tells the bus the volume as it stands: after every change, from any side, and after a
    // write the player could not take (no volume control, or no number), so that the writer
    // sees the level that holds.
    void announceVolume();

private:
    void announce(const QString &interfaceName, const QVariantMap &changed);

    PlayerControl &player_;
    std::optional<QDBusConnection> bus_; // once on the bus
    quint64 trackSerial_ = 0;
};

} // namespace kelpa
