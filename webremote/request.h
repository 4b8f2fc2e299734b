// Reading a request: one parser from the received bytes to the request line's words, the
// header lines and the body, for every route; the design's routes and the phone pages read
// their headers through the same accessor, by the same rules. No state and no I/O here;
// remotehandler.h acts on the result.
//
// The design's routes read their path by the design's own rules from the whole request as
// text (decoded from the code page, net/ansi.h): exact and case-sensitive comparisons, nothing
// percent-decoded. The phone pages are UTF-8: their target, form fields and cookie are read
// from the bytes.
#pragma once

#include "control/playercontrol.h"
#include "net/hostnames.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// A request that has not ended within this many bytes is refused: it is no browser's GET.
inline constexpr qsizetype RecvBufferLimit = 16 * 1024;
// A POST body larger than this is refused unread: the phone pages send a few bytes.
inline constexpr qsizetype PhoneBodyLimit = 4096;
// The phone pages' session cookie.
inline constexpr char PhoneCookieName[] = "kelpa_m";

// Whether the received bytes hold a whole request: the header block has ended (CR LF CR LF
// anywhere: what follows, a body or a second request, does not keep the first waiting), and
// a POST to the phone pages has the body it announced (or announces one over the limit, which
// is refused without waiting for it).
bool IsRequestComplete(const QByteArray &received);

struct Request {
    QByteArray received; // everything, as it came
    QString text;        // everything, decoded from the code page; empty for the phone pages
    // The request line's words ("GET", "/m/?page=2", "HTTP/1.1"); empty when it has not three.
    QByteArray method, target, version;
    struct Header {
        QByteArray name, value; // the value trimmed
        bool wellFormed;        // no blank between the name and the colon
    };
    QList<Header> headers;
    QByteArray body; // what follows the header block

    // The values of the header lines named `name` (in any case), in order; nullopt for a line
    // that is not well formed.
    QList<std::optional<QByteArray>> values(QByteArrayView name) const;
};

Request ReadRequest(const QByteArray &received);

// Whether it asks for the phone pages: "GET /m/..." or "POST /m/...".
bool IsPhoneRequest(const QByteArray &received);

// The design's path: the text before the first CR LF with the method "GET" and the protocol
// version taken off; nullopt when the request is refused (empty first line, no "HTTP" in the
// request or at its very start, a method other than GET). "HTTP" is looked for in the whole
// request, so the first occurrence cuts the line there.
std::optional<QString> DesignPath(const Request &request);

// What a request to the phone pages carries beyond its path.
struct PhoneFields {
    bool post = false;
    QString path;                  // from "/m/" on, without the query
    QHash<QString, QString> query; // the query's fields
    QHash<QString, QString> form;  // a POST's form fields: what a command or login sends
    QByteArray session;            // the session cookie's value; empty without one
};
// nullopt when it is no well-formed request for the phone pages (another method or path, no
// HTTP version, a body over the limit, a body of another type than a form's).
std::optional<PhoneFields> ReadPhoneFields(const Request &request);

// Whether the request's Host line lets it in. It names the machine a browser was pointed at: a
// page from elsewhere that had its own name point at this machine (DNS rebinding) must not
// reach the remote, so only names no outside DNS can answer for are served: no Host line
// (HTTP/1.0 clients), an IP literal, "localhost", this machine's host name (or its first
// label), the fully qualified name the system reports for it, and its mDNS names ("NAME.local",
// "NAME-2.local" after a name conflict); in any case, with a trailing dot or a port. Refused:
// any other name, whatever its first label, and a Host line that is not well formed (a blank
// before the colon, user info, characters no host name holds, an empty value, more than one
// Host line).
bool IsHostAccepted(const Request &request, const HostNames &own);

// Whether a browser says the request comes from a page of another origin: "Sec-Fetch-Site:
// cross-site" or "same-site" (another port of this host), or an Origin other than the host
// the request was sent to (its Host line). Requests without these headers (feature phones,
// scripts, the remote's own links and form) are not cross-site.
bool IsCrossSite(const Request &request);

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

// Routes a design path. loginNumber is the number valid for this request, nullopt when there
// is none (before the first login, or from another address than the login's): then no control
// path is valid. An empty ID never logs in.
Route RouteRequest(const QString &path, const QString &loginId, std::optional<int16_t> loginNumber);
