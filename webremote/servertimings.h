// How long the web remote's server waits for what. The program runs with the defaults; a test
// passes shorter ones, so that what takes seconds for a user takes a moment there.
#pragma once

struct ServerTimings {
    // A connection alone with the server that has not completed its request this long after
    // it was accepted is closed without an answer.
    int requestTimeoutMs = 10000;
    // While other connections wait, a connection must complete its request this long after
    // its first byte: a browser sends its request in one piece within milliseconds.
    int crowdedRequestMs = 2000;
    // An answer not taken by its client within this time is given up.
    int sendTimeoutMs = 10000;
    // A connection that has sent nothing at all this long after it connected is a browser's
    // spare one; it is closed as soon as another connection waits.
    int spareConnectionMs = 500;
    // The pause after each answer before the next connection is taken up, which keeps the
    // server at about ten answers a second.
    int pauseMs = 100;
    // Failed logins and wrong login numbers are counted per address within this window...
    int missWindowMs = 60000;
    // ...and too many of them refuse that address's logins and controls for this long, twice
    // as long at each new lock of the same address, up to the longest lock-out.
    int lockoutMs = 30000;
    int maxLockoutMs = 15 * 60000;
    // Misses from all addresses together are counted within this window (loginguard.h).
    int crowdWindowMs = 10 * 60000;
    // A connection that has not completed its request is given this long at most once a
    // trusted address waits behind it.
    int trustedWaitMs = 500;
};
