// How long a seek keeps the caller (the player's UI thread) waiting: the longest vbmp3_seek
// call, and the longest vbmp3_getState call in the half second after it, while playing
// - a normal 5:00 CBR track, seeking to 20 spread-out seconds, and
// - a hostile file: the Info frame and four audio frames of a 3 s track, then zeros up to
//   `sparse` bytes (a sparse file), seeking to second 2 and back to 0.
//
// Then the worst and 99th-percentile time of vbmp3_getState, called every millisecond for 10 s
// while the 5:00 track plays (the engine thread decodes meanwhile).
//
// Usage: bench_seek [sparse bytes=1073741824]; needs a sound server, sox and lame.
#include "engine/enginelibrary.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct Waits {
    double openMs = 0;
    double seekMs = 0;
    double stateMs = 0;
};

double msOf(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

Waits measure(EngineLibrary &engine, const QString &file, const std::vector<int> &targets)
{
    Waits waits;
    EngineLibrary::OpenRecord record{};
    QElapsedTimer timer;
    timer.start();
    if (engine.open(QFile::encodeName(file), record) == 0) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
        return waits;
    }
    waits.openMs = msOf(timer);
    engine.play();
    QThread::msleep(300);
    for (const int target : targets) {
        timer.start();
        engine.seek(target);
        waits.seekMs = std::max(waits.seekMs, msOf(timer));
        QElapsedTimer window;
        window.start();
        while (window.elapsed() < 500) {
            int32_t seconds = 0;
            timer.start();
            engine.getState(seconds);
            waits.stateMs = std::max(waits.stateMs, msOf(timer));
            QThread::msleep(5);
        }
    }
    engine.close();
    return waits;
}

QString makeSparse(const QString &dir, qint64 size)
{
    const QString file = Fixtures::makeTone(dir, u"sparse.mp3"_s, 3.0, 440);
    const QList<qint64> frames = file.isEmpty() ? QList<qint64>{} : Fixtures::frameOffsets(file);
    if (frames.size() < 6 || !Fixtures::truncate(file, frames[5]) ||
        !Fixtures::truncate(file, size))
        return {};
    return file;
}

void stateWhilePlaying(EngineLibrary &engine, const QString &file)
{
    EngineLibrary::OpenRecord record{};
    if (engine.open(QFile::encodeName(file), record) == 0)
        return;
    engine.play();
    std::vector<double> times;
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < 10000) {
        int32_t seconds = 0;
        QElapsedTimer timer;
        timer.start();
        engine.getState(seconds);
        times.push_back(msOf(timer));
        QThread::usleep(1000);
    }
    engine.close();
    std::sort(times.begin(), times.end());
    std::printf("getState while playing, %zu calls: 99th percentile %.3f ms, worst %.3f ms\n",
                times.size(), times[times.size() * 99 / 100], times.back());
}

void print(const char *what, const Waits &w)
{
    std::printf("%-34s open %8.2f ms   longest seek %8.2f ms   longest getState %8.2f ms\n", what,
                w.openMs, w.seekMs, w.stateMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 sparseBytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : qint64{1} << 30;
    QTemporaryDir dir;
    EngineLibrary engine(QCoreApplication::applicationDirPath());
    if (!engine.init()) {
        std::fprintf(stderr, "libvbmp3.so not found beside the benchmark\n");
        return 1;
    }
    const QString normal = Fixtures::makeTone(dir.path(), u"normal.mp3"_s, 300.0, 440);
    const QString sparse = makeSparse(dir.path(), sparseBytes);
    if (normal.isEmpty() || sparse.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(Fixtures::lastError()));
        return 1;
    }
    std::vector<int> spread;
    for (int i = 0; i < 20; ++i)
        spread.push_back((i * 137) % 299);
    print("5:00 CBR track, 20 seeks", measure(engine, normal, spread));
    const QByteArray label = "sparse " + QByteArray::number(sparseBytes >> 20) + " MiB, 2 seeks";
    print(label.constData(), measure(engine, sparse, {2, 0}));
    stateWhilePlaying(engine, normal);
    engine.free();
    return 0;
}
