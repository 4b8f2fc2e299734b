// The open track's picture, read on a thread of its own when the track opens, so that a large
// tag never holds the window, and kept for that track alone: a new track, or none, lets it go.
#pragma once

#include "control/playercontrol.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

class TrackPictureReader : public QObject {
    Q_OBJECT

public:
    // read runs on the reader's thread: the picture of the file at a path, empty for none.
    explicit TrackPictureReader(std::function<QByteArray(const QByteArray &)> read,
                                QObject *parent = nullptr);
    ~TrackPictureReader() override;

    // A track opened: its picture comes once read; until then there is none.
    void Open(const QByteArray &path);
    // No track is open.
    void Close();
    // Ends the thread: read is not called once this returns.
    void Stop();
    kelpa::TrackPicture Picture() const { return picture_; }

private:
    std::function<QByteArray(const QByteArray &)> read_;
    QThread thread_;
    QObject *worker_; // lives on thread_
    // The track last opened: a read for an earlier one, still queued, is skipped.
    std::atomic<quint64> latest_ = 0;
    kelpa::TrackPicture picture_;
};
