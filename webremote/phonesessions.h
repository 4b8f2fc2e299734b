// Who is logged in on the phone pages: one session per phone, named by a random 128-bit token
// that its cookie carries, and the one-time pairing code that the QR window shows. Held in
// memory for the run. Times are milliseconds on the caller's clock.
//
// Sessions are independent: opening one never ends another address's, up to MaxPerAddress per
// address (beyond, that address's own session unused longest ends) and MaxSessions in all
// (beyond, the session unused longest of the address holding the most ends, so a crowd of
// logins ends its own sessions first); a session unused for SessionLifetimeMs ends too. Each
// session has a form token of its own, which every command must carry: a page from elsewhere
// can send the cookie but cannot read the token.
// The login form carries a token too, shared by all and replaced with the ID. Each session has
// a role: the ID and the operating code give everything the phone pages offer, the guest code
// less (remotehandler.cpp says what). Each pairing code is used up by its first use and
// replaced at once; it also lapses PairingLifetimeMs after it was drawn.
#pragma once

#include <algorithm>

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

enum class PhoneRole { Operate, Guest };

class PhoneSessions {
public:
    static constexpr qsizetype MaxSessions = 64;
    static constexpr qsizetype MaxPerAddress = 8;
    static constexpr qint64 SessionLifetimeMs = 7 * 24 * 3600 * 1000LL;
    static constexpr qint64 PairingLifetimeMs = 10 * 60000;

    PhoneSessions();

    // A new session's token (32 hex digits) for a phone at peer; device names it for the owner.
    QByteArray open(const QHostAddress &peer, qint64 now, PhoneRole role = PhoneRole::Operate,
                    const QString &device = {});
    // Whether token names an open session; marks it used.
    bool isOpen(const QByteArray &token, qint64 now);
    // The form token of an open session; empty for none.
    QByteArray formToken(const QByteArray &token) const;
    // The role of an open session; a guest's for none.
    PhoneRole role(const QByteArray &token) const;

    // An open session as the owner sees it, known by a number that tells nothing of its token.
    struct Phone {
        quint64 id;
        QString device;
        QHostAddress peer;
        PhoneRole role;
        qint64 lastUsed;
    };
    QList<Phone> phones() const;
    // Ends the session of that number at once; false when none is open.
    bool close(quint64 id);
    // Ends every session and replaces the pairing code and the login form's token: the login
    // ID changed.
    void closeAll(qint64 now);
    qsizetype count() const { return sessions_.size(); }

    // The token of the login form (32 hex digits).
    QByteArray loginToken() const { return loginToken_; }

    // The role's pairing code in force (24 hex digits, 96 bits), replaced first when it has
    // lapsed.
    QByteArray pairingCode(qint64 now, PhoneRole role = PhoneRole::Operate);
    // When the first of the codes in force lapses.
    qint64 pairingExpiry() const { return std::min(drawn_[0], drawn_[1]) + PairingLifetimeMs; }
    // Uses a code up when it is one in force: its role, and a new code is drawn for it.
    std::optional<PhoneRole> redeem(const QByteArray &code, qint64 now);

private:
    struct Session {
        QHostAddress peer;
        QByteArray formToken;
        qint64 lastUsed = 0;
        PhoneRole role = PhoneRole::Guest;
        QString device;
        quint64 id = 0;
    };
    void drawPairingCode(qint64 now, int role);
    void endUnused(qint64 now);

    QHash<QByteArray, Session> sessions_; // by cookie token
    QByteArray loginToken_;
    QByteArray pairing_[2]; // by role
    qint64 drawn_[2] = {};
    quint64 opened_ = 0; // sessions opened: the next one's number
};

// Compares two secrets in full whatever the first difference, so the time taken tells nothing.
bool SameSecret(const QByteArray &a, const QByteArray &b);
