#include "loginguard.h"

#include <algorithm>

QHostAddress LoginGuard::key(const QHostAddress &peer)
{
    bool isIPv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4);
    Q_IPV6ADDR network = peer.toIPv6Address();
    std::fill(std::begin(network.c) + 8, std::end(network.c), quint8{0});
    return QHostAddress(network);
}

bool LoginGuard::crowdRefuses(qint64 now) const
{
    crowdMisses_.removeIf([&](qint64 at) { return now - at >= timings_.crowdWindowMs; });
    return crowdMisses_.size() > MaxCrowdMisses;
}

bool LoginGuard::admits(const QHostAddress &peer, qint64 now) const
{
    const QHostAddress who = key(peer);
    const auto found = peers_.constFind(who);
    if (found != peers_.cend() && found->lockedUntil > now)
        return false;
    return trusted_.contains(who) || !crowdRefuses(now);
}

void LoginGuard::miss(const QHostAddress &peer, qint64 now)
{
    const QHostAddress who = key(peer);
    if (!peers_.contains(who) && peers_.size() >= MaxPeers)
        forgetQuietest();
    Peer &entry = peers_[who];
    entry.lastSeen = now;
    if (entry.lockedUntil > now)
        return;
    crowdMisses_.append(now);
    entry.misses.removeIf([&](qint64 at) { return now - at >= timings_.missWindowMs; });
    entry.misses.append(now);
    if (entry.misses.size() < MaxMisses)
        return;
    entry.misses.clear();
    const qint64 lockout = std::min<qint64>(qint64{timings_.lockoutMs} << std::min(entry.locks, 20),
                                            timings_.maxLockoutMs);
    entry.lockedUntil = now + lockout;
    ++entry.locks;
}

void LoginGuard::trust(const QHostAddress &peer)
{
    const QHostAddress who = key(peer);
    trusted_.insert(who);
    if (const auto found = peers_.find(who); found != peers_.end())
        found->misses.clear();
}

bool LoginGuard::isTrusted(const QHostAddress &peer) const
{
    return trusted_.contains(key(peer));
}

bool LoginGuard::isLocking(qint64 now) const
{
    if (crowdRefuses(now))
        return true;
    return std::any_of(peers_.cbegin(), peers_.cend(),
                       [now](const Peer &entry) { return entry.lockedUntil > now; });
}

qint64 LoginGuard::nextChange(qint64 now) const
{
    qint64 next = -1;
    const auto consider = [&](qint64 at) {
        if (at > now && (next < 0 || at < next))
            next = at;
    };
    for (const Peer &entry : peers_)
        consider(entry.lockedUntil);
    // The crowd's refusal ends when enough of its misses have left the window.
    if (crowdRefuses(now))
        consider(crowdMisses_.at(crowdMisses_.size() - MaxCrowdMisses - 1) +
                 timings_.crowdWindowMs);
    return next;
}

void LoginGuard::forgetQuietest()
{
    const auto quietest =
        std::min_element(peers_.begin(), peers_.end(),
                         [](const Peer &a, const Peer &b) { return a.lastSeen < b.lastSeen; });
    if (quietest != peers_.end())
        peers_.erase(quietest);
}
