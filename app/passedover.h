// Files named on the command line that the playlist would take nothing from.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>

// Names on report, one a line, each file that is neither a track nor a list naming one (a
// typing error, a folder, a picture), so that it does not vanish without a word; a drop on the
// playlist passes over the same files in silence. Tracks are told by the engine library that
// the player loads from programDir; without one nothing is said (the player refuses to start,
// or the running copy reads the files). Reads each track's head, and each list only as far as
// its first track.
void NamePassedOver(const QList<QByteArray> &files, const QString &programDir,
                    FILE *report = stderr);
