#include "remoteserver.h"

#include "net/winsock.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

RemoteServer::Clock sinceNow()
{
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    return [started] { return started->elapsed(); };
}

} // namespace

RemoteServer::RemoteServer(kelpa::PlayerControl &player, const ServerTimings &timings, Clock clock,
                           QObject *parent)
    : QObject(parent), player_(player), timings_(timings), Winsock1(new Winsock(this)),
      Winsock2(new Winsock(this)), caption_(u"kelpa"_s),
      clock_(clock ? std::move(clock) : sinceNow()), state_(timings),
      requestTimer_(new QTimer(this)), crowdedTimer_(new QTimer(this)),
      spareTimer_(new QTimer(this)), sendTimer_(new QTimer(this)), pauseTimer_(new QTimer(this)),
      lockoutTimer_(new QTimer(this)), pairingTimer_(new QTimer(this))
{
    Winsock1->setObjectName(u"Winsock1"_s);
    Winsock2->setObjectName(u"Winsock2"_s);
    for (QTimer *timer :
         {requestTimer_, crowdedTimer_, spareTimer_, sendTimer_, pauseTimer_, lockoutTimer_})
        timer->setSingleShot(true);

    connect(Winsock1, &Winsock::ConnectionRequest, this, &RemoteServer::Winsock1_ConnectionRequest);
    connect(Winsock2, &Winsock::DataArrival, this, &RemoteServer::Winsock2_DataArrival);
    connect(Winsock2, &Winsock::SendComplete, this, &RemoteServer::Winsock2_SendComplete);
    connect(Winsock2, &Winsock::Closed, this, &RemoteServer::Winsock2_Close);
    connect(Winsock2, &Winsock::Error, this, &RemoteServer::Winsock2_Error);
    connect(requestTimer_, &QTimer::timeout, this, &RemoteServer::RequestTimer_Timeout);
    connect(crowdedTimer_, &QTimer::timeout, this, &RemoteServer::EnforceCrowdedDeadline);
    connect(spareTimer_, &QTimer::timeout, this, &RemoteServer::ServeWaitingConnection);
    connect(sendTimer_, &QTimer::timeout, this, &RemoteServer::FinishSend);
    connect(pauseTimer_, &QTimer::timeout, this, &RemoteServer::ServeWaitingConnection);
    connect(lockoutTimer_, &QTimer::timeout, this, &RemoteServer::ShowLocks);
    pairingTimer_->setSingleShot(true);
    connect(pairingTimer_, &QTimer::timeout, this, &RemoteServer::RenewPairingCode);
    pairingTimer_->start(static_cast<int>(state_.phones.pairingExpiry() - clock_()));
}

RemoteServer::~RemoteServer() = default;

void RemoteServer::setLoginId(const QString &id)
{
    if (id == state_.loginId())
        return;
    state_.setLoginId(id, clock_());
    RenewPairingCode();
}

QByteArray RemoteServer::pairingCode(PhoneRole role)
{
    return state_.phones.pairingCode(clock_(), role);
}

void RemoteServer::RenewPairingCode()
{
    const qint64 now = clock_();
    // A lapsed one is replaced.
    state_.phones.pairingCode(now, PhoneRole::Operate);
    state_.phones.pairingCode(now, PhoneRole::Guest);
    pairingTimer_->start(
        static_cast<int>(std::max<qint64>(state_.phones.pairingExpiry() - now, 1)));
    emit pairingCodeChanged();
}

void RemoteServer::setListByteLimit(int32_t limit)
{
    state_.listByteLimit = limit;
}

bool RemoteServer::setPort(int32_t port)
{
    if (!Winsock1->setLocalPort(port))
        return false;
    portSet_ = true;
    return true;
}

bool RemoteServer::listen()
{
    return portSet_ && Winsock1->Listen();
}

QAbstractSocket::SocketError RemoteServer::listenError() const
{
    return Winsock1->ListenError();
}

void RemoteServer::stopListening()
{
    Winsock1->Close();
}

bool RemoteServer::isListening() const
{
    return Winsock1->State() == Winsock::sckListening;
}

int32_t RemoteServer::port() const
{
    return Winsock1->LocalPort();
}

void RemoteServer::setCaption(const QString &caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    emit captionChanged(caption_);
}

QString RemoteServer::IdleCaption() const
{
    return state_.guard.isLocking(clock_()) ? u"kelpa (ログイン停止中)"_s : u"kelpa"_s;
}

void RemoteServer::ShowLocks()
{
    // The caption shows a lock for as long as it lasts, except while answering.
    if (!answering_)
        setCaption(IdleCaption());
    const qint64 now = clock_();
    const qint64 next = state_.guard.nextChange(now);
    if (next < 0)
        lockoutTimer_->stop();
    else
        lockoutTimer_->start(static_cast<int>(std::min<qint64>(next - now, 24 * 3600 * 1000)));
}

void RemoteServer::HandleRequest()
{
    // From here the connection is this request's until its answer is out.
    const Reply answer = ::HandleRequest(RecvBuffer, peer_, clock_(), state_, player_);
    if (answer.busy)
        setCaption(u"kelpa (処理中)"_s);
    if (answer.paired)
        RenewPairingCode();
    if (answer.missed)
        ShowLocks(); // shown once the answer is out
    paced_ = !answer.unpaced;
    SendBytes(answer.bytes);
}
