// Reading a request: when the received bytes hold a whole one, what its path is, and which
// answer the path asks for. No state and no I/O here; RemoteServer::HandleRequest acts on the
// result.
//
// Comparisons are exact and case-sensitive and nothing is percent-decoded: the remote's own
// pages produce exactly the paths routed here. Of the header lines only Host, Origin and
// Sec-Fetch-Site are read, to refuse what a page from elsewhere has a browser send.
#pragma once

#include "control/playercontrol.h"
#include "net/hostnames.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// A request that has not ended within this many bytes is refused: it is no browser's GET.
inline constexpr qsizetype RecvBufferLimit = 16 * 1024;

// The request is complete once the bytes hold an empty line (CR LF CR LF) anywhere: what
// follows it, a body or a second request, does not keep the first waiting.
bool IsRequestComplete(const QByteArray &received);

// The path of a complete request's request line (the text before the first CR LF) with the
// method "GET" and the protocol version taken off; nullopt when the request is refused
// (empty first line, no "HTTP" in the request or at its very start, a method other than GET).
// "HTTP" is looked for in the whole request, so the first occurrence cuts the line there.
std::optional<QString> RequestPath(const QString &request);

// Whether the request's Host line lets it in. It names the machine a browser was pointed at: a
// page from elsewhere that had its own name point at this machine (DNS rebinding) must not
// reach the remote, so only names no outside DNS can answer for are served: no Host line
// (HTTP/1.0 clients), an IP literal, "localhost", this machine's host name (or its first
// label), the fully qualified name the system reports for it, and its mDNS names ("NAME.local",
// "NAME-2.local" after a name conflict); in any case, with a trailing dot or a port. Refused:
// any other name, whatever its first label, and a Host line that is not well formed (a blank
// before the colon, user info, characters no host name holds, an empty value, more than one
// Host line).
bool IsHostAccepted(const QString &request, const HostNames &own);

// Whether a browser says the request comes from a page of another origin: "Sec-Fetch-Site:
// cross-site" or "same-site" (another port of this host), or an Origin other than the host
// the request was sent to (its Host line).
// Requests without these headers (feature phones, scripts, the remote's own links and form)
// are not cross-site.
bool IsCrossSite(const QString &request);

struct Route {
    enum Kind {
        LoginForm,  // the login page
        Login,      // the right ID: draw a login number and send the welcome page
        LoginError, // the login error page
        Control,    // run `command`, if any, then the control page
        PlayEntry,  // select `entry` and play it, then the control page (404 if refused)
        NotFound,
    };
    Kind kind = NotFound;
    std::optional<kelpa::Transport> command = std::nullopt;
    int16_t entry = 0;
    // A guess: a login with the wrong ID, or a control path with a number that is not the
    // login number.
    bool miss = false;
};

// Routes a path. loginNumber is the number of the last login, nullopt before the first one:
// until someone has logged in, no control path is valid. An empty ID never logs in.
Route RouteRequest(const QString &path, const QString &loginId, std::optional<int16_t> loginNumber);
