#include "playlistloader.h"

namespace {

// A batch goes to the window when it is this large or this old, whichever comes first: large
// enough that a list of thousands is added in few steps, soon enough that the first entries
// show at once.
constexpr qsizetype kBatchEntries = 512;
constexpr qint64 kBatchMs = 25;

} // namespace

PlaylistLoader::PlaylistLoader(TagReader readTags, int room, QObject *parent)
    : QObject(parent), readTags_(std::move(readTags)), worker_(new QObject), room_(room)
{
    thread_.setObjectName(QStringLiteral("kelpa playlist"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

PlaylistLoader::~PlaylistLoader()
{
    Stop();
}

int PlaylistLoader::Add(const QList<QByteArray> &paths, uint8_t showType)
{
    const int job = ++lastJob_;
    if (stop_)
        return job;
    ++pending_;
    QMetaObject::invokeMethod(
        worker_, [this, job, paths, showType] { Read(job, paths, showType); },
        Qt::QueuedConnection);
    return job;
}

void PlaylistLoader::Freed(int count)
{
    room_ += count;
}

void PlaylistLoader::Stop()
{
    stop_ = true;
    thread_.quit();
    thread_.wait();
}

void PlaylistLoader::Read(int job, const QList<QByteArray> &paths, uint8_t showType)
{
    QList<PlaylistEntry> batch;
    QElapsedTimer sinceLast;
    sinceLast.start();
    PlaylistReader(readTags_, showType, &stop_).Read(paths, [&](PlaylistEntry &&entry) {
        if (room_.fetch_sub(1) <= 0) { // full: nothing more is read, as with the cap
            ++room_;
            return false;
        }
        batch.append(std::move(entry));
        if (batch.size() >= kBatchEntries || sinceLast.elapsed() >= kBatchMs)
            Deliver(job, batch, sinceLast);
        return true;
    });
    Deliver(job, batch, sinceLast);
    QMetaObject::invokeMethod(
        this,
        [this, job] {
            --pending_;
            emit finished(job);
        },
        Qt::QueuedConnection);
}

void PlaylistLoader::Deliver(int job, QList<PlaylistEntry> &batch, QElapsedTimer &sinceLast)
{
    sinceLast.restart();
    if (batch.isEmpty())
        return;
    QMetaObject::invokeMethod(
        this, [this, job, entries = std::move(batch)] { emit entriesRead(job, entries); },
        Qt::QueuedConnection);
    batch = {};
}
