// Tag reading speed: vbmp3_getFileInfo (frame check included) against TagLib alone reading the
// same title and artist, over many small tagged MP3 files with a warm cache; then the time of
// one vbmp3_getFileInfo and one vbmp3_open on hostile tags (700,000 tiny TXXX frames in 9 MB,
// a 5 MB picture), each with the title and artist after the bulk.
//
// Usage: bench_fileinfo [files=10000] [runs=5]; needs sox and lame to make the one track the
// files are built from.
#include "benchsupport.h"
#include "engine/enginelibrary.h"
#include "support/fixtures.h"

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

template <typename F> double medianRate(int runs, int files, F &&pass)
{
    pass(); // warm the cache and the libraries
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        pass();
        rates.push_back(files / (timer.nsecsElapsed() / 1e9));
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

double medianMs(int runs, const std::function<void()> &call)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        call();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void hostileTags(EngineLibrary &engine, const QString &dir, const QString &track)
{
    using namespace Fixtures;
    const QList<Id3Frame> names = {id3TextFrame("TIT2", u"題名"_s, Utf8),
                                   id3TextFrame("TPE1", u"歌手"_s, Utf8)};
    QList<Id3Frame> tiny(700000, Id3Frame{"TXXX", QByteArray("\0a\0b", 4)});
    const QList<Id3Frame> picture = {
        Id3Frame{"APIC", "\0image/jpeg\0\3\0" + QByteArray(5 << 20, '\x5A')}};
    const QByteArray audio = readFile(track);
    const struct {
        const char *what;
        QByteArray tag;
    } cases[] = {{"700,000 TXXX frames", id3v2(tiny + names, 4)},
                 {"5 MB picture", id3v2(picture + names, 4)}};
    for (const auto &c : cases) {
        const QString file = dir + u"/hostile.mp3"_s;
        writeFile(file, c.tag + audio);
        const QByteArray path = QFile::encodeName(file);
        bool named = true;
        const double info = medianMs(5, [&] {
            EngineLibrary::TagRecord tag{};
            EngineLibrary::StreamRecord stream{};
            named = named && engine.getFileInfo(path, tag, stream) != 0 &&
                    CutAtNull(tag.Title) == u"題名"_s && CutAtNull(tag.Artist) == u"歌手"_s;
        });
        const double open = medianMs(5, [&] {
            EngineLibrary::OpenRecord record{};
            engine.open(path, record);
        });
        engine.close();
        std::printf(
            "%-22s (%5.1f MB tag): getFileInfo %8.2f ms, open %8.2f ms, title and artist %s\n",
            c.what, c.tag.size() / 1e6, info, open, named ? "read" : "LOST");
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir;
    const QStringList made = Bench::makeTaggedTracks(dir.path(), files);
    if (made.isEmpty())
        return 1;
    std::vector<QByteArray> paths;
    for (const QString &path : made)
        paths.push_back(QFile::encodeName(path));

    EngineLibrary engine(QCoreApplication::applicationDirPath());
    if (!engine.init()) {
        std::fprintf(stderr, "libvbmp3.so not found beside the benchmark\n");
        return 1;
    }
    int seen = 0;
    const double ours = medianRate(runs, files, [&] {
        for (const QByteArray &path : paths) {
            EngineLibrary::TagRecord tag{};
            EngineLibrary::StreamRecord stream{};
            seen += engine.getFileInfo(path, tag, stream) != 0 && tag.Title[0] != '\0';
        }
    });
    const double taglib = medianRate(runs, files, [&] {
        for (const QByteArray &path : paths) {
            TagLib::FileRef ref(path.constData());
            seen +=
                !ref.isNull() && !ref.tag()->title().isEmpty() && !ref.tag()->artist().isEmpty();
        }
    });
    std::printf("files: %d of %lld bytes each, median of %d runs, warm cache\n", files,
                static_cast<long long>(QFileInfo(made.first()).size()), runs);
    std::printf("vbmp3_getFileInfo (frame check + tags): %8.0f files/s\n", ours);
    std::printf("TagLib FileRef alone (tags + properties): %8.0f files/s\n", taglib);
    std::printf("ratio: %.2f x TagLib alone  (%d tags read)\n", ours / taglib, seen);
    hostileTags(engine, dir.path(), made.first());
    engine.free();
    return 0;
}
