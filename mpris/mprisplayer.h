// The Player interface, org.mpris.MediaPlayer2.Player: the transport commands, seeking, the
// open track's metadata, loop play and the volume. Positions and lengths on the bus are
// microseconds; the player counts whole seconds.
#pragma once

#include "control/playercontrol.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QVariantMap>

namespace kelpa {

class MprisService;

// "Playing", "Paused" or "Stopped".
QString PlaybackStatusName(PlaybackStatus status);
// Loop play on is "Playlist": from the last entry the player goes on with the first.
QString LoopStatusName(bool loop);
// The player's volume in percent as the bus's 0.0 .. 1.0; 1.0 without volume control (-1).
double VolumeOnTheBus(int percent);

class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canControl)
    Q_PROPERTY(bool CanGoPrevious READ canControl)
    Q_PROPERTY(bool CanPlay READ canControl)
    Q_PROPERTY(bool CanPause READ canControl)
    Q_PROPERTY(bool CanSeek READ canControl)
    Q_PROPERTY(bool CanControl READ canControl)

public:
    explicit MprisPlayer(MprisService &service);

    QString playbackStatus() const;
    QString loopStatus() const;
    void setLoopStatus(const QString &status);
    double rate() const { return 1.0; }
    QVariantMap metadata() const;
    // 0.0 .. 1.0 for the player's 0 .. 100 %. An engine without volume control plays at the
    // sound server's level: that reads 1.0, and a write leaves it so.
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool canControl() const { return true; }

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong Offset);
    void SetPosition(const QDBusObjectPath &TrackId, qlonglong Position);
    void OpenUri(const QString &Uri);

signals:
    void Seeked(qlonglong Position);

private:
    PlayerControl &player() const;

    MprisService &service_;
};

} // namespace kelpa
