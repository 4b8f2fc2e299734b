// The phone page's search over the playlist: by title (the display text), artist and file
// name, with a query typed on a phone's keyboard. A phone types full-width Latin letters, a
// file name may hold half-width katakana, and a user who types in hiragana means the katakana
// title too, so text and query are folded alike before they are compared: case, full-width and
// half-width forms, hiragana and katakana, and voiced marks written apart (as the file names of
// some systems hold them) joined to their kana.
#pragma once

#include "control/playercontrol.h"

#include <QList>
#include <QString>
#include <QStringView>

// Appends text folded for comparison.
void AppendSearchFolded(QString &out, QStringView text);

// The entries that hold every word of the query (words apart by blanks, each in any of the
// three fields; the first MaxSearchWords count), in the playlist's order; all of them for a
// query without words.
QList<int> SearchEntries(const kelpa::PlayerControl &player, QStringView query);
inline constexpr qsizetype MaxSearchWords = 8;
