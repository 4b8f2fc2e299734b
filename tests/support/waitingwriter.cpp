#include "waitingwriter.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

namespace {

// Whether the thread is blocked in open or openat, by the kernel's own account.
bool blockedInOpen(int tid)
{
    QFile syscall(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!syscall.open(QIODevice::ReadOnly))
        return false;
    const QByteArray number = syscall.readAll().split(' ').value(0);
    return number == QByteArrayLiteral("2") || number == QByteArrayLiteral("257");
}

} // namespace

WaitingWriter::WaitingWriter(const QByteArray &fifo) : fifo_(fifo)
{
    if (::mkfifo(fifo_.constData(), 0600) != 0)
        return;
    thread_ = std::thread([this] {
        tid_ = ::gettid();
        const int fd = ::open(fifo_.constData(), O_WRONLY | O_CLOEXEC);
        released_ = true;
        if (fd >= 0)
            ::close(fd);
    });
}

WaitingWriter::~WaitingWriter()
{
    if (!thread_.joinable())
        return;
    while (!released_) {
        const int reader = ::open(fifo_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader >= 0)
            ::close(reader);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
}

bool WaitingWriter::isWaiting()
{
    for (int i = 0; i < 200 && thread_.joinable() && !released_; ++i) {
        if (tid_ != 0 && blockedInOpen(tid_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool WaitingWriter::releasedWithin(int ms) const
{
    for (int waited = 0; waited < ms && !released_; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return released_;
}
