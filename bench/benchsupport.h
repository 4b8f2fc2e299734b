// What the benchmarks share: tagged tracks made at run time, and the kernel's memory figures.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace Bench {

// `count` MP3 files of one three-second tone, each with its own ID3v2.4 title and artist in
// Japanese (UTF-8), in dir. Empty, with the reason on stderr, when sox or lame fail.
QStringList makeTaggedTracks(const QString &dir, int count);

// The middle value; -1 for none.
double median(std::vector<double> values);

} // namespace Bench
