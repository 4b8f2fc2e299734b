#include "qrcode.h"

#include <QPainter>

#include <qrencode.h>

#include <memory>

namespace {

constexpr int QuietZone = 4; // modules of white on each side, as the standard asks

struct QrCodeFree {
    void operator()(QRcode *code) const { QRcode_free(code); }
};
using QrCodePtr = std::unique_ptr<QRcode, QrCodeFree>;

QrCodePtr encode(const QByteArray &text)
{
    // Version 0: the smallest that holds the text. Byte mode keeps the case of the address.
    return QrCodePtr(QRcode_encodeString(text.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
}

} // namespace

QImage QrCodeImage(const QByteArray &text, int maxSide)
{
    const QrCodePtr code = encode(text);
    if (!code)
        return {};
    const int modules = code->width + 2 * QuietZone;
    const int modulePixels = qMax(1, maxSide / modules);
    const int side = modules * modulePixels;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // Bit 0 of each module's byte is its colour: 1 is black.
            if (code->data[y * code->width + x] & 1)
                painter.fillRect((x + QuietZone) * modulePixels, (y + QuietZone) * modulePixels,
                                 modulePixels, modulePixels, Qt::black);
        }
    }
    return image;
}
