// The socket side of the server: one connection at a time on Winsock2, requests that arrive
// meanwhile waiting in a queue, one answer per connection.
//
// Waiting never spins: a wait loop blocks in the event loop until the next event. Nothing
// waits inside a connection request either: a request that finds the connection busy is
// queued, and the queue is served whenever the connection is closed, so a flood of
// connections grows a bounded queue instead of the stack.
#include "frmsver.h"

#include "net/winsock.h"
#include "pages.h"
#include "ui_frmsver.h"

#include <QCoreApplication>
#include <QTimer>

void FrmSver::Winsock1_ConnectionRequest(int32_t requestID)
{
    if (waiting_.size() >= MaxWaitingConnections) {
        Winsock::DropRequest(requestID);
        return;
    }
    waiting_.enqueue(requestID);
    ServeWaitingConnection();
}

bool FrmSver::IsIdleSpare() const
{
    return !heardFrom_ && Winsock2->BytesReceived() == 0 && acceptedAt_.isValid() &&
           acceptedAt_.elapsed() >= SpareConnectionMs;
}

void FrmSver::ServeWaitingConnection()
{
    // While an answer is on its way the connection belongs to it, whatever its state.
    if (waiting_.isEmpty() || answering_)
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
            spareTimer_->start(qMax<qint64>(50, SpareConnectionMs - acceptedAt_.elapsed()));
        return; // served when the connection is closed
    }

    spareTimer_->stop();
    requestTimer_->stop();
    while (!waiting_.isEmpty()) {
        if (Winsock2->Accept(waiting_.dequeue()))
            break;
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
    acceptedAt_.start();
    requestTimer_->start(RequestTimeoutMs);
    // The listening socket keeps listening after an accept, so it is not told to listen
    // again: that would also restart it after the toggle was released.
}

void FrmSver::RequestTimer_Timeout()
{
    if (answering_ || Winsock2->State() == Winsock::sckClosed)
        return;
    DropConnection(); // no answer: a client that never completes its request gets none
}

void FrmSver::Winsock2_DataArrival(int32_t bytesTotal)
{
    if (bytesTotal < 1)
        return;
    QByteArray arrived;
    Winsock2->GetData(arrived, bytesTotal);
    if (arrived.isEmpty())
        return;
    heardFrom_ = true;
    spareTimer_->stop();
    // Bytes arriving while an answer is sent belong to a request already answered.
    if (answering_)
        return;
    RecvBuffer += arrived;
    HandleRequest();
    // A peer that left before completing its request can never be answered.
    if (!answering_ && Winsock2->State() == Winsock::sckClosing)
        DropConnection();
}

void FrmSver::DropConnection()
{
    Winsock2->Close();
    requestTimer_->stop();
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
    SendPending = -1;
    Winsock2->SendData(BuildOkResponse(body));
    FinishSend();
}

void FrmSver::SendNotFound()
{
    SendPending = -1;
    Winsock2->SendData(BuildNotFoundResponse());
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
    deadline.start(SendTimeoutMs);
    QCoreApplication::processEvents();
    for (;;) {
        // A connection that failed, was closed by its peer or is gone can complete no send.
        const int16_t state = Winsock2->State();
        if (state == Winsock::sckError || state == Winsock::sckClosing ||
            state == Winsock::sckClosed) {
            Winsock2->Close();
            SendPending = 0;
        }
        if (!SendPending || givenUp)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    SendPending = 0;
    QCoreApplication::processEvents();
    Winsock2->Close();
    requestTimer_->stop();
    answering_ = false;
    ServeWaitingConnection();
    QCoreApplication::processEvents();
}
