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

// The files an m3u playlist names, in order, each as the first reading of its line that names
// a file. A line is read as it stands and without the white space around it, each as its
// bytes stand, then, for .m3u only (written in the ANSI code page on Windows), as Shift_JIS;
// each reading also with Windows separators turned into "/"; relative ones from the list's
// folder. Lines naming no file, other URLs and comments give nothing.
QList<QByteArray> M3uEntries(const QByteArray &listPath, QByteArrayView bytes,
                             ListLineReader &reader);
