#include "benchsupport.h"

#include "support/fixtures.h"

#include <QDir>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace Bench {

QStringList makeTaggedTracks(const QString &dir, int count)
{
    const QString tone = Fixtures::makeTone(dir, u"tone.mp3"_s, 3.0, 440);
    const QByteArray audio = tone.isEmpty() ? QByteArray() : Fixtures::readFile(tone);
    if (audio.isEmpty()) {
        std::fprintf(stderr, "cannot make the tracks: %s\n", qPrintable(Fixtures::lastError()));
        return {};
    }
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QByteArray tag = Fixtures::id3v2(
            {Fixtures::id3TextFrame("TIT2", u"曲 %1"_s.arg(i), Fixtures::Utf8),
             Fixtures::id3TextFrame("TPE1", u"歌手 %1"_s.arg(i % 97), Fixtures::Utf8)},
            4);
        const QString path = QDir(dir).filePath(u"%1.mp3"_s.arg(i));
        if (!Fixtures::writeFile(path, tag + audio)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return {};
        }
        paths.append(path);
    }
    return paths;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace Bench
