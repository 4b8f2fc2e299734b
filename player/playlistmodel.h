// The playlist without its window: the entries' paths as they were given, their display texts,
// the reading of list files, the entry cap and deletion. The list box shows what this holds;
// tests and other callers hold one without a window and without an engine.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

struct TrackTags {
    QString title;
    QString artist;
};

class PlaylistModel {
public:
    // The tags of the track a name (the file system's bytes, blanks around it taken off) names;
    // none when it names no track the engine plays.
    using TagReader = std::function<std::optional<TrackTags>(const QByteArray &name)>;

    // The most entries the playlist holds: its indices are 16-bit.
    static constexpr int kMaxEntries = 32767;
    // A longer list file is not read at all.
    static constexpr qint64 kMaxListFileBytes = 5000000;

    explicit PlaylistModel(TagReader readTags);

    // Adds the tracks that paths name, in order, up to the cap: a track as one entry shown in
    // the display format showType (0 title, 1 artist - title, 2 title - artist), anything else
    // read as a list file of one name a line. Entries keep their paths untrimmed.
    void AddFiles(const QList<QByteArray> &paths, uint8_t showType);
    // Removes the entry at index; nothing outside the list.
    void Remove(int index);

    int Count() const { return static_cast<int>(paths_.size()); }
    // The display text of the entry at index; empty outside the list.
    QString Text(int index) const { return texts_.value(index); }
    // The path of the entry at index as it was added; empty outside the list.
    QByteArray Path(int index) const { return paths_.value(index); }

    // Whether the name (the file system's bytes) is that of an existing file this program may
    // read. One trailing separator is forgiven. Folders, devices, pipes and names that cannot
    // be opened are no files. Nothing is created, and nothing waits on the file.
    static bool IfFilename(QByteArray strPathName);

private:
    void AddEntry(const QByteArray &path, uint8_t showType);
    void ReadListFile(const QByteArray &path, uint8_t showType);

    TagReader readTags_;
    QList<QByteArray> paths_; // as the file system's bytes: a QString cannot hold every name
    QStringList texts_;
    // A list file is being read; one named inside it is not read (it would recurse).
    bool readingListFile_ = false;
};
