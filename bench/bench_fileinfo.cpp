// Tag reading speed: vbmp3_getFileInfo (frame check included) against TagLib alone reading the
// same title and artist, over many small tagged MP3 files with a warm cache.
//
// Usage: bench_fileinfo [files=10000] [runs=5]; needs sox and lame to make the one track the
// files are built from.
#include "engine/vbmp3.h"

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray syncsafe(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i, v >>= 7)
        out[i] = static_cast<char>(v & 0x7F);
    return out;
}

QByteArray textFrame(const char *id, const QString &text)
{
    QByteArray body = "\x03" + text.toUtf8(); // UTF-8, as ID3v2.4 allows
    return QByteArray(id) + syncsafe(static_cast<quint32>(body.size())) + QByteArray(2, '\0') + body;
}

QByteArray id3v2(int i)
{
    const QByteArray frames = textFrame("TIT2", u"曲 %1"_s.arg(i)) + textFrame("TPE1", u"歌手 %1"_s.arg(i % 97));
    return QByteArray("ID3\x04\x00\x00", 6) + syncsafe(static_cast<quint32>(frames.size())) + frames;
}

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

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
    const QString wav = dir.filePath(u"t.wav"_s);
    const QString mp3 = dir.filePath(u"t.mp3"_s);
    if (!run(u"sox"_s, {u"-n"_s, u"-r"_s, u"44100"_s, u"-c"_s, u"2"_s, wav, u"synth"_s, u"3"_s, u"sine"_s, u"440"_s}) ||
        !run(u"lame"_s, {u"--quiet"_s, u"-b"_s, u"128"_s, wav, mp3})) {
        std::fprintf(stderr, "sox and lame are needed to make the files\n");
        return 1;
    }
    QFile source(mp3);
    source.open(QIODevice::ReadOnly);
    const QByteArray audio = source.readAll();
    std::vector<QByteArray> paths;
    for (int i = 0; i < files; ++i) {
        const QString path = dir.filePath(u"%1.mp3"_s.arg(i));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(id3v2(i) + audio) < 0)
            return 1;
        paths.push_back(QFile::encodeName(path));
    }

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
                static_cast<long long>(audio.size() + id3v2(0).size()), runs);
    std::printf("vbmp3_getFileInfo (frame check + tags): %8.0f files/s\n", ours);
    std::printf("TagLib FileRef alone (tags + properties): %8.0f files/s\n", taglib);
    std::printf("ratio: %.2f x TagLib alone  (%d tags read)\n", ours / taglib, seen);
    engine.free();
    return 0;
}
