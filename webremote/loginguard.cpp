#include "loginguard.h"

#include <algorithm>

QHostAddress LoginGuard::address(const QHostAddress &peer)
{
    // An IPv4 peer seen through an IPv6 socket is that IPv4 address.
    bool isIPv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4) : QHostAddress(peer.toIPv6Address());
}

QList<LoginGuard::Key> LoginGuard::keys(const QHostAddress &peer)
{
    const QHostAddress own = address(peer);
    if (own.protocol() == QAbstractSocket::IPv4Protocol)
        return {{own, false}};
    Q_IPV6ADDR network = own.toIPv6Address();
    std::fill(std::begin(network.c) + 8, std::end(network.c), quint8{0});
    return {{own, false}, {QHostAddress(network), true}};
}

bool LoginGuard::crowdSlows(qint64 now) const
{
    crowdMisses_.removeIf([&](qint64 at) { return now - at >= timings_.crowdWindowMs; });
    return crowdMisses_.size() > MaxCrowdMisses;
}

bool LoginGuard::admit(const QHostAddress &peer, qint64 now, Proof proof)
{
    forgetLapsed(now);
    const bool trusted = isTrusted(peer);
    const QList<Key> own = keys(peer);
    for (const Key &key : own) {
        const auto found = records_.constFind(key);
        if (found == records_.cend() || (key.second && trusted))
            continue;
        const Lock &lock = proof == Proof::Proven ? found->proven : found->any;
        if (lock.until > now)
            return false;
    }
    if (trusted || !crowdSlows(now))
        return true;
    qint64 &last = record(own.front(), now).lastTry[int(proof)];
    if (last >= 0 && now - last < CrowdSpacingMs)
        return false;
    last = now;
    return true;
}

void LoginGuard::count(Lock &lock, qint64 now) const
{
    if (lock.until > now)
        return;
    lock.misses.removeIf([&](qint64 at) { return now - at >= timings_.missWindowMs; });
    lock.misses.append(now);
    if (lock.misses.size() < MaxMisses)
        return;
    lock.misses.clear();
    lock.until = now + std::min<qint64>(qint64{timings_.lockoutMs} << std::min(lock.count, 20),
                                        timings_.maxLockoutMs);
    ++lock.count;
}

void LoginGuard::miss(const QHostAddress &peer, qint64 now, Proof proof)
{
    forgetLapsed(now);
    bool counted = false;
    for (const Key &key : keys(peer)) {
        Record &entry = record(key, now);
        counted = counted || entry.any.until <= now;
        count(entry.any, now);
        if (proof == Proof::Proven)
            count(entry.proven, now);
    }
    if (counted) {
        // Whether more than MaxCrowdMisses fell within the window, and when that ends, the
        // latest MaxCrowdMisses + 1 tell alone.
        if (crowdMisses_.size() > MaxCrowdMisses)
            crowdMisses_.removeFirst();
        crowdMisses_.append(now);
    }
}

LoginGuard::Record &LoginGuard::record(const Key &key, qint64 now)
{
    if (!records_.contains(key) && records_.size() >= MaxPeers)
        forgetQuietest();
    Record &entry = records_[key];
    entry.lastSeen = now;
    return entry;
}

void LoginGuard::trust(const QHostAddress &peer, qint64 now)
{
    forgetLapsed(now);
    const QHostAddress own = address(peer);
    if (!trusted_.contains(own) && trusted_.size() >= MaxTrusted)
        trusted_.erase(std::min_element(trusted_.begin(), trusted_.end()));
    trusted_.insert(own, now);
    if (const auto found = records_.find({own, false}); found != records_.end()) {
        found->any.misses.clear();
        found->proven.misses.clear();
    }
}

bool LoginGuard::isTrusted(const QHostAddress &peer) const
{
    return trusted_.contains(address(peer));
}

bool LoginGuard::isLocking(qint64 now) const
{
    if (crowdSlows(now))
        return true;
    return std::any_of(records_.cbegin(), records_.cend(),
                       [now](const Record &entry) { return entry.any.until > now; });
}

qint64 LoginGuard::nextChange(qint64 now) const
{
    qint64 next = -1;
    const auto consider = [&](qint64 at) {
        if (at > now && (next < 0 || at < next))
            next = at;
    };
    for (const Record &entry : records_)
        consider(entry.any.until);
    // The crowd's slowing ends when enough of its misses have left the window.
    if (crowdSlows(now))
        consider(crowdMisses_.at(crowdMisses_.size() - MaxCrowdMisses - 1) +
                 timings_.crowdWindowMs);
    return next;
}

void LoginGuard::forgetQuietest()
{
    const auto quietest =
        std::min_element(records_.begin(), records_.end(),
                         [](const Record &a, const Record &b) { return a.lastSeen < b.lastSeen; });
    if (quietest != records_.end())
        records_.erase(quietest);
}

void LoginGuard::forgetLapsed(qint64 now)
{
    // Looked over once a minute at most, so that a flood of tries costs no more than a few.
    if (now - lookedOver_ < 60000)
        return;
    lookedOver_ = now;
    records_.removeIf([&](QHash<Key, Record>::iterator entry) {
        return now - entry->lastSeen >= PeerLifetimeMs && entry->any.until <= now &&
               entry->proven.until <= now;
    });
    trusted_.removeIf([&](QHash<QHostAddress, qint64>::iterator entry) {
        return now - *entry >= TrustLifetimeMs;
    });
}

qint64 LoginGuard::refusedUntil(const QHostAddress &peer, qint64 now, Proof proof) const
{
    const bool trusted = isTrusted(peer);
    const QList<Key> own = keys(peer);
    qint64 until = now;
    for (const Key &key : own) {
        const auto found = records_.constFind(key);
        if (found != records_.cend() && !(key.second && trusted))
            until = std::max(until, (proof == Proof::Proven ? found->proven : found->any).until);
    }
    if (until > now || trusted || !crowdSlows(now))
        return until;
    const auto found = records_.constFind(own.front());
    const qint64 last = found == records_.cend() ? -1 : found->lastTry[int(proof)];
    return last < 0 ? now : std::max(now, last + CrowdSpacingMs);
}
