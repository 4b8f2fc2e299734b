// A writer waiting for a reader of a FIFO, as a program that feeds a pipe does: whoever opens
// the FIFO for reading, even without blocking and only for a moment, releases it. Tests use it
// to tell that code never opened a name that is no regular file.
#pragma once

#include <QByteArray>

#include <atomic>
#include <thread>

class WaitingWriter {
public:
    // Makes the FIFO (which must not exist yet) and starts the writer's blocking open.
    explicit WaitingWriter(const QByteArray &fifo);
    // Releases the writer if nobody has, and waits for it.
    ~WaitingWriter();
    WaitingWriter(const WaitingWriter &) = delete;
    WaitingWriter &operator=(const WaitingWriter &) = delete;

    // True once the writer is blocked in its open (waits up to two seconds for that).
    bool isWaiting();
    // Whether a reader has released the writer within `ms` milliseconds from now.
    bool releasedWithin(int ms) const;

private:
    QByteArray fifo_;
    std::atomic<int> tid_{0};
    std::atomic<bool> released_{false};
    std::thread thread_;
};
