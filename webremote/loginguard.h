// Who may try a login or a login number now, and who is trusted: the web remote's defence
// against guessing, kept apart from the sockets. Times are milliseconds on the caller's clock.
//
// A try is either blind or proven. A blind one (a GET login, a login number) may come from a
// hostile page the owner merely has open, as an image or a navigation; a proven one (the phone
// page's POST login, carrying the login form's token) was sent by someone who read our own page.
// Blind misses lock blind tries only, so no page can lock the owner out of a proven login;
// proven misses lock both.
//
// Misses are counted per address: MaxMisses within the miss window lock it for the lock-out
// time, doubled with each new lock up to the longest lock-out. Misses during a lock are not
// counted again, so a lock ends on time whatever the peer does meanwhile. An IPv6 network (/64)
// is also counted as one, since one machine may fill it; its lock holds every address in it but
// the trusted ones. An address that sent the right ID in this run is trusted (by its full
// address), and its count is cleared. More than MaxCrowdMisses misses from all addresses
// together within the crowd window only slow strangers down: each address gets one try of each
// kind per CrowdSpacingMs until the rate falls, so the owner's first try always gets through.
//
// What it remembers is bounded by count and by age, so that a day of strangers and phones
// costs no more memory than an hour of them: at most MaxPeers addresses and networks, each
// forgotten PeerLifetimeMs after its last try or miss (with what doubles its next lock), and at
// most MaxTrusted trusted addresses, each forgotten TrustLifetimeMs after its last right ID.
// Both are looked over at the next try, miss or right ID.
#pragma once

#include "servertimings.h"

#include <QHash>
#include <QHostAddress>
#include <QList>

#include <cstdint>
#include <utility>

class LoginGuard {
public:
    enum class Proof { Blind, Proven };

    static constexpr int MaxMisses = 10;
    static constexpr int MaxCrowdMisses = 100;
    static constexpr qint64 CrowdSpacingMs = 5000;
    // Addresses and networks remembered at most; beyond, the quietest are forgotten first.
    static constexpr qsizetype MaxPeers = 4096;
    static constexpr qint64 PeerLifetimeMs = 24 * 3600 * 1000LL;
    // Trusted addresses at most; beyond, the one whose right ID came longest ago is forgotten.
    static constexpr qsizetype MaxTrusted = 256;
    static constexpr qint64 TrustLifetimeMs = 30 * 24 * 3600 * 1000LL;

    explicit LoginGuard(const ServerTimings &timings) : timings_(timings) {}

    // Whether a try of this kind from peer is let through now; one let through counts against
    // the crowd's spacing.
    bool admit(const QHostAddress &peer, qint64 now, Proof proof);
    // A wrong ID or login number from peer.
    void miss(const QHostAddress &peer, qint64 now, Proof proof);
    // The right ID from peer.
    void trust(const QHostAddress &peer, qint64 now);
    bool isTrusted(const QHostAddress &peer) const;
    // How many addresses and networks, and how many trusted addresses, are remembered.
    qsizetype peerCount() const { return records_.size(); }
    qsizetype trustedCount() const { return trusted_.size(); }
    // Whether some address is locked, or strangers are slowed down, now.
    bool isLocking(qint64 now) const;
    // When isLocking may next change by itself; -1 when it will not.
    qint64 nextChange(qint64 now) const;
    // From when admit() lets a try of this kind from peer through again; now or earlier when
    // it does now.
    qint64 refusedUntil(const QHostAddress &peer, qint64 now, Proof proof) const;

private:
    struct Lock {
        QList<qint64> misses; // within the miss window
        qint64 until = 0;
        int count = 0; // locks so far, for the doubling
    };
    struct Record {
        Lock any;    // every miss; locks blind tries
        Lock proven; // proven misses; locks proven tries too
        qint64 lastSeen = 0;
        qint64 lastTry[2] = {-1, -1}; // by Proof, for the crowd's spacing
    };
    // An address, or (true) the IPv6 network of one.
    using Key = std::pair<QHostAddress, bool>;

    static QHostAddress address(const QHostAddress &peer);
    static QList<Key> keys(const QHostAddress &peer);
    void count(Lock &lock, qint64 now) const;
    Record &record(const Key &key, qint64 now);
    bool crowdSlows(qint64 now) const;
    void forgetQuietest();
    void forgetLapsed(qint64 now);

    const ServerTimings timings_;
    QHash<Key, Record> records_;
    QHash<QHostAddress, qint64> trusted_; // when each last sent the right ID
    // All peers' latest misses within the crowd window: no more than tell whether it slows.
    mutable QList<qint64> crowdMisses_;
    qint64 lookedOver_ = 0; // when the lapsed were last forgotten
};
