#include "phonesessions.h"

#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace {

// Random bits from the system's source, which nobody can predict from the program's start.
QByteArray randomHex(int words)
{
    std::array<quint32, 4> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), words);
    return QByteArray(reinterpret_cast<const char *>(bits.data()), words * 4).toHex();
}

} // namespace

PhoneSessions::PhoneSessions()
{
    drawPairingCode(0);
}

QByteArray PhoneSessions::open(qint64 now)
{
    if (sessions_.size() >= MaxSessions) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end());
        sessions_.erase(oldest);
    }
    QByteArray token = randomHex(4);
    sessions_.insert(token, now);
    return token;
}

bool PhoneSessions::isOpen(const QByteArray &token, qint64 now)
{
    const auto found = sessions_.find(token);
    if (token.isEmpty() || found == sessions_.end())
        return false;
    *found = now;
    return true;
}

void PhoneSessions::closeAll(qint64 now)
{
    sessions_.clear();
    drawPairingCode(now);
}

QByteArray PhoneSessions::pairingCode(qint64 now)
{
    if (now >= pairingExpiry())
        drawPairingCode(now);
    return pairing_;
}

bool PhoneSessions::redeem(const QByteArray &code, qint64 now)
{
    if (now >= pairingExpiry() || code.size() != pairing_.size())
        return false;
    // Compared in full whatever the first difference, so the time taken tells nothing.
    unsigned difference = 0;
    for (qsizetype i = 0; i < code.size(); ++i)
        difference |= unsigned(code[i] ^ pairing_[i]);
    if (difference != 0)
        return false;
    drawPairingCode(now);
    return true;
}

void PhoneSessions::drawPairingCode(qint64 now)
{
    pairing_ = randomHex(3);
    pairingDrawn_ = now;
}
