// Build-time tool: writes one PNG of the program's icon at a given size for the icon theme, or
// with --tile for a phone's home screen.
//   kelpa_iconpng ICON SIZE OUT.png [--tile]
// The icon holds small pixel images only, so it picks the largest and deepest one and scales
// it: whole-number enlargements keep hard pixel edges, other sizes are smoothed. A tile is
// opaque white, as home screens put a transparent icon on a colour of their own (black, on
// some), with the icon enlarged by the largest whole number that leaves a margin around it.

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cstdio>

static QImage LargestImage(const QString &path)
{
    QImageReader reader(path);
    QImage best;
    do {
        const QImage image = reader.read();
        if (image.isNull())
            break;
        const auto area = [](const QImage &i) { return i.width() * i.height(); };
        if (best.isNull() || area(image) > area(best) ||
            (area(image) == area(best) && image.depth() > best.depth()))
            best = image;
    } while (reader.jumpToNextImage());
    return best;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool sizeOk = false;
    const bool tile = args.size() == 5 && args[4] == QLatin1String("--tile");
    const int size = args.size() == 4 || tile ? args[2].toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fputs("usage: kelpa_iconpng ICON SIZE OUT.png [--tile]\n", stderr);
        return 2;
    }
    const QImage source = LargestImage(args[1]);
    if (source.isNull()) {
        std::fprintf(stderr, "kelpa_iconpng: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const bool whole = size % source.width() == 0 && size % source.height() == 0;
    QImage scaled = source.convertToFormat(QImage::Format_ARGB32)
                        .scaled(size, size, Qt::IgnoreAspectRatio,
                                whole ? Qt::FastTransformation : Qt::SmoothTransformation);
    if (tile) {
        const int times =
            std::max(1, (size - size / 8) / std::max(source.width(), source.height()));
        QImage canvas(size, size, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        const QImage icon = source.convertToFormat(QImage::Format_ARGB32)
                                .scaled(source.width() * times, source.height() * times,
                                        Qt::IgnoreAspectRatio, Qt::FastTransformation);
        painter.drawImage((size - icon.width()) / 2, (size - icon.height()) / 2, icon);
        painter.end();
        scaled = canvas;
    }
    if (!scaled.save(args[3], "PNG")) {
        std::fprintf(stderr, "kelpa_iconpng: cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    return 0;
}
