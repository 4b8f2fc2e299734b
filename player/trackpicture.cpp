#include "trackpicture.h"

TrackPictureReader::TrackPictureReader(std::function<QByteArray(const QByteArray &)> read,
                                       QObject *parent)
    : QObject(parent), read_(std::move(read)), worker_(new QObject)
{
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

TrackPictureReader::~TrackPictureReader()
{
    Stop();
}

void TrackPictureReader::Open(const QByteArray &path)
{
    const quint64 serial = ++latest_;
    picture_ = {};
    QMetaObject::invokeMethod(worker_, [this, serial, path] {
        // Tracks skipped through quickly cost no reads.
        if (serial != latest_)
            return;
        const QByteArray bytes = read_(path);
        QMetaObject::invokeMethod(this, [this, serial, bytes] {
            if (serial == latest_ && !bytes.isEmpty())
                picture_ = {bytes, serial};
        });
    });
}

void TrackPictureReader::Close()
{
    ++latest_;
    picture_ = {};
}

void TrackPictureReader::Stop()
{
    ++latest_;
    thread_.quit();
    thread_.wait();
}
