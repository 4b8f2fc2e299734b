// The phone pages' bytes: the login page, the player page, the state as JSON, and their
// responses. UTF-8 with the character set declared, laid out for a phone's screen (viewport,
// 44 CSS px tap targets, 16 px text, light and dark), with inline style and script and no
// other resource. Every control is a button of one form, so the page works without JavaScript;
// with it, a few lines send the buttons' commands without a page load and refresh the state
// once a second from /m/state. The pages, their style and their script are files in
// webremote/phone/, filled in by PageTemplate (pagetemplate.h).
//
// Texts from tags and file names are HTML-escaped in the pages and JSON-escaped in the state.
// No page holds the session cookie.
#pragma once

#include "control/playercontrol.h"

#include <QByteArray>
#include <QString>

// Entries on one page of the playlist.
inline constexpr int PhoneEntriesPerPage = 100;

// The 200 response with body of the given type ("text/html" or "application/json").
QByteArray PhoneOkResponse(const QByteArray &body, const char *type);
// The 303 response to location, setting the session cookie when one is given.
QByteArray PhoneRedirect(const QByteArray &location, const QByteArray &session = {});

// The login page, its form carrying token; failed adds the one note every refused login gets.
QByteArray PhoneLoginPage(bool failed, const QByteArray &token);
// The page the QR code's address opens: a form that logs in with code by POST, sent at once by
// its script (or by a tap without one).
QByteArray PhonePairPage(const QByteArray &code);

// The player page showing the given page of the playlist (0 first; clamped), with entry
// `open` marked as playing; its form carries the session's form token. Without `operate` (a
// guest's page) it leaves out stop, seeking, the volume and loop play.
QByteArray PhonePlayerPage(const kelpa::PlayerControl &player, int page, int open,
                           const QByteArray &token, bool operate = true);
// The state the live page refreshes: status, state text, title, artist, position, length,
// volume (-1: none), loop, open entry, picture number (empty: none).
QByteArray PhoneState(const kelpa::PlayerControl &player, int open);

// A display text for entry index: its own, or its file name when that is empty.
QString PhoneEntryText(const kelpa::PlayerControl &player, int index);
