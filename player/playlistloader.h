// Reads what is added to the playlist (tracks with their tags, list files) on a thread of its
// own, so that a long list or a slow file never holds the window: the entries come back to the
// UI thread in batches, in the order of the additions and of the lines within a list.
#pragma once

#include "playlistreader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <atomic>

class PlaylistLoader : public QObject {
    Q_OBJECT

public:
    using TagReader = PlaylistReader::TagReader;

    // readTags runs on the loader's thread. room is how many entries may still be added.
    PlaylistLoader(TagReader readTags, int room, QObject *parent = nullptr);
    ~PlaylistLoader() override;

    // Queues the reading of paths (see PlaylistReader); its entries come as entriesRead(job),
    // then finished(job). The job's number.
    int Add(const QList<QByteArray> &paths, uint8_t showType);
    // Entries left the playlist: room for that many more.
    void Freed(int count);
    // Something is still being read.
    bool Busy() const { return pending_ > 0; }
    // Ends the reading between two entries or lines and waits for the thread to end: nothing
    // is read, and readTags is not called, once it returns.
    void Stop();

signals:
    // Emitted on the UI thread, in order.
    void entriesRead(int job, const QList<PlaylistEntry> &entries);
    void finished(int job);

private:
    void Read(int job, const QList<QByteArray> &paths, uint8_t showType);
    // Hands the batch to the UI thread (called on the loader's thread).
    void Deliver(int job, QList<PlaylistEntry> &batch, QElapsedTimer &sinceLast);

    TagReader readTags_;
    QThread thread_;
    QObject *worker_; // lives on thread_: what is queued to it runs there, in order
    std::atomic<int> room_;
    std::atomic<bool> stop_ = false;
    int pending_ = 0; // jobs queued and not finished, counted on the UI thread
    int lastJob_ = 0;
};
