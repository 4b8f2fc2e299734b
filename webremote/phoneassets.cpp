#include "phoneassets.h"

#include "control/playercontrol.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray assetResponse(const QByteArray &body, const char *type, const char *cache)
{
    // Typed as they are, never sniffed into a page, and never a page's frame or script.
    return "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nContent-Type: " + type +
           "\r\nCache-Control: " + cache +
           "\r\nX-Content-Type-Options: nosniff\r\nContent-Security-Policy: default-src 'none'; "
           "frame-ancestors 'none'\r\n\r\n" +
           body;
}

} // namespace

std::optional<QByteArray> PhoneAssetResponse(QStringView path)
{
    struct Asset {
        QStringView path;
        const char *type;
    };
    static constexpr Asset Assets[] = {
        {u"/m/manifest.webmanifest", "application/manifest+json"},
        {u"/m/icon-192.png", "image/png"},
        {u"/m/icon-512.png", "image/png"},
        {u"/m/apple-touch-icon.png", "image/png"},
    };
    for (const Asset &asset : Assets) {
        if (asset.path != path)
            continue;
        QFile file(u":/phone/"_s + asset.path.mid(3).toString());
        // Built in: a file missing from the build is a fault of the build.
        if (!file.open(QIODevice::ReadOnly))
            qFatal("phone asset missing: %s", qPrintable(file.fileName()));
        // The same bytes for the whole run, and for everyone.
        return assetResponse(file.readAll(), asset.type, "max-age=86400");
    }
    return std::nullopt;
}

QByteArray PhonePictureResponse(const QByteArray &picture)
{
    if (picture.size() > kelpa::MaxPictureBytes)
        return {};
    const char *type = picture.startsWith("\xFF\xD8\xFF")        ? "image/jpeg"
                       : picture.startsWith("\x89PNG\r\n\x1A\n") ? "image/png"
                                                                 : nullptr;
    // The address carries the picture's number; a new run numbers afresh, so nothing is kept.
    return type ? assetResponse(picture, type, "no-store") : QByteArray();
}
