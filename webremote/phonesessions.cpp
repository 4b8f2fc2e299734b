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

bool SameSecret(const QByteArray &a, const QByteArray &b)
{
    if (a.isEmpty() || a.size() != b.size())
        return false;
    unsigned difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= unsigned(a[i] ^ b[i]);
    return difference == 0;
}

PhoneSessions::PhoneSessions() : loginToken_(randomHex(4))
{
    drawPairingCode(0, 0);
    drawPairingCode(0, 1);
}

QByteArray PhoneSessions::open(const QHostAddress &peer, qint64 now, PhoneRole role,
                               const QString &device)
{
    endUnused(now);
    QHash<QHostAddress, qsizetype> held;
    for (const Session &session : std::as_const(sessions_))
        ++held[session.peer];
    const bool ownFull = held.value(peer) >= MaxPerAddress;
    if (ownFull || sessions_.size() >= MaxSessions) {
        // The address's own when it holds its share, else one of the most holding address's;
        // of those, the one unused longest.
        const qsizetype most = *std::max_element(held.cbegin(), held.cend());
        auto ending = sessions_.end();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
            const bool candidate = ownFull ? it->peer == peer : held.value(it->peer) == most;
            if (candidate && (ending == sessions_.end() || it->lastUsed < ending->lastUsed))
                ending = it;
        }
        sessions_.erase(ending);
    }
    QByteArray token = randomHex(4);
    sessions_.insert(token, {peer, randomHex(4), now, role, device, ++opened_});
    return token;
}

bool PhoneSessions::isOpen(const QByteArray &token, qint64 now)
{
    const auto found = sessions_.find(token);
    if (token.isEmpty() || found == sessions_.end())
        return false;
    if (now - found->lastUsed >= SessionLifetimeMs) {
        sessions_.erase(found);
        return false;
    }
    found->lastUsed = now;
    return true;
}

QByteArray PhoneSessions::formToken(const QByteArray &token) const
{
    return sessions_.value(token).formToken;
}

PhoneRole PhoneSessions::role(const QByteArray &token) const
{
    return sessions_.value(token).role;
}

QList<PhoneSessions::Phone> PhoneSessions::phones() const
{
    QList<Phone> list;
    for (const Session &session : sessions_)
        list.append({session.id, session.device, session.peer, session.role, session.lastUsed});
    std::sort(list.begin(), list.end(), [](const Phone &a, const Phone &b) { return a.id < b.id; });
    return list;
}

bool PhoneSessions::close(quint64 id)
{
    return sessions_.removeIf([id](const auto &session) { return session.value().id == id; }) > 0;
}

void PhoneSessions::closeAll(qint64 now)
{
    sessions_.clear();
    loginToken_ = randomHex(4);
    drawPairingCode(now, 0);
    drawPairingCode(now, 1);
}

QByteArray PhoneSessions::pairingCode(qint64 now, PhoneRole role)
{
    const int index = int(role);
    if (now >= drawn_[index] + PairingLifetimeMs)
        drawPairingCode(now, index);
    return pairing_[index];
}

std::optional<PhoneRole> PhoneSessions::redeem(const QByteArray &code, qint64 now)
{
    for (const PhoneRole role : {PhoneRole::Operate, PhoneRole::Guest}) {
        const int index = int(role);
        if (now < drawn_[index] + PairingLifetimeMs && SameSecret(code, pairing_[index])) {
            drawPairingCode(now, index);
            return role;
        }
    }
    return std::nullopt;
}

void PhoneSessions::drawPairingCode(qint64 now, int role)
{
    pairing_[role] = randomHex(3);
    drawn_[role] = now;
}

void PhoneSessions::endUnused(qint64 now)
{
    sessions_.removeIf([now](QHash<QByteArray, Session>::iterator session) {
        return now - session->lastUsed >= SessionLifetimeMs;
    });
}
