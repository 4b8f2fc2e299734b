// Reading a request: when the received bytes hold a whole one, what its path is, and which
// answer the path asks for. No state and no I/O here; FrmSver::HandleRequest acts on the
// result.
//
// Comparisons are exact and case-sensitive, nothing is percent-decoded, and header lines are
// not interpreted: the remote's own pages produce exactly the paths routed here.
#pragma once

#include "control/playercontrol.h"

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
};

// Routes a path. loginNumber is the number of the last login, nullopt before the first one:
// until someone has logged in, no control path is valid.
Route RouteRequest(const QString &path, const QString &loginId, std::optional<int16_t> loginNumber);
