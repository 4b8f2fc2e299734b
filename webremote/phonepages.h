// The phone pages' bytes: the login page, the player page, the state as JSON, and their
// responses. UTF-8 with the character set declared, laid out for a phone's screen (viewport,
// 44 CSS px tap targets, 16 px text, light and dark), with inline style and script and no
// other resource. Every control is a button of one form, so the page works without JavaScript;
// with it, a few lines send the buttons' commands without a page load and refresh the state
// once a second from /m/state. The pages, their style and their script are files in
// webremote/phone/, filled in by PageTemplate (pagetemplate.h).
//
// Texts from tags and file names are HTML-escaped in the pages and JSON-escaped in the state.
// No page holds the session cookie. The login and player pages name the machine (its host
// name), so that a phone that knows several tells them apart.
#pragma once

#include "control/playercontrol.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Entries on one page of the playlist.
inline constexpr int PhoneEntriesPerPage = 100;

// The 200 response with body of the given type ("text/html" or "application/json").
QByteArray PhoneOkResponse(const QByteArray &body, const char *type);
// The 303 response to location, setting the session cookie when one is given.
QByteArray PhoneRedirect(const QByteArray &location, const QByteArray &session = {});

// Why the login page is shown again: each refusal says what applies to it alone.
enum class PhoneLoginNote {
    None,
    WrongId,
    CodeUsed, // a pairing code that was used already, or lapsed
    Locked,   // the address may not try now
};
// The login page, its form carrying token, with the note; a locked address is told how long
// it waits (lockedMs).
QByteArray PhoneLoginPage(PhoneLoginNote note, const QByteArray &token, qint64 lockedMs = 0);
// The page the QR code's address opens: a form that logs in with code by POST, sent at once by
// its script (or by a tap without one).
QByteArray PhonePairPage(const QByteArray &code);

// What one phone's player page shows beyond the player.
struct PhoneView {
    int page = -1;       // of the list (0 first; clamped); -1: the page of the open entry
    QString query;       // the search; the whole playlist without words
    QByteArray token;    // the session's form token, which the page's forms carry
    QString note;        // what this phone is to be told once; empty for nothing
    bool operate = true; // false for a guest's page: no stop, seeking, volume or loop play
};

// The player page: the player, and a page of the playlist (or of the entries the search
// finds), each entry with its number, its length where known, and in the command it sends the
// playlist's revision and its path's key (PhoneEntryKey), so that a list changed meanwhile
// never plays the wrong entry. The entry of the open track is marked as playing.
QByteArray PhonePlayerPage(const kelpa::PlayerControl &player, const PhoneView &view);
// The state the live page refreshes: status, state text, title, artist, position, length,
// volume (-1: none), muted, loop, open entry, the playlist's revision, picture number (empty:
// none) and the note (once).
QByteArray PhoneState(const kelpa::PlayerControl &player, const QString &note = {});

// What a command carries besides an entry's index to name its file: a digest of its path.
QByteArray PhoneEntryKey(const QByteArray &path);

// A display text for entry index: its own, or its file name when that is empty.
QString PhoneEntryText(const kelpa::PlayerControl &player, int index);
// The file name of a path, as the pages show it.
QString PhoneFileName(const QByteArray &path);
