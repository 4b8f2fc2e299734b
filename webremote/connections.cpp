// The socket side of the server: one connection at a time on Winsock2, requests that arrive
// meanwhile waiting in a queue, one answer per connection, and a pause after each answer.
//
// Waiting never spins or sleeps: a wait loop blocks in the event loop until the next event,
// and the pause is a timer. Nothing waits inside a connection request either: a request that
// finds the connection busy is queued, and the queue is served whenever the connection is
// closed and the pause has passed, so a flood of connections grows a bounded queue instead of
// the stack. No peer address holds more than a few places in it, and a connection that others
// wait behind gets a short time to complete its request, so a handful of silent or slow
// clients cannot shut everyone else out.
#include "frmsver.h"

#include "net/winsock.h"
#include "pages.h"
#include "request.h"
#include "ui_frmsver.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

void FrmSver::Winsock1_ConnectionRequest(int32_t requestID)
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
    if (waiting_.size() >= MaxWaitingConnections ||
        std::count_if(waiting_.cbegin(), waiting_.cend(), samePeer) >= MaxWaitingPerPeer) {
        Winsock::DropRequest(requestID);
        return;
    }
    waiting_.enqueue({requestID, peer, clock_.elapsed()});
    EnforceCrowdedDeadline();
    ServeWaitingConnection();
}

bool FrmSver::IsIdleSpare() const
{
    return !heardFrom_ && Winsock2->BytesReceived() == 0 &&
           clock_.elapsed() - acceptedAt_ >= timings_.spareConnectionMs;
}

void FrmSver::ServeWaitingConnection()
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
        // Looked at again when the connection has been silent long enough (bytes that came
        // and are still to be read are given a moment to be announced).
        if (!heardFrom_ && !spareTimer_->isActive())
            spareTimer_->start(
                qMax<qint64>(50, timings_.spareConnectionMs - (clock_.elapsed() - acceptedAt_)));
        return; // served when the connection is closed
    }

    spareTimer_->stop();
    requestTimer_->stop();
    crowdedTimer_->stop();
    while (!waiting_.isEmpty()) {
        const Waiting next = waiting_.dequeue();
        if (Winsock2->Accept(next.requestID)) {
            // Bytes that came while the connection waited may have come as soon as it asked
            // to connect.
            firstByteAt_ = Winsock2->BytesReceived() > 0 ? next.since : -1;
            break;
        }
    }
    if (Winsock2->State() == Winsock::sckClosed)
        return;

    // The page limit is fixed for the connection from the settings as they are now, by the
    // same rule as the option buttons.
    if (ui_->Option1->isChecked())
        ListByteLimit = -1;
    if (ui_->Option2->isChecked())
        ApplyByteLimitBox();
    RecvBuffer.clear();
    heardFrom_ = false;
    acceptedAt_ = clock_.elapsed();
    requestTimer_->start(timings_.requestTimeoutMs);
    // The listening socket keeps listening after an accept, so it is not told to listen
    // again: that would also restart it after the toggle was released.
}

void FrmSver::RequestTimer_Timeout()
{
    if (answering_ || Winsock2->State() == Winsock::sckClosed)
        return;
    DropConnection(); // no answer: a client that never completes its request gets none
}

void FrmSver::EnforceCrowdedDeadline()
{
    if (!heardFrom_ || answering_ || waiting_.isEmpty() ||
        Winsock2->State() != Winsock::sckConnected)
        return;
    const qint64 left = timings_.crowdedRequestMs - (clock_.elapsed() - firstByteAt_);
    if (left <= 0)
        DropConnection();
    else if (!crowdedTimer_->isActive())
        crowdedTimer_->start(static_cast<int>(left));
}

void FrmSver::Winsock2_DataArrival(int32_t bytesTotal)
{
    if (bytesTotal < 1)
        return;
    QByteArray arrived;
    Winsock2->GetData(arrived, bytesTotal);
    if (arrived.isEmpty())
        return;
    if (firstByteAt_ < 0)
        firstByteAt_ = clock_.elapsed();
    heardFrom_ = true;
    spareTimer_->stop();
    // Bytes arriving while an answer is sent belong to a request already answered.
    if (answering_)
        return;
    RecvBuffer += arrived;
    if (IsRequestComplete(RecvBuffer)) {
        answering_ = true;
        requestTimer_->stop();
        crowdedTimer_->stop();
        // Handled from the event loop once this handler has returned, so that a box the
        // request's command brings up holds no arrival of this or the next connection.
        QTimer::singleShot(0, this, &FrmSver::HandleRequest);
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

void FrmSver::DropConnection()
{
    Winsock2->Close();
    requestTimer_->stop();
    crowdedTimer_->stop();
    ServeWaitingConnection();
}

void FrmSver::Winsock2_SendComplete()
{
    SendPending = 0;
}

void FrmSver::Winsock2_Close()
{
    SendPending = 0;
    // An answer in progress closes its connection itself. Otherwise the peer left before
    // completing its request, which can then never be answered: the connection is closed at
    // once, unless bytes it sent are still to be read (their arrival closes it).
    if (!answering_ && Winsock2->BytesReceived() == 0)
        DropConnection();
}

void FrmSver::Winsock2_Error()
{
    Winsock2->Close();
    SendPending = 0;
    ServeWaitingConnection();
}

void FrmSver::SendPage(const QString &body)
{
    SendPending = Winsock2->SendData(BuildOkResponse(body)) ? -1 : 0;
    FinishSend();
}

void FrmSver::SendNotFound()
{
    SendPending = Winsock2->SendData(BuildNotFoundResponse()) ? -1 : 0;
    FinishSend();
}

void FrmSver::FinishSend()
{
    // A client that never reads its answer must not hold the server, and every connection
    // queued behind it, for ever.
    bool givenUp = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [&givenUp] { givenUp = true; });
    deadline.start(timings_.sendTimeoutMs);
    for (;;) {
        // A connection that failed or is gone can complete no send. One whose peer has shut
        // down its sending side still can: its Closed event ends the wait if not.
        const int16_t state = Winsock2->State();
        if (state == Winsock::sckError || state == Winsock::sckClosed) {
            Winsock2->Close();
            SendPending = 0;
        }
        if (!SendPending || givenUp)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    SendPending = 0;
    Winsock2->Close();
    requestTimer_->stop();
    crowdedTimer_->stop();
    answering_ = false;
    setWindowTitle(IdleCaption());
    // One answer at a time, about ten a second at most: the next connection waits for the
    // pause, while the event loop runs on.
    pauseTimer_->start(timings_.pauseMs);
}
