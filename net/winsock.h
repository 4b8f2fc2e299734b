// One TCP socket with the members and events of the socket control that the web remote was
// designed around: an instance either listens (and raises ConnectionRequest) or carries one
// connection that it took over with Accept.
//
// Threads: every member is called on the UI thread, and every event is emitted there, from the
// event loop: never synchronously from inside a member call, so a handler never runs nested in
// the code that made the call. Events are emitted only while the event loop runs.
//
// The design's pages go on the wire in the ANSI code page of net/ansi.h (windows-31j), encoded
// by their sender with AnsiEncode, the same encoding AnsiByteLen measures.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QTcpServer;
class QTcpSocket;

class Winsock : public QObject {
    Q_OBJECT

public:
    // State values. Callers of the connection side rely on 0, 8 and 9 only.
    enum : int16_t {
        sckClosed = 0,
        sckListening = 2,
        sckConnected = 7,
        sckClosing = 8, // the peer has closed its side; stays so until Close()
        sckError = 9,   // the connection failed; stays so until Close()
    };

    // At most this many bytes are taken in on a connection, waiting to be accepted or
    // accepted, and not yet read with GetData; the rest waits in the peer's send buffer, so
    // neither a crowd of waiting clients nor a sender whose bytes are not read fills memory.
    static constexpr qint64 ReadBufferLimit = 16 * 1024;

    explicit Winsock(QObject *parent = nullptr);
    ~Winsock() override;

    // The port the next Listen uses. False (and no change) outside 0..65535, or while
    // listening. Port 0 lets the system choose one.
    bool setLocalPort(int32_t port);
    // While listening, the port in use (the chosen one after port 0); otherwise the port set.
    int32_t LocalPort() const;
    // The machine's address as a phone on the local network reaches it (reachableaddress.h).
    static QString LocalIP();

    int16_t State() const;
    // Bytes received on the connection and not yet read with GetData.
    int32_t BytesReceived() const;

    // Starts listening on LocalPort, on every interface. False when already listening or
    // when the port cannot be had; the state is then unchanged.
    bool Listen();
    // Why the last Listen failed: AddressInUseError, SocketAccessError (the port needs
    // privileges), or another error; UnknownSocketError after a Listen that succeeded.
    QAbstractSocket::SocketError ListenError() const { return listenError_; }

    // Takes over the pending connection that ConnectionRequest named. False, changing
    // nothing, when this socket is not closed or the request is unknown (already accepted or
    // dropped). A peer that closed or sent data while it waited is reported by the events
    // that follow: Closed, DataArrival.
    bool Accept(int32_t requestID);
    // Closes a pending connection that will not be accepted.
    static void DropRequest(int32_t requestID);
    // The address a pending connection comes from; null when the request is unknown.
    static QHostAddress RequestPeer(int32_t requestID);
    // False once the peer of a pending connection has left (or the request is unknown).
    static bool IsRequestOpen(int32_t requestID);
    // Whether the peer of a pending connection has sent anything yet.
    static bool HasRequestData(int32_t requestID);

    // Hands the whole of bytes to the connection. SendComplete follows once every byte has
    // gone to the system; Error or Closed follow if the connection fails first. In state 8
    // they go to a peer that may have shut down only its sending side (to one that has gone
    // altogether they are lost, or Error follows). False when there is no connection to send
    // on (state 0 or 9), whose Closed or Error event has then already been raised or is on
    // its way.
    bool SendBytes(const QByteArray &bytes);
    // Moves up to maxLen waiting bytes into data, which is resized to what was read.
    // Returns the number of bytes read.
    int32_t GetData(QByteArray &data, int32_t maxLen);

    // Listening: stops listening; connections still pending stay pending. Connected: the
    // connection is closed after the bytes already sent have gone out, and no further event
    // of it is raised. State 0 afterwards; a no-op on a closed socket.
    void Close();

signals:
    // A peer wants to connect; requestID names the pending connection for Accept.
    void ConnectionRequest(int32_t requestID);
    // bytesTotal bytes can be read. Not raised again while a handler of it still runs;
    // bytes that come meanwhile are announced once that handler has returned.
    void DataArrival(int32_t bytesTotal);
    // Everything handed to SendBytes has gone out.
    void SendComplete();
    // The socket control's Close event: the peer has closed its side (state 8).
    void Closed();
    // The connection failed (state 9).
    void Error();

private:
    void onNewConnection();
    void attach(QTcpSocket *socket);
    void onReadyRead();
    void onSocketError(int error);
    void postArrival();
    void deliverArrival();
    void post(void (Winsock::*signal)());
    void sent(int result);

    QTcpServer *server_ = nullptr;
    QPointer<QTcpSocket> socket_;
    int32_t localPort_ = 0;
    QAbstractSocket::SocketError listenError_ = QAbstractSocket::UnknownSocketError;
    int16_t state_ = sckClosed;
    uint32_t connection_ = 0; // changes with each accept and close; events of an older one drop
    bool sending_ = false;
    bool inArrival_ = false;     // a DataArrival handler runs
    bool arrivalPosted_ = false; // a DataArrival is on its way
    bool arrivalMissed_ = false; // bytes came while a handler ran
    qint64 readInArrival_ = 0;   // what the running handler has read
};
