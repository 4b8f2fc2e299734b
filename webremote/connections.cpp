// The socket side of the server: one connection at a time on Winsock2, requests that arrive
// meanwhile waiting in a queue, one answer per connection, and a pause after each answer.
//
// Nothing waits: an answer goes out through the socket's events and a deadline timer, and the
// pause is a timer. Nothing waits inside a connection request either: a request that
// finds the connection busy is queued, and the queue is served whenever the connection is
// closed and the pause has passed, so a flood of connections grows a bounded queue instead of
// the stack. No peer address holds more than a browser's share of places in it; a full queue
// gives the places of strangers' silent connections to newcomers, and any stranger's place to
// a trusted address; the connections that have sent their request go first, a trusted
// address's before all; and a connection that others wait behind gets a short time to
// complete its request. So neither a crowd of silent or slow clients from one address nor one
// from many shuts the owner out.
#include "remoteserver.h"

#include "net/ansi.h"
#include "net/winsock.h"
#include "pages.h"
#include "request.h"

#include <QTimer>

#include <algorithm>
#include <utility>

void RemoteServer::Winsock1_ConnectionRequest(int32_t requestID)
{
    // Places of peers that left while waiting are given to those that come.
    waiting_.removeIf([](const Waiting &waiting) {
        if (Winsock::IsRequestOpen(waiting.requestID))
            return false;
        Winsock::DropRequest(waiting.requestID);
        return true;
    });
    const QHostAddress peer = Winsock::RequestPeer(requestID);
    const auto samePeer = [&peer](const Waiting &waiting) { return waiting.peer == peer; };
    if (std::count_if(waiting_.cbegin(), waiting_.cend(), samePeer) >= MaxWaitingPerPeer ||
        (waiting_.size() >= MaxWaitingConnections && !MakeRoom(state_.guard.isTrusted(peer)))) {
        Winsock::DropRequest(requestID);
        return;
    }
    waiting_.enqueue({requestID, peer, clock_()});
    EnforceCrowdedDeadline();
    ServeWaitingConnection();
}

bool RemoteServer::MakeRoom(bool forTrusted)
{
    const auto stranger = [this](const Waiting &waiting) {
        return !state_.guard.isTrusted(waiting.peer);
    };
    auto leaving = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting &waiting) {
        return stranger(waiting) && !Winsock::HasRequestData(waiting.requestID);
    });
    if (leaving == waiting_.end() && forTrusted)
        leaving = std::find_if(waiting_.begin(), waiting_.end(), stranger);
    if (leaving == waiting_.end())
        return false;
    Winsock::DropRequest(leaving->requestID);
    waiting_.erase(leaving);
    return true;
}

bool RemoteServer::IsIdleSpare() const
{
    return !heardFrom_ && Winsock2->BytesReceived() == 0 &&
           clock_() - connectedAt_ >= timings_.spareConnectionMs;
}

void RemoteServer::ServeWaitingConnection()
{
    // While an answer is on its way the connection belongs to it, whatever its state; after
    // it, the pause passes first.
    if (waiting_.isEmpty() || answering_ || pauseTimer_->isActive())
        return;
    switch (Winsock2->State()) {
    case Winsock::sckClosed:
        break;
    case Winsock::sckClosing: // the peer left before completing its request
    case Winsock::sckError:
        Winsock2->Close();
        break;
    default:
        if (IsIdleSpare()) {
            Winsock2->Close();
            break;
        }
        if (!spareTimer_->isActive())
            StartSpareTimer();
        return; // served when the connection is closed
    }

    spareTimer_->stop();
    requestTimer_->stop();
    crowdedTimer_->stop();
    if (!AcceptNext())
        return;

    // The page limit is fixed for the connection from the settings as they are now.
    emit connectionAccepted();
    RecvBuffer.clear();
    heardFrom_ = false;
    requestTimer_->start(timings_.requestTimeoutMs);
    // A silent connection taken up while others wait is looked at again when it has been
    // silent long enough, or at once when it waited that long already.
    if (!waiting_.isEmpty())
        StartSpareTimer();
    // The listening socket keeps listening after an accept, so it is not told to listen
    // again: that would also restart it after the toggle was released.
}

void RemoteServer::StartSpareTimer()
{
    // Bytes that came and are still to be read are given a moment to be announced.
    if (!heardFrom_)
        spareTimer_->start(static_cast<int>(
            qMax<qint64>(50, timings_.spareConnectionMs - (clock_() - connectedAt_))));
}

namespace {

// Whose turn a connection takes: its address, or the /64 network of an IPv6 address, which one
// machine may fill.
QHostAddress turnOf(const QHostAddress &peer)
{
    bool isIPv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4);
    Q_IPV6ADDR network = peer.toIPv6Address();
    std::fill(std::begin(network.c) + 8, std::end(network.c), quint8{0});
    return QHostAddress(network);
}

} // namespace

bool RemoteServer::AcceptNext()
{
    // A request already sent is served before a connection still silent. Of those sent, the
    // address whose last turn lies furthest back goes first, so that no address that asks back
    // to back keeps the others waiting; every other time a trusted address may go first, so
    // that a crowd of strangers keeps the owner waiting for one answer at most. Silent
    // connections follow in the order they came.
    const auto turn = [this](const Waiting &waiting) {
        return lastTurn_.value(turnOf(waiting.peer), 0);
    };
    while (!waiting_.isEmpty()) {
        auto next = waiting_.end();
        const auto pick = [&](bool trustedOnly) {
            for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
                if (Winsock::HasRequestData(it->requestID) &&
                    (!trustedOnly || state_.guard.isTrusted(it->peer)) &&
                    (next == waiting_.end() || turn(*it) < turn(*next)))
                    next = it;
            }
        };
        if (!trustedWentAhead_)
            pick(true);
        trustedWentAhead_ = next != waiting_.end();
        if (next == waiting_.end())
            pick(false);
        if (next == waiting_.end())
            next = waiting_.begin();
        const Waiting taken = *next;
        waiting_.erase(next);
        if (Winsock2->Accept(taken.requestID)) {
            peer_ = taken.peer;
            connectedAt_ = taken.since;
            // Bytes that came while the connection waited may have come as soon as it asked
            // to connect.
            firstByteAt_ = Winsock2->BytesReceived() > 0 ? taken.since : -1;
            RecordTurn(taken.peer);
            return true;
        }
    }
    return false;
}

void RemoteServer::RecordTurn(const QHostAddress &peer)
{
    lastTurn_.insert(turnOf(peer), ++turns_);
    // Only the turns of addresses that wait matter; the rest are forgotten now and then.
    if (lastTurn_.size() > 4 * MaxWaitingConnections) {
        lastTurn_.removeIf([this](const auto &entry) {
            return std::none_of(waiting_.cbegin(), waiting_.cend(), [&](const Waiting &waiting) {
                return turnOf(waiting.peer) == entry.key();
            });
        });
    }
}

void RemoteServer::RequestTimer_Timeout()
{
    if (answering_ || Winsock2->State() == Winsock::sckClosed)
        return;
    DropConnection(); // no answer: a client that never completes its request gets none
}

void RemoteServer::EnforceCrowdedDeadline()
{
    if (!heardFrom_ || answering_ || waiting_.isEmpty() ||
        Winsock2->State() != Winsock::sckConnected)
        return;
    // A stranger's unfinished request holds a trusted address only a moment.
    const bool trustedWaits =
        !state_.guard.isTrusted(peer_) &&
        std::any_of(waiting_.cbegin(), waiting_.cend(), [this](const Waiting &waiting) {
            return state_.guard.isTrusted(waiting.peer);
        });
    const int allowed = trustedWaits ? std::min(timings_.crowdedRequestMs, timings_.trustedWaitMs)
                                     : timings_.crowdedRequestMs;
    const qint64 left = allowed - (clock_() - firstByteAt_);
    if (left <= 0)
        DropConnection();
    else if (!crowdedTimer_->isActive() || crowdedTimer_->remainingTime() > left)
        crowdedTimer_->start(static_cast<int>(left));
}

void RemoteServer::Winsock2_DataArrival(int32_t bytesTotal)
{
    // Bytes arriving once the request is complete belong to a request already answered. They
    // are left unread: a client that sends on and on meanwhile is held back by its own
    // connection's buffers, and costs the thread nothing.
    if (bytesTotal < 1 || answering_)
        return;
    QByteArray arrived;
    Winsock2->GetData(arrived, bytesTotal);
    if (arrived.isEmpty())
        return;
    if (firstByteAt_ < 0)
        firstByteAt_ = clock_();
    heardFrom_ = true;
    spareTimer_->stop();
    RecvBuffer += arrived;
    if (IsRequestComplete(RecvBuffer)) {
        answering_ = true;
        requestTimer_->stop();
        crowdedTimer_->stop();
        // Handled from the event loop once this handler has returned, so that nothing the
        // request's command does runs inside the socket's event.
        QTimer::singleShot(0, this, &RemoteServer::HandleRequest);
        return;
    }
    if (RecvBuffer.size() > RecvBufferLimit) {
        answering_ = true;
        SendNotFound();
        return;
    }
    // A peer that left before completing its request can never be answered.
    if (Winsock2->State() == Winsock::sckClosing) {
        DropConnection();
        return;
    }
    EnforceCrowdedDeadline();
}

void RemoteServer::DropConnection()
{
    Winsock2->Close();
    requestTimer_->stop();
    crowdedTimer_->stop();
    ServeWaitingConnection();
}

void RemoteServer::Winsock2_SendComplete()
{
    if (sending_)
        FinishSend();
}

void RemoteServer::Winsock2_Close()
{
    // A peer that left while its answer went out takes no more of it.
    if (sending_) {
        FinishSend();
        return;
    }
    // An answer still to be sent goes to a peer that may have shut down only its sending
    // side. Otherwise the peer left before completing its request, which can then never be
    // answered: the connection is closed at once, unless bytes it sent are still to be read
    // (their arrival closes it).
    if (!answering_ && Winsock2->BytesReceived() == 0)
        DropConnection();
}

void RemoteServer::Winsock2_Error()
{
    if (sending_) {
        FinishSend();
        return;
    }
    // An answer still to be built finds the connection closed and ends at once.
    Winsock2->Close();
    ServeWaitingConnection();
}

void RemoteServer::SendNotFound()
{
    SendBytes(AnsiEncode(BuildNotFoundResponse()));
}

void RemoteServer::SendBytes(const QByteArray &response)
{
    sending_ = true;
    if (!Winsock2->SendBytes(response)) {
        FinishSend();
        return;
    }
    // A client that never reads its answer must not hold the server, and every connection
    // queued behind it, for ever.
    sendTimer_->start(timings_.sendTimeoutMs);
}

void RemoteServer::FinishSend()
{
    sending_ = false;
    sendTimer_->stop();
    Winsock2->Close();
    requestTimer_->stop();
    crowdedTimer_->stop();
    answering_ = false;
    setCaption(IdleCaption());
    // One answer at a time, about ten a second at most on the design's routes: the next
    // connection waits for the pause, while the event loop runs on. After a phone page's
    // answer it is taken up at once.
    if (std::exchange(paced_, true))
        pauseTimer_->start(timings_.pauseMs);
    else
        ServeWaitingConnection();
}
