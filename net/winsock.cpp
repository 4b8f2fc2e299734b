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
#include <functional>
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

// A connection's second descriptor, owned by its socket object, and what is sent through it.
// Qt closes its own descriptor at the peer's end of input, as if the peer had left; a peer that
// has only shut down its sending side still reads, and gets its answer through this one. And
// bytes handed straight to the system spare the event loop the turns that Qt's write buffer
// costs (its notifier switched on and off for every answer).
class Outbox : public QObject {
    Q_OBJECT

public:
    enum Result { Sent, Waiting, Failed };

    Outbox(int descriptor, QObject *socket) : QObject(socket), fd_(descriptor) {}
    ~Outbox() override { ::close(fd_); }

    // Called from the event loop once the bytes that waited for the system have gone, or
    // could not go.
    std::function<void(Result)> drained;

    bool hasBytes() const { return from_ < bytes_.size(); }

    // Adds bytes behind those still waiting and sends what the system takes now.
    Result send(const QByteArray &bytes)
    {
        bytes_ = hasBytes() ? bytes_.mid(from_) + bytes : bytes;
        from_ = 0;
        return sendWaiting();
    }

private:
    Result sendWaiting()
    {
        while (hasBytes()) {
            const ssize_t n = ::send(fd_, bytes_.constData() + from_,
                                     static_cast<size_t>(bytes_.size() - from_), MSG_NOSIGNAL);
            if (n > 0) {
                from_ += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The rest when the system takes more.
                if (!notifier_) {
                    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
                    connect(notifier_, &QSocketNotifier::activated, this, [this] {
                        const Result result = sendWaiting();
                        if (result != Waiting && drained)
                            drained(result);
                    });
                }
                notifier_->setEnabled(true);
                return Waiting;
            } else {
                break; // the peer has gone altogether
            }
        }
        const Result result = hasBytes() ? Failed : Sent;
        bytes_.clear();
        from_ = 0;
        if (notifier_)
            notifier_->setEnabled(false);
        return result;
    }

    const int fd_;
    QByteArray bytes_;
    qsizetype from_ = 0;
    QSocketNotifier *notifier_ = nullptr;
};

Outbox *outboxOf(const QTcpSocket *socket)
{
    return socket ? socket->findChild<Outbox *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
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
        if (fd < 0) {
            // Out of descriptors: turned away at once, like a connection the queue has no
            // room for, rather than one that could not be answered.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new Outbox(fd, socket);
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
    outboxOf(socket)->drained = [this, connection = connection_](int result) {
        if (connection == connection_)
            sent(result);
    };
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
    if (!socket_ || (state_ != sckConnected && state_ != sckClosing))
        return false;
    sending_ = true;
    sent(outboxOf(socket_)->send(bytes));
    return true;
}

void Winsock::sent(int result)
{
    if (result == Outbox::Waiting || !std::exchange(sending_, false))
        return;
    if (result == Outbox::Failed)
        state_ = sckError;
    post(result == Outbox::Sent ? &Winsock::SendComplete : &Winsock::Error);
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
    if (!socket)
        return;
    socket->disconnect(this);
    const auto end = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    Outbox *outbox = outboxOf(socket);
    if (outbox->hasBytes()) {
        outbox->drained = [end](int) { end(); };
        QTimer::singleShot(LingerMs, socket, end);
    } else {
        end();
    }
}

#include "winsock.moc"
