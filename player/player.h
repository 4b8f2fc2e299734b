// The player without its window: the engine, the playlist with its selection, the transport
// state, the open track, the loop setting and the caption. Everything that drives the player
// drives this object: the window passes its clicks, keys, drops and ticks on, and the remotes
// reach it as a kelpa::PlayerControl. It shows nothing itself; a failed open is announced
// (openFailed), and the window puts the "Open Error" box up.
//
// Threads: every member is called on the UI thread, and none of them waits for the user.
#pragma once

#include "control/playercontrol.h"
#include "engine/enginelibrary.h"
#include "playlistloader.h"
#include "playlistmodel.h"
#include "trackpicture.h"
#include "transportstate.h"

#include <QItemSelectionModel>
#include <QSet>

#include <optional>

class Player final : public kelpa::PlayerControl {
    Q_OBJECT

public:
    // programDir is where the engine library is looked for first.
    explicit Player(const QString &programDir, QObject *parent = nullptr);
    ~Player() override;

    // The start-up's steps, in the order the load routine takes them. The first loads and
    // initialises the engine.
    bool EngineMissing();
    // Puts the transport into its idle form: nothing opened yet, nothing meant to play.
    void Load();
    // Stops and frees the engine. No engine call follows.
    void Shutdown();

    // The playlist and its selection, as the list view shows and changes them.
    PlaylistModel &Playlist() { return List2; }
    QItemSelectionModel &Selection() { return selection_; }
    // The selected entry, -1 when none is. An entry that is current but not selected (after a
    // deletion, or a Ctrl+click) does not count.
    int ListIndex() const;
    // Selects the entry at index, or nothing for -1. False, and no change, for an index
    // outside -1 .. entryCount() - 1.
    bool SetListIndex(int index);
    // The path of the entry at index as it was added, untrimmed; empty outside the list.
    QByteArray ListPath(int index) const { return List2.Path(index); }

    // Opens and plays the selected entry; nothing when none is selected.
    void OpenSelected();
    // Adds files as a drop does, read in the background: the entries appear in batches, in
    // order. Nothing plays because of it (addFiles, the remotes' way, may play the first).
    void dropFiles(const QList<QByteArray> &paths);
    // Files added are still being read.
    bool Reading() const { return loader_.Busy(); }
    // Removes the entry at index, and with it the selection when it was the selected one.
    void DeleteEntry(int32_t index);
    void DeleteAll();

    // What one tick of the playback monitor leaves to show: nothing new (the tick moved on to
    // the next entry), or the engine's state and position.
    struct Shown {
        bool active; // playing or paused: a position to show
        int32_t position;
    };
    std::optional<Shown> Tick();
    // The open track's length in seconds and its title and artist as the display shows them.
    int32_t TrackLength() const { return track_.lengthSeconds; }
    QString DispTitle() const;

    // The user has answered the last "Open Error" box: loop play may move on.
    void OpenErrorAnswered();

    // kelpa::PlayerControl
    QString caption() const override { return caption_; }
    int entryCount() const override { return List2.Count(); }
    QString entryText(int index) const override { return List2.Text(index); }
    QByteArray entryPath(int index) const override { return List2.Path(index); }
    QString entryArtist(int index) const override { return List2.Artist(index); }
    int32_t entryLength(int index) const override { return List2.Length(index); }
    quint64 playlistRevision() const override { return revision_; }
    int currentEntry() const override { return openEntry_; }
    void run(kelpa::Transport command) override;
    void playPause() override;
    bool playEntry(int index) override;
    void setShowType(uint8_t showType) override;
    void addFiles(const QList<QByteArray> &paths) override;
    kelpa::PlaybackStatus status() const override;
    kelpa::TrackInfo track() const override;
    kelpa::TrackPicture picture() const override { return pictures_.Picture(); }
    int32_t position() const override;
    void seek(int32_t seconds) override;
    bool loop() const override { return loop_; }
    void setLoop(bool on) override;
    int volume() const override;
    void setVolume(int percent) override;
    void volumeUp() override;
    void volumeDown() override;
    void toggleMute() override;
    bool muted() const override;
    void raise() override;
    void quit() override;

signals:
    void captionChanged(const QString &caption);
    // raise() and quit(), which the window carries out.
    void raiseRequested();
    void quitRequested();

private:
    // Runs on the loader's thread.
    std::optional<TrackTags> ReadTags(const QByteArray &name);
    void EntriesRead(int job, const QList<PlaylistEntry> &entries);
    void SetCaption(const QString &caption);
    // The engine closed the open track: tells whoever drives the player from outside.
    void CloseTrack();
    int32_t EngineState(int32_t &seconds) const;

    // The engine's answers do not change by being asked, so a const query may ask it.
    mutable EngineLibrary engine_;
    PlaylistModel List2;
    QItemSelectionModel selection_;
    PlaylistLoader loader_;
    TrackPictureReader pictures_;
    QSet<int> playFirstRead_; // additions whose first entry plays when nothing plays
    TransportState PlayState;
    kelpa::TrackInfo track_; // empty path: none open
    int openEntry_ = -1;     // the open track's entry; -1: none, or removed
    quint64 revision_ = 0;   // of the playlist's entries
    bool muted_ = false;
    int unmutedVolume_ = 0; // what the mute switch gives back
    QString caption_;
    uint8_t ShowType =
        0; // display format of new entries: 0 title, 1 artist - title, 2 title - artist
    bool loop_ = false;
    // A failed open whose box the user has not answered yet: loop play waits for the answer,
    // instead of running into the next failure on every tick.
    bool openErrorUnanswered_ = false;
    // Opens that failed since the last one that went through: a whole lap of them ends loop
    // play.
    int failedOpens_ = 0;
    bool shutDown_ = false;
};
