// A player behind the interface for units that drive it from outside: a playlist of named
// tracks that the transport commands step through as the window's buttons do, wrapping at
// both ends, with the interface's signals on every change. Its caption and entry texts are
// the window's: "kelpa - " and the title while a track is open and not stopped, and the
// entries' titles. The contract table of test_playercontrol holds it to the real player's
// rules.
#pragma once

#include "control/playercontrol.h"

#include <QMap>
#include <QSet>

#include <algorithm>
#include <utility>

class FakePlayerControl : public kelpa::PlayerControl {
public:
    QList<QByteArray> paths;                 // the playlist
    QMap<QByteArray, kelpa::TrackInfo> tags; // what opening a path shows; title = name else
    int current = -1;                        // the open track
    int selected = -1;                       // the playlist's selection
    kelpa::PlaybackStatus state = kelpa::PlaybackStatus::Stopped;
    int32_t seconds = 0;
    bool loopOn = false;
    int level = 100; // the volume; -1 plays the part of an engine without volume control
    int raised = 0;
    int quits = 0;
    uint8_t showType = 0;
    quint64 revision = 0;             // bumped by addFiles; a test that edits paths bumps it itself
    QSet<QByteArray> gone;            // paths whose files no longer open
    QMap<QByteArray, int32_t> opened; // the lengths of the paths opened so far
    kelpa::TrackPicture art;          // the picture of whatever track is open

    QString caption() const override
    {
        if (current < 0 || state == kelpa::PlaybackStatus::Stopped)
            return QStringLiteral("kelpa");
        return QStringLiteral("kelpa - ") + track().title;
    }
    int entryCount() const override { return int(paths.size()); }
    QString entryText(int index) const override
    {
        if (index < 0 || index >= paths.size())
            return {};
        return tags.value(paths[index], {{}, QString::fromUtf8(paths[index]), {}, 0}).title;
    }
    QByteArray entryPath(int index) const override { return paths.value(index); }
    QString entryArtist(int index) const override { return tags.value(paths.value(index)).artist; }
    int32_t entryLength(int index) const override
    {
        return index < 0 || index >= paths.size() ? -1 : opened.value(paths[index], -1);
    }
    void setShowType(uint8_t type) override { showType = type; }

    void run(kelpa::Transport command) override
    {
        using kelpa::PlaybackStatus;
        using kelpa::Transport;
        switch (command) {
        case Transport::Previous:
        case Transport::Next:
            if (!paths.isEmpty()) {
                const int step = command == Transport::Next ? 1 : -1;
                const int next = current + step;
                playEntry(next < 0 ? int(paths.size()) - 1 : next >= paths.size() ? 0 : next);
            }
            return;
        case Transport::Play: // nothing open: nothing to play
            setState(current < 0 ? state : PlaybackStatus::Playing);
            return;
        case Transport::Pause: // a stopped player has nothing to pause
            setState(state == PlaybackStatus::Paused    ? PlaybackStatus::Playing
                     : state == PlaybackStatus::Playing ? PlaybackStatus::Paused
                                                        : state);
            return;
        case Transport::Stop:
            setState(PlaybackStatus::Stopped);
            return;
        }
    }
    void playPause() override
    {
        if (state != kelpa::PlaybackStatus::Stopped)
            run(kelpa::Transport::Pause);
        else if (current < 0 && !paths.isEmpty())
            playEntry(std::max(selected, 0));
        else
            run(kelpa::Transport::Play);
    }
    quint64 playlistRevision() const override { return revision; }
    int currentEntry() const override { return current; }
    bool playEntry(int index) override
    {
        if (index == -1) {
            selected = -1; // what is open plays on
            return true;
        }
        if (index < 0 || index >= paths.size())
            return false;
        selected = index;
        if (gone.contains(paths[index])) { // the engine's failed open leaves nothing open
            if (std::exchange(current, -1) >= 0) {
                setState(kelpa::PlaybackStatus::Stopped);
                emit trackChanged();
            }
            emit openFailed(paths[index]);
            return true;
        }
        current = index;
        seconds = 0;
        opened.insert(paths[index], track().lengthSeconds);
        emit trackChanged();
        setState(kelpa::PlaybackStatus::Playing);
        return true;
    }
    void addFiles(const QList<QByteArray> &added) override
    {
        const int first = int(paths.size());
        paths.append(added);
        ++revision;
        if (!added.isEmpty() && state == kelpa::PlaybackStatus::Stopped)
            playEntry(first);
        emit filesAdded(); // read at once
    }
    kelpa::PlaybackStatus status() const override { return state; }
    kelpa::TrackInfo track() const override
    {
        if (current < 0)
            return {};
        const QByteArray path = paths[current];
        kelpa::TrackInfo info = tags.value(path, {path, QString::fromUtf8(path), {}, 300});
        info.path = path;
        return info;
    }
    kelpa::TrackPicture picture() const override
    {
        return current < 0 ? kelpa::TrackPicture{} : art;
    }
    int32_t position() const override { return current < 0 ? 0 : seconds; }
    void seek(int32_t to) override
    {
        if (state == kelpa::PlaybackStatus::Stopped)
            return;
        seconds = std::clamp(to, 0, track().lengthSeconds);
        emit seeked(seconds);
    }
    bool loop() const override { return loopOn; }
    void setLoop(bool on) override
    {
        if (on == loopOn)
            return;
        loopOn = on;
        emit loopChanged();
    }
    int volume() const override { return level; }
    void setVolume(int percent) override
    {
        percent = std::clamp(percent, 0, 100);
        if (level < 0 || percent == level)
            return;
        if (percent > 0)
            mutedOn = false;
        level = percent;
        emit volumeChanged(level);
    }
    void volumeUp() override
    {
        if (muted())
            toggleMute();
        else
            setVolume(level + kelpa::VolumeStep);
    }
    void volumeDown() override
    {
        if (level > 0)
            setVolume(level - kelpa::VolumeStep);
    }
    void toggleMute() override
    {
        if (level < 0)
            return;
        if (muted()) {
            setVolume(unmuted);
            return;
        }
        unmuted = level;
        setVolume(0);
        mutedOn = true;
    }
    bool muted() const override { return mutedOn && level == 0; }
    void raise() override { ++raised; }
    void quit() override { ++quits; }

private:
    bool mutedOn = false;
    int unmuted = 0;

    void setState(kelpa::PlaybackStatus next)
    {
        state = next;
        emit statusChanged();
    }
};
