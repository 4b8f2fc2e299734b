#include "winsock.h"

#include "ansi.h"
#include "reachableaddress.h"

#include <QHash>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <limits>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connections that were announced but not yet accepted, by request ID. The IDs are
// process-wide, as socket handles are, so any Winsock can accept what another one heard.
struct PendingConnections {
    QHash<int32_t, QPointer<QTcpSocket>> sockets;
    int32_t lastId = 0;

    int32_t add(QTcpSocket *socket)
    {
        do {
            lastId = lastId == std::numeric_limits<int32_t>::max() ? 1 : lastId + 1;
        } while (sockets.contains(lastId));
        sockets.insert(lastId, socket);
        return lastId;
    }

    QTcpSocket *take(int32_t id) { return sockets.take(id).data(); }
};

PendingConnections &pending()
{
    static PendingConnections instance;
    return instance;
}

// A closed connection that still has bytes to send gets this long to get them out.
constexpr int LingerMs = 30000;

// A second descriptor of a connection, owned by its socket object. Qt closes its own
// descriptor at the peer's end of input, as if the peer had left; a peer that has only shut
// down its sending side still reads, and gets its answer through this one.
class KeptDescriptor : public QObject {
public:
    KeptDescriptor(int descriptor, QObject *socket) : QObject(socket), fd(descriptor) {}
    ~KeptDescriptor() override { ::close(fd); }
    const int fd;
};

int keptDescriptor(const QTcpSocket *socket)
{
    const auto *kept = socket ? socket->findChild<KeptDescriptor *>() : nullptr;
    return kept ? kept->fd : -1;
}

} // namespace

Winsock::Winsock(QObject *parent) : QObject(parent) {}

Winsock::~Winsock()
{
    Close();
}

bool Winsock::setLocalPort(int32_t port)
{
    if (port < 0 || port > 65535 || State() == sckListening)
        return false;
    localPort_ = port;
    return true;
}

int32_t Winsock::LocalPort() const
{
    if (server_ && server_->isListening())
        return server_->serverPort();
    return localPort_;
}

QString Winsock::LocalIP()
{
    return ReachableAddress();
}

int16_t Winsock::State() const
{
    if (server_ && server_->isListening())
        return sckListening;
    return socket_ ? state_ : int16_t{sckClosed};
}

int32_t Winsock::BytesReceived() const
{
    if (!socket_)
        return 0;
    return static_cast<int32_t>(
        qMin<qint64>(socket_->bytesAvailable(), std::numeric_limits<int32_t>::max()));
}

bool Winsock::Listen()
{
    if (State() != sckClosed)
        return false;
    if (!server_) {
        server_ = new QTcpServer(this);
        connect(server_, &QTcpServer::newConnection, this, &Winsock::onNewConnection);
    }
    const bool listening = server_->listen(QHostAddress::Any, static_cast<quint16>(localPort_));
    listenError_ = listening ? QAbstractSocket::UnknownSocketError : server_->serverError();
    return listening;
}

void Winsock::onNewConnection()
{
    // All that came are taken at once, so that a handler that closes the listener does not
    // lose the connections behind it (Qt drops what it still holds when it stops listening).
    QList<int32_t> ids;
    while (QTcpSocket *socket = server_->nextPendingConnection()) {
        // Owned by the listener until accepted; it dies with it if never accepted.
        socket->setParent(this);
        socket->setReadBufferSize(ReadBufferLimit);
        const int fd = ::dup(static_cast<int>(socket->socketDescriptor()));
        if (fd >= 0)
            new KeptDescriptor(fd, socket);
        ids.append(pending().add(socket));
    }
    // Announced from here, the event loop's call, not through a posted event of their own:
    // each post costs the thread a wake-up and a turn of the loop, which a crowd of phones
    // makes the bulk of the server's work. A handler that waits pumps events, in which a
    // newer connection is announced all the same.
    for (const int32_t id : std::as_const(ids)) {
        if (pending().sockets.contains(id))
            emit ConnectionRequest(id);
    }
}

bool Winsock::Accept(int32_t requestID)
{
    if (State() != sckClosed || !pending().sockets.value(requestID))
        return false;
    attach(pending().take(requestID));
    return true;
}

void Winsock::DropRequest(int32_t requestID)
{
    if (QTcpSocket *socket = pending().take(requestID)) {
        socket->abort();
        socket->deleteLater();
    }
}

QHostAddress Winsock::RequestPeer(int32_t requestID)
{
    const QTcpSocket *socket = pending().sockets.value(requestID);
    return socket ? socket->peerAddress() : QHostAddress();
}

bool Winsock::IsRequestOpen(int32_t requestID)
{
    QTcpSocket *socket = pending().sockets.value(requestID);
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (socket->bytesAvailable() > 0)
        return true; // a request that came, even if its sender then shut its side
    // A peer that left before sending anything is seen at once, not only once Qt has read the
    // end of its stream: a new connection from that address must not find the places its
    // abandoned ones held still taken.
    char byte = 0;
    const ssize_t peeked =
        ::recv(static_cast<int>(socket->socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked > 0 || (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

bool Winsock::HasRequestData(int32_t requestID)
{
    const QTcpSocket *socket = pending().sockets.value(requestID);
    return socket && socket->bytesAvailable() > 0;
}

void Winsock::attach(QTcpSocket *socket)
{
    socket->setParent(this);
    socket_ = socket;
    ++connection_;
    sending_ = false;
    connect(socket, &QTcpSocket::readyRead, this, &Winsock::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &Winsock::onBytesWritten);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onSocketError(error); });
    // What came while the connection waited is announced first, as it came first; from the
    // event loop, as this is a member call.
    if (socket->bytesAvailable() > 0)
        postArrival();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        state_ = sckConnected;
    } else {
        // The peer left while the connection waited to be accepted.
        state_ = socket->error() == QAbstractSocket::RemoteHostClosedError ? sckClosing : sckError;
        post(state_ == sckClosing ? &Winsock::Closed : &Winsock::Error);
    }
}

void Winsock::post(void (Winsock::*signal)())
{
    const uint32_t connection = connection_;
    QTimer::singleShot(0, this, [this, connection, signal] {
        if (connection == connection_ && socket_)
            emit(this->*signal)();
    });
}

void Winsock::onReadyRead()
{
    // Qt's readyRead comes from the event loop, so the bytes are announced at once.
    if (inArrival_)
        arrivalMissed_ = true;
    else
        deliverArrival();
}

void Winsock::postArrival()
{
    if (std::exchange(arrivalPosted_, true))
        return;
    QTimer::singleShot(0, this, [this] {
        if (arrivalPosted_)
            deliverArrival();
    });
}

void Winsock::deliverArrival()
{
    arrivalPosted_ = false;
    if (!socket_ || socket_->bytesAvailable() < 1)
        return;
    if (inArrival_) {
        arrivalMissed_ = true;
        return;
    }
    const qint64 waiting =
        qMin<qint64>(socket_->bytesAvailable(), std::numeric_limits<int32_t>::max());
    const uint32_t connection = connection_;
    inArrival_ = true;
    readInArrival_ = 0;
    emit DataArrival(static_cast<int32_t>(waiting));
    inArrival_ = false;
    // Qt announces nothing that comes while a handler of its own readyRead runs, and this one
    // may pump events: bytes that came meanwhile (or on a connection accepted meanwhile) are
    // announced now, from the event loop. Bytes the handler chose to leave are not announced
    // again until more come.
    const bool more = connection == connection_ && socket_ &&
                      socket_->bytesAvailable() > waiting - readInArrival_;
    if (std::exchange(arrivalMissed_, false) || more)
        postArrival();
}

void Winsock::onBytesWritten()
{
    if (!sending_ || !socket_ || socket_->bytesToWrite() > 0)
        return;
    sending_ = false;
    post(&Winsock::SendComplete);
}

void Winsock::onSocketError(int error)
{
    if (!socket_ || state_ != sckConnected)
        return;
    sending_ = false;
    state_ = error == QAbstractSocket::RemoteHostClosedError ? sckClosing : sckError;
    post(state_ == sckClosing ? &Winsock::Closed : &Winsock::Error);
}

bool Winsock::SendBytes(const QByteArray &bytes)
{
    if (socket_ && state_ == sckClosing)
        return sendAfterPeerClosed(bytes);
    if (!socket_ || state_ != sckConnected)
        return false;
    sending_ = true;
    if (socket_->write(bytes) != bytes.size()) {
        sending_ = false;
        state_ = sckError;
        post(&Winsock::Error);
        return false;
    }
    // Straight to the system: a peer that shuts down its sending side right after its
    // request still gets the answer, as Qt drops a connection on the first end of input.
    socket_->flush();
    if (socket_ && sending_ && socket_->bytesToWrite() == 0) {
        sending_ = false;
        post(&Winsock::SendComplete);
    }
    return true;
}

bool Winsock::sendAfterPeerClosed(const QByteArray &bytes)
{
    const int fd = keptDescriptor(socket_);
    if (fd < 0)
        return false;
    unsent_ = bytes;
    sending_ = true;
    writeUnsent();
    return true;
}

void Winsock::writeUnsent()
{
    const int fd = keptDescriptor(socket_);
    while (fd >= 0 && !unsent_.isEmpty()) {
        const ssize_t n = ::send(fd, unsent_.constData(), unsent_.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The rest when the system takes more.
                if (!unsentNotifier_) {
                    unsentNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, socket_);
                    connect(unsentNotifier_, &QSocketNotifier::activated, this,
                            &Winsock::writeUnsent);
                }
                unsentNotifier_->setEnabled(true);
                return;
            }
            break; // the peer has gone altogether
        }
        unsent_.remove(0, n);
    }
    if (unsentNotifier_)
        unsentNotifier_->setEnabled(false);
    const bool complete = fd >= 0 && unsent_.isEmpty();
    unsent_.clear();
    if (!sending_)
        return;
    sending_ = false;
    if (!complete)
        state_ = sckError;
    post(complete ? &Winsock::SendComplete : &Winsock::Error);
}

int32_t Winsock::GetData(QByteArray &data, int32_t maxLen)
{
    if (!socket_ || maxLen < 1) {
        data.clear();
        return 0;
    }
    data.resize(maxLen);
    const qint64 got = socket_->read(data.data(), maxLen);
    data.resize(got > 0 ? got : 0);
    if (inArrival_)
        readInArrival_ += data.size();
    return static_cast<int32_t>(data.size());
}

void Winsock::Close()
{
    if (server_)
        server_->close();
    QTcpSocket *socket = socket_.data();
    socket_ = nullptr;
    ++connection_;
    state_ = sckClosed;
    sending_ = false;
    unsent_.clear();
    delete unsentNotifier_;
    if (!socket)
        return;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(LingerMs, socket, &QAbstractSocket::abort);
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}
