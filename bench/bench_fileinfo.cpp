// Tag reading speed: vbmp3_getFileInfo (frame check included) against TagLib alone reading the
// same title and artist, over many small tagged MP3 files with a warm cache; then the time of
// one vbmp3_getFileInfo and one vbmp3_open on hostile tags (700,000 tiny TXXX frames in 9 MB,
// a 5 MB picture, 256 MB of tiny or of 64 KB frames), each with the title and artist after the
// bulk, and on 300 MB files without a length header (CBR and VBR): vbmp3_open of the file not
// read before, vbmp3_getFileInfo (which counts a VBR file's frames) and vbmp3_open after it.
// The large files are written at run time into a temporary folder and removed again.
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

#include <fcntl.h>
#include <sys/stat.h>

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

// The median time of `call`; `before` runs untimed before each call.
double medianMs(
    int runs, const std::function<void()> &call, const std::function<void()> &before = [] {})
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        before();
        QElapsedTimer timer;
        timer.start();
        call();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Writes a hostile file piece by piece, so that a file of hundreds of megabytes never sits in
// memory: an ID3v2.4 header stating `tagBytes`, then what `body` writes.
bool writeHostile(const QString &path, qint64 tagBytes, const std::function<bool(QFile &)> &body)
{
    QFile file(path);
    const QByteArray header =
        QByteArray("ID3\4\0\0", 6) + Fixtures::syncsafe(static_cast<quint32>(tagBytes));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(header) == 10 &&
           body(file);
}

// `count` copies of `frame`, written a megabyte at a time.
bool writeRepeated(QFile &file, const QByteArray &frame, qint64 count)
{
    const qint64 perChunk = std::max<qint64>(1, (1 << 20) / frame.size());
    const QByteArray chunk = frame.repeated(perChunk);
    for (qint64 left = count; left > 0; left -= perChunk) {
        const QByteArray piece = left >= perChunk ? chunk : frame.repeated(left);
        if (file.write(piece) != piece.size())
            return false;
    }
    return true;
}

QByteArray frameBytes(const QList<Fixtures::Id3Frame> &frames)
{
    // A tag of just these frames, without its 10-byte header.
    return Fixtures::id3v2(frames, 4).mid(10);
}

// 300 MB files without a length header, made of copies of a short track: CBR, measured by its
// size, and VBR, whose length vbmp3_open estimates unless vbmp3_getFileInfo counted it before.
void lengthWithoutHeader(EngineLibrary &engine, const QString &dir)
{
    Fixtures::ToneOptions bare;
    bare.noXingHeader = true;
    Fixtures::ToneOptions bareVbr = bare;
    bareVbr.vbr = true;
    const struct {
        const char *what;
        Fixtures::ToneOptions options;
    } cases[] = {{"300 MB CBR, no header", bare}, {"300 MB VBR, no header", bareVbr}};
    const QString file = dir + u"/long.mp3"_s;
    for (const auto &c : cases) {
        const QString part = Fixtures::makeTone(dir, u"part.mp3"_s, 10.0, 440, c.options);
        const QByteArray audio = part.isEmpty() ? QByteArray() : Fixtures::readFile(part);
        QFile out(file);
        if (audio.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            !writeRepeated(out, audio, (qint64{300} << 20) / audio.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return;
        }
        const qint64 copies = (qint64{300} << 20) / audio.size();
        out.close();
        const QByteArray path = QFile::encodeName(file);
        int seconds = 0;
        const auto open = [&] {
            EngineLibrary::OpenRecord record{};
            engine.open(path, record);
            seconds = record.TotalSeconds;
        };
        const double unread = medianMs(5, open);
        const int estimated = seconds;
        // A new modification time before each read, so that the file is counted each time.
        timespec modified{1000000000, 0};
        const double info = medianMs(
            5,
            [&] {
                EngineLibrary::TagRecord tag{};
                EngineLibrary::StreamRecord stream{};
                engine.getFileInfo(path, tag, stream);
            },
            [&] {
                ++modified.tv_sec;
                const timespec times[2] = {modified, modified};
                ::utimensat(AT_FDCWD, path.constData(), times, 0);
            });
        const double read = medianMs(5, open);
        engine.close();
        std::printf("%-24s (%5.1f MB): open unread %8.2f ms (length %d s), getFileInfo %8.2f ms, "
                    "open after it %8.2f ms (length %d s; %lld copies of 10 s)\n",
                    c.what, QFileInfo(file).size() / 1e6, unread, estimated, info, read, seconds,
                    static_cast<long long>(copies));
    }
    QFile::remove(file);
}

// The time of vbmp3_getFileInfo and vbmp3_open on tags built to be slow to read, each with the
// title and artist after the bulk, and of vbmp3_open on long files without a length header.
void hostileFiles(EngineLibrary &engine, const QString &dir, const QString &track)
{
    using namespace Fixtures;
    const QByteArray names =
        frameBytes({id3TextFrame("TIT2", u"題名"_s, Utf8), id3TextFrame("TPE1", u"歌手"_s, Utf8)});
    const QByteArray audio = readFile(track);
    const QByteArray tiny = frameBytes({Id3Frame{"TXXX", QByteArray("\0a\0b", 4)}});
    const QByteArray picture = "\0image/jpeg\0\3\0";
    const struct {
        const char *what;
        qint64 frames;
        QByteArray frame;
    } tags[] = {
        {"700,000 TXXX frames", 700000, tiny},
        {"5 MB picture", 1, frameBytes({Id3Frame{"APIC", picture + QByteArray(5 << 20, 'Z')}})},
        // As large as ID3v2 can state.
        {"256 MB of TXXX frames", (qint64{256} << 20) / tiny.size() - 4, tiny},
        {"256 MB of 64 KB frames", 4095,
         frameBytes({Id3Frame{"APIC", picture + QByteArray((64 << 10) - 14 - 10, 'Z')}})},
    };
    const QString file = dir + u"/hostile.mp3"_s;
    for (const auto &c : tags) {
        const qint64 tagBytes = c.frames * c.frame.size() + names.size();
        if (!writeHostile(file, tagBytes, [&](QFile &f) {
                return writeRepeated(f, c.frame, c.frames) && f.write(names) == names.size() &&
                       f.write(audio) == audio.size();
            })) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return;
        }
        const QByteArray path = QFile::encodeName(file);
        bool named = true;
        const double info = medianMs(5, [&] {
            EngineLibrary::TagRecord tag{};
            EngineLibrary::StreamRecord stream{};
            const bool found = engine.getFileInfo(path, tag, stream) != 0;
            named = named && found && CutAtNull(tag.Title) == u"題名"_s &&
                    CutAtNull(tag.Artist) == u"歌手"_s;
        });
        const double open = medianMs(5, [&] {
            EngineLibrary::OpenRecord record{};
            engine.open(path, record);
        });
        engine.close();
        std::printf("%-24s (%5.1f MB tag): getFileInfo %8.2f ms, open %8.2f ms, title and artist "
                    "%s\n",
                    c.what, tagBytes / 1e6, info, open,
                    named ? "read" : "not read (past the bound)");
    }
    QFile::remove(file);
    lengthWithoutHeader(engine, dir);
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
    hostileFiles(engine, dir.path(), made.first());
    engine.free();
    return 0;
}
