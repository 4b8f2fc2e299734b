#include "remoteserver.h"

#include "net/winsock.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

RemoteServer::RemoteServer(kelpa::PlayerControl &player, const ServerTimings &timings,
                           QObject *parent)
    : QObject(parent), player_(player), timings_(timings), Winsock1(new Winsock(this)),
      Winsock2(new Winsock(this)), caption_(u"kelpa"_s),
      // Login numbers must not be guessable from the time the program started.
      random_(QRandomGenerator::securelySeeded()), guard_(timings), requestTimer_(new QTimer(this)),
      crowdedTimer_(new QTimer(this)), spareTimer_(new QTimer(this)), sendTimer_(new QTimer(this)),
      pauseTimer_(new QTimer(this)), lockoutTimer_(new QTimer(this)),
      pairingTimer_(new QTimer(this))
{
    Winsock1->setObjectName(u"Winsock1"_s);
    Winsock2->setObjectName(u"Winsock2"_s);
    for (QTimer *timer :
         {requestTimer_, crowdedTimer_, spareTimer_, sendTimer_, pauseTimer_, lockoutTimer_})
        timer->setSingleShot(true);
    clock_.start();

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
    pairingTimer_->start(static_cast<int>(phones_.pairingExpiry()));
}

RemoteServer::~RemoteServer() = default;

void RemoteServer::setLoginId(const QString &id)
{
    if (id == LoginId)
        return;
    LoginId = id;
    LoggedIn = false;
    phones_.closeAll(clock_.elapsed());
    RenewPairingCode();
}

QByteArray RemoteServer::pairingCode()
{
    return phones_.pairingCode(clock_.elapsed());
}

void RemoteServer::RenewPairingCode()
{
    const qint64 now = clock_.elapsed();
    phones_.pairingCode(now); // a lapsed one is replaced
    pairingTimer_->start(static_cast<int>(std::max<qint64>(phones_.pairingExpiry() - now, 1)));
    emit pairingCodeChanged();
}

void RemoteServer::setListByteLimit(int32_t limit)
{
    ListByteLimit = limit;
}

void RemoteServer::setShowType(uint8_t showType)
{
    player_.setShowType(showType);
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
