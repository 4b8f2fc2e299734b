// Tag reading speed: vbmp3_getFileInfo (frame check included) against TagLib alone reading the
// same title and artist, over many small tagged MP3 files with a warm cache.
//
// Usage: bench_fileinfo [files=10000] [runs=5]; needs sox and lame to make the one track the
// files are built from.
#include "benchsupport.h"
#include "engine/vbmp3.h"

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

    Vbmp3 engine(QCoreApplication::applicationDirPath());
    if (!engine.init()) {
        std::fprintf(stderr, "libvbmp3.so not found beside the benchmark\n");
        return 1;
    }
    int seen = 0;
    const double ours = medianRate(runs, files, [&] {
        for (const QByteArray &path : paths) {
            Vbmp3::TagRecord tag{};
            Vbmp3::StreamRecord stream{};
            seen += engine.getFileInfo(path, tag, stream) != 0 && tag.Title[0] != '\0';
        }
    });
    const double taglib = medianRate(runs, files, [&] {
        for (const QByteArray &path : paths) {
            TagLib::FileRef ref(path.constData());
            seen += !ref.isNull() && !ref.tag()->title().isEmpty() && !ref.tag()->artist().isEmpty();
        }
    });
    std::printf("files: %d of %lld bytes each, median of %d runs, warm cache\n", files,
                static_cast<long long>(QFileInfo(made.first()).size()), runs);
    std::printf("vbmp3_getFileInfo (frame check + tags): %8.0f files/s\n", ours);
    std::printf("TagLib FileRef alone (tags + properties): %8.0f files/s\n", taglib);
    std::printf("ratio: %.2f x TagLib alone  (%d tags read)\n", ours / taglib, seen);
    engine.free();
    return 0;
}
