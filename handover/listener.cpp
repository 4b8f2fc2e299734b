#include "listener.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelpa {

Listener::Listener(int retryMs, QObject *parent) : QObject(parent), retry_(new QTimer(this))
{
    retry_->setSingleShot(true);
    retry_->setInterval(retryMs);
    connect(retry_, &QTimer::timeout, this, &Listener::updateNotifier);
}

Listener::~Listener()
{
    if (socket_ < 0)
        return;
    ::close(socket_);
    ::unlink(QFile::encodeName(path_).constData());
}

bool Listener::listen(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_ >= 0 || name.isEmpty() || size_t(name.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int made = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (made < 0)
        return false;
    // Only the copy that holds the single-instance lock listens, so a socket of this name is
    // one a crashed copy left behind.
    ::unlink(name.constData());
    if (::bind(made, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(made, SOMAXCONN) != 0) {
        ::close(made);
        return false;
    }
    socket_ = made;
    path_ = path;
    notifier_ = new QSocketNotifier(socket_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Listener::acceptAll);
    updateNotifier();
    return true;
}

void Listener::setPaused(bool paused)
{
    paused_ = paused;
    updateNotifier();
}

bool Listener::waiting() const
{
    pollfd queue{socket_, POLLIN, 0};
    return socket_ >= 0 && ::poll(&queue, 1, 0) == 1;
}

void Listener::updateNotifier()
{
    if (notifier_)
        notifier_->setEnabled(!paused_ && !retry_->isActive());
}

void Listener::acceptAll()
{
    while (!paused_) {
        const int descriptor = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0) {
            emit accepted(descriptor);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: the connection stays queued until some are free.
            retry_->start();
            updateNotifier();
        }
        return;
    }
}

} // namespace kelpa
