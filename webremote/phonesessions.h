// Who is logged in on the phone pages: one session per phone, named by a random 128-bit token
// that its cookie carries, and the one-time pairing code that the QR window shows. Held in
// memory for the run. Times are milliseconds on the caller's clock.
//
// Sessions are independent: opening one never ends another, up to MaxSessions, beyond which
// the one unused longest ends. The pairing code is used up by its first use and replaced at
// once; it also lapses PairingLifetimeMs after it was drawn.
#pragma once

#include <QByteArray>
#include <QHash>

class PhoneSessions {
public:
    static constexpr qsizetype MaxSessions = 64;
    static constexpr qint64 PairingLifetimeMs = 10 * 60000;

    PhoneSessions();

    // A new session's token (32 hex digits).
    QByteArray open(qint64 now);
    // Whether token names an open session; marks it used.
    bool isOpen(const QByteArray &token, qint64 now);
    // Ends every session and replaces the pairing code: the login ID changed.
    void closeAll(qint64 now);
    qsizetype count() const { return sessions_.size(); }

    // The pairing code in force (24 hex digits, 96 bits), replaced first when it has lapsed.
    QByteArray pairingCode(qint64 now);
    // When the code in force lapses.
    qint64 pairingExpiry() const { return pairingDrawn_ + PairingLifetimeMs; }
    // Uses the code up when it is the one in force: true, and a new code is drawn.
    bool redeem(const QByteArray &code, qint64 now);

private:
    void drawPairingCode(qint64 now);

    QHash<QByteArray, qint64> sessions_; // token -> last use
    QByteArray pairing_;
    qint64 pairingDrawn_ = 0;
};
