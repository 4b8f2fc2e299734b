// Reading a request to the phone pages (paths under "/m/"): the method, the path, the form
// fields of the query or the POST body, and the session cookie. No state and no I/O here;
// RemoteServer::HandlePhoneRequest acts on the result. Requests outside "/m/" never reach
// this reading: they are read as they always were (request.h).
//
// The phone pages are UTF-8, so their requests are read from the received bytes, not from
// the code page's decoding.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// A POST body larger than this is refused unread: the phone pages send a few bytes.
inline constexpr qsizetype PhoneBodyLimit = 4096;

// Whether the received bytes start a request for the phone pages: "GET /m/" or "POST /m/".
bool IsPhoneRequest(const QByteArray &received);

// For received bytes whose header block is complete (IsRequestComplete): whether the body a
// POST for the phone pages announces with Content-Length has come too. True for every other
// request, and for a body over PhoneBodyLimit (which is refused without waiting for it).
bool IsBodyComplete(const QByteArray &received);

struct PhoneRequest {
    bool post = false;
    QString path;                  // from "/m/" on, without the query
    QHash<QString, QString> query; // the query's fields
    QHash<QString, QString> form;  // a POST's form fields: what a command or login sends
    QByteArray session;            // the session cookie's value; empty without one
};

// The request in the received bytes; nullopt when it is no well-formed request for the phone
// pages (another method or path, no HTTP version, a body over the limit, a body of another
// type than a form's).
std::optional<PhoneRequest> ParsePhoneRequest(const QByteArray &received);

// The session cookie's name.
inline constexpr char PhoneCookieName[] = "kelpa_m";
