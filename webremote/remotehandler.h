// What the web remote answers: a function of the request, the remote's state and the player,
// with no sockets and no timers (remoteserver.h carries the bytes to and from it), so that the
// tests and the fuzzer call the very code the server runs. One route table serves the
// design's pages and the phone pages under /m/. What a page from elsewhere has a browser send
// can neither drive the remote, log in, nor count as a miss.
#pragma once

#include "control/playercontrol.h"
#include "loginguard.h"
#include "net/hostnames.h"
#include "phonesessions.h"
#include "servertimings.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QString>

#include <cstdint>

// Who may do what, as the answers leave it. Times are milliseconds on the server's clock.
struct RemoteState {
    explicit RemoteState(const ServerTimings &timings)
        : guard(timings), random(QRandomGenerator::securelySeeded())
    {}

    // The login ID; a change ends the login number and every phone session, and replaces the
    // pairing code and the login form's token.
    void setLoginId(const QString &id, qint64 now);
    const QString &loginId() const { return LoginId; }

    // The control page lists entries while its body stays below this many bytes; -1: all.
    int32_t listByteLimit = DefaultListByteLimit;
    LoginGuard guard;
    PhoneSessions phones;
    // What a phone is to be told on its next page or state, once, by its session: that an
    // open it asked for failed, or why it played nothing. One a session, and only open ones'.
    QHash<QByteArray, QString> phoneNotes;
    // Login numbers must not be guessable from the time the program started.
    QRandomGenerator random;

    static constexpr int32_t DefaultListByteLimit = 5000;
    // Login numbers are drawn from 0 to one below this.
    static constexpr int LoginNumberRange = 10000;

private:
    friend struct Exchange;
    QString LoginId;
    int16_t LoginNumber = 0;
    bool LoggedIn = false;  // until the first login no login number is valid
    QHostAddress LoginPeer; // the login number is valid from this address alone
};

struct Reply {
    QByteArray bytes; // the whole response
    // A request of the design's pages passed its request line: "kelpa (処理中)" until it is
    // out. The phone pages' answers, a few a second for each phone, leave the caption alone.
    bool busy = false;
    bool missed = false; // a miss was counted: the locks may have changed
    bool paired = false; // the pairing code was used up, and a new one drawn
    // A phone page's route: the next connection is taken up without the design's pause, so
    // that a room full of phones, each asking once a second, is answered in time.
    bool unpaced = false;
};

// Answers one complete request (IsRequestComplete) from peer, running what it asks on player.
Reply HandleRequest(const QByteArray &received, const QHostAddress &peer, qint64 now,
                    RemoteState &state, kelpa::PlayerControl &player,
                    const HostNames &names = LocalHostNames());
