// Who may try a login or a login number now, and who is trusted: the web remote's defence
// against guessing, kept apart from the sockets. Times are milliseconds on the caller's clock.
//
// Misses (a wrong ID, a wrong login number) are counted per peer: MaxMisses within the miss
// window lock that peer for the lock-out time, doubled with each new lock of the same peer up
// to the longest lock-out. Misses during a lock are not counted again, so a lock ends on time
// whatever the peer does meanwhile. A peer that sent the right ID in this run is trusted, and
// its count is cleared. Against a search from many addresses: more than MaxCrowdMisses misses
// from all peers together within the crowd window refuse untrusted peers until the rate falls,
// while trusted ones go on. An IPv6 peer is its /64 network, which one machine may fill.
#pragma once

#include "servertimings.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>

#include <cstdint>

class LoginGuard {
public:
    static constexpr int MaxMisses = 10;
    static constexpr int MaxCrowdMisses = 100;
    // Peers remembered at most; beyond, the quietest are forgotten first.
    static constexpr qsizetype MaxPeers = 4096;

    explicit LoginGuard(const ServerTimings &timings) : timings_(timings) {}

    // Whether a login or a login number from peer is tried at all now.
    bool admits(const QHostAddress &peer, qint64 now) const;
    // A wrong ID or login number from peer.
    void miss(const QHostAddress &peer, qint64 now);
    // The right ID from peer.
    void trust(const QHostAddress &peer);
    bool isTrusted(const QHostAddress &peer) const;
    // Whether some peer is locked, or untrusted ones are refused, now.
    bool isLocking(qint64 now) const;
    // When isLocking may next change by itself; -1 when it will not.
    qint64 nextChange(qint64 now) const;

private:
    struct Peer {
        QList<qint64> misses; // within the miss window
        qint64 lockedUntil = 0;
        int locks = 0; // locks so far, for the doubling
        qint64 lastSeen = 0;
    };
    static QHostAddress key(const QHostAddress &peer);
    bool crowdRefuses(qint64 now) const;
    void forgetQuietest();

    const ServerTimings timings_;
    QHash<QHostAddress, Peer> peers_;
    QSet<QHostAddress> trusted_;
    mutable QList<qint64> crowdMisses_; // all peers' misses within the crowd window
};
