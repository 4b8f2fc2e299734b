#include "listconnection.h"

#include <QLocalSocket>
#include <QTimer>

#include <sys/ioctl.h>
#include <unistd.h>

namespace kelpa {

namespace {

// Read in pieces no bigger than this, so that the budget is checked before much is held.
constexpr qint64 kReadPiece = 64 * 1024;

} // namespace

ListConnection::ListConnection(int descriptor, int deadlineMs, ListBudget &budget, QObject *parent)
    : QObject(parent), socket_(new QLocalSocket(this)), deadline_(new QTimer(this)), budget_(budget)
{
    socket_->setReadBufferSize(kReadPiece);
    connect(socket_, &QLocalSocket::readyRead, this, &ListConnection::read);
    connect(socket_, &QLocalSocket::disconnected, this, &ListConnection::finish);
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, &ListConnection::finish);
    deadline_->start(deadlineMs);
    since_.start();
    if (!socket_->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        QTimer::singleShot(0, this, &ListConnection::finish);
    }
}

void ListConnection::read()
{
    if (finished_ || reader_.state() != FileListReader::State::Incomplete)
        return;
    const QByteArray bytes = socket_->readAll();
    if (budget_.used + bytes.size() > budget_.limit) {
        finish();
        return;
    }
    held_ += bytes.size();
    budget_.used += bytes.size();
    switch (reader_.feed(bytes)) {
    case FileListReader::State::Incomplete:
        return;
    case FileListReader::State::Broken:
        finish();
        return;
    case FileListReader::State::Complete:
        deadline_->stop();
        emit listReady(reader_.files());
        return;
    }
}

bool ListConnection::answer(uint32_t leftOut)
{
    if (finished_)
        return false;
    const bool told = socket_->write(EncodeAnswer(leftOut)) == kAnswerBytes && socket_->flush();
    finish();
    return told;
}

void ListConnection::endIfQuiet(int quietMs)
{
    // Bytes that came while the UI thread was busy are in the socket, not read yet.
    int unread = 0;
    ::ioctl(int(socket_->socketDescriptor()), FIONREAD, &unread);
    if (held_ == 0 && unread == 0 && since_.elapsed() >= quietMs)
        finish();
}

void ListConnection::finish()
{
    if (finished_)
        return;
    finished_ = true;
    deadline_->stop();
    // disconnectFromServer sends what is left to send (the few bytes of the answer) first.
    socket_->disconnectFromServer();
    budget_.used -= held_;
    held_ = 0;
    emit finished();
    deleteLater();
}

} // namespace kelpa
