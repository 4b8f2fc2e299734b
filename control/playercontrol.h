// What drives the player from outside its window: the web remote, the desktop's media
// controls and files handed over by a second start. They see the player only through this
// interface, so none of them links the player window, and the player links none of them.
//
// Threads: every member is called on the UI thread and returns promptly; commands act exactly
// as the window's own buttons and list do. Signals are emitted on the UI thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

namespace kelpa {

// The most entries the playlist holds: its indices are 16-bit.
inline constexpr int MaxEntries = 32767;
// The volume buttons' step, in percent.
inline constexpr int VolumeStep = 10;
// The largest picture of a track's tag that the player keeps: a phone's page shows it.
inline constexpr int MaxPictureBytes = 1 << 20;

// The five transport buttons, by their index in the window.
enum class Transport : int16_t { Previous = 0, Play = 1, Pause = 2, Stop = 3, Next = 4 };

// What the player does now: a paused track is open, a playing one, or neither.
enum class PlaybackStatus { Stopped, Playing, Paused };

// The open track, as the display strip shows it.
struct TrackInfo {
    QByteArray path; // the file name's bytes, as it was added to the playlist
    QString title;
    QString artist;
    int32_t lengthSeconds = 0;
};

// The open track's picture: JPEG or PNG bytes, and a number that changes with each picture
// (0: none), so that a page can tell a new one without comparing bytes.
struct TrackPicture {
    QByteArray bytes;
    quint64 serial = 0;
};

class PlayerControl : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The player window's caption: "kelpa", or "kelpa - " and the title of the open track.
    virtual QString caption() const = 0;
    virtual int entryCount() const = 0;
    // The display text of the entry at index; empty outside the playlist.
    virtual QString entryText(int index) const = 0;
    // The path of the entry at index as it was added, in the file system's bytes; empty
    // outside the playlist. A remote shows its file name where the display text is empty.
    virtual QByteArray entryPath(int index) const = 0;
    // The artist the tags of the entry at index gave when it was added; empty outside the
    // playlist, or without one.
    virtual QString entryArtist(int index) const = 0;
    // The length of the entry at index in seconds, once it is known: from when the entry's
    // track was opened in this run (adding reads only its tags). -1 before, and outside the
    // playlist.
    virtual int32_t entryLength(int index) const = 0;
    // How many more entries the playlist takes.
    int room() const { return MaxEntries - entryCount(); }
    // Changes whenever entries are added or removed, so that a remote can tell that a list it
    // showed is out of date.
    virtual quint64 playlistRevision() const = 0;
    // The entry of the open track, kept as entries are added and removed; -1 when no track is
    // open or its entry was removed. Two entries of one file are two entries.
    virtual int currentEntry() const = 0;

    // One transport command, as its button does.
    virtual void run(Transport command) = 0;
    // A remote's one play/pause button: pauses what plays, resumes what is paused, and starts
    // a stopped player as its play button does, or with the first entry when no track was
    // opened yet (there is nothing selected to play then).
    virtual void playPause() = 0;
    // Selects the entry at index and opens and plays it; -1 clears the selection and plays
    // nothing. False, and no change, for an index outside -1 .. entryCount() - 1.
    virtual bool playEntry(int index) = 0;
    // The display format of entries added from now on: 0 title, 1 artist - title,
    // 2 title - artist.
    virtual void setShowType(uint8_t showType) = 0;

    // Adds files as a drop on the playlist does (tracks and list files, in order), read in
    // the background: the entries appear as they are read, and when nothing plays as the
    // first of them comes, it plays. Names are the file system's bytes: a name that is not
    // valid UTF-8 still names its file.
    virtual void addFiles(const QList<QByteArray> &paths) = 0;
    virtual PlaybackStatus status() const = 0;
    // The open track; empty when none is.
    virtual TrackInfo track() const = 0;
    // The open track's picture, read off the UI thread once the track opens: none until then,
    // for a track without one, and with an engine library that cannot read pictures.
    virtual TrackPicture picture() const { return {}; }
    // Seconds into the open track; 0 when none is.
    virtual int32_t position() const = 0;
    // Seeks within the open track, as a click on the bar does; ignored when nothing plays.
    virtual void seek(int32_t seconds) = 0;
    virtual bool loop() const = 0;
    virtual void setLoop(bool on) = 0;
    // The output volume in percent, 0 to 100, kept across tracks for the run; -1 when the
    // engine library has no volume control (older engines), and then setVolume does nothing.
    virtual int volume() const = 0;
    // Sets the volume, clamped to 0 .. 100.
    virtual void setVolume(int percent) = 0;
    // A step up or down (VolumeStep). Up while muted gives the level before the mute back.
    virtual void volumeUp() = 0;
    virtual void volumeDown() = 0;
    // The mute switch: to 0, and back to the level before. Any level above 0 set meanwhile
    // ends the mute.
    virtual void toggleMute() = 0;
    virtual bool muted() const = 0;
    // Shows the player window above the others.
    virtual void raise() = 0;
    // Ends the program as closing the player window does.
    virtual void quit() = 0;

signals:
    // The status, the open track or the loop setting changed.
    void statusChanged();
    void trackChanged();
    void loopChanged();
    void volumeChanged(int percent);
    // The position jumped (a seek), not its steady advance.
    void seeked(int32_t seconds);
    // Nothing given to addFiles (or dropped on the list) is left to read: the names are let go.
    void filesAdded();
    // An entry's file (path, as it was added) could not be opened: emitted at once, inside the
    // command that tried it, so that a remote can tell its own user where the failure came from.
    void openFailed(const QByteArray &path);
};

} // namespace kelpa
