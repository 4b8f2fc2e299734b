// What dropped files add to the playlist: each track as one entry with its display text, and
// anything else read as a list file (plain, one name a line, or m3u). It holds no entries;
// it hands each one on as it is found, in order, so that a caller may collect them or pass
// them on in batches. It touches no widget and no shared state besides the tag reader's.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

struct TrackTags {
    QString title;
    QString artist;
};

struct PlaylistEntry {
    QByteArray path;      // as it was given, untrimmed, in the file system's bytes
    QString text;         // as the list shows it
    QString artist;       // from its tags, for a remote's search whatever the display format
    int32_t seconds = -1; // its length, once it has been opened
};

class PlaylistReader {
public:
    // The tags of the track a name (the file system's bytes, blanks around it taken off) names;
    // none when it names no track the engine plays.
    using TagReader = std::function<std::optional<TrackTags>(const QByteArray &name)>;
    // Takes one entry; false when no more are wanted.
    using Sink = std::function<bool(PlaylistEntry &&entry)>;

    // A longer list file is not read at all.
    static constexpr qint64 kMaxListFileBytes = 5000000;

    // stop, when given, ends the reading as soon as it is set, between two entries or lines.
    PlaylistReader(TagReader readTags, uint8_t showType, const std::atomic<bool> *stop = nullptr);

    // Reads the paths in order into sink, until they end or the sink wants no more: a track
    // as one entry shown in the display format (0 title, 1 artist - title, 2 title - artist),
    // anything else as a list file.
    void Read(const QList<QByteArray> &paths, const Sink &sink);

    // Whether the name (the file system's bytes) is that of an existing file this program may
    // read. One trailing separator is forgiven. Folders, devices, pipes and names that cannot
    // be opened are no files. Nothing is created, and nothing waits on the file.
    static bool IfFilename(QByteArray strPathName);

private:
    // False when the sink wants no more.
    bool AddEntry(const QByteArray &path);
    bool ReadListFile(const QByteArray &path);

    TagReader readTags_;
    uint8_t showType_;
    const std::atomic<bool> *stop_;
    const Sink *sink_ = nullptr;
    // A list file is being read; one named inside it is not read (it would recurse).
    bool readingListFile_ = false;
    // The last artist read: the tracks of an album that follow it share its text.
    QString lastArtist_;
};
