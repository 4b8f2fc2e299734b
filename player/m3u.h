// Playlists as media players write them (.m3u, .m3u8): "#" lines are comments or extended
// information, a relative path is taken from the list file's folder, and an entry may be a
// file:// URL. No widgets: the playlist reads list files through here.
#pragma once

#include "listlines.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Whether the list file's name marks it as an m3u playlist (any case: Windows tools write
// ".M3U" too).
bool IsM3u(const QByteArray &listPath);

// How the lines of the m3u playlist at listPath are read: as they stand and, for .m3u only
// (written in the ANSI code page on Windows), as Shift_JIS; each reading also with Windows
// separators turned into "/"; relative ones from the list's folder.
ListLineReader::Rules M3uRules(const QByteArray &listPath);

// The file one line of an m3u playlist names, read by rules: the line as it stands, then
// without the white space around it, or the file of a local file:// URL. None for comments,
// other URLs and lines that name no file.
std::optional<QByteArray> M3uEntry(QByteArrayView line, const ListLineReader::Rules &rules,
                                   ListLineReader &reader);
