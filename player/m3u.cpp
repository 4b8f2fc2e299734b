#include "m3u.h"

#include "trimblanks.h"

#include <QFile>
#include <QStringDecoder>

namespace {

QList<QByteArrayView> Lines(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        lines.append(bytes.sliced(start, i - start));
        start = i + 1;
    }
    return lines;
}

// The path of a local file:// URL, percent-decoded to the file system's bytes; empty for any
// other URL. "file:///p" and "file://localhost/p" are local.
QByteArray LocalPathOfUrl(QByteArrayView url)
{
    static constexpr QByteArrayView kScheme = "file://";
    if (url.size() < kScheme.size() ||
        url.first(kScheme.size()).compare(kScheme, Qt::CaseInsensitive) != 0)
        return {};
    QByteArrayView rest = url.sliced(kScheme.size());
    if (rest.startsWith("localhost/"))
        rest = rest.sliced(9);
    if (!rest.startsWith('/'))
        return {};
    return QByteArray::fromPercentEncoding(rest.toByteArray());
}

// "a/./b/../c" as "a/c": the name the playlist shows and hands on is the plain one.
QByteArray WithoutDots(const QByteArray &path)
{
    const bool absolute = path.startsWith('/');
    QList<QByteArray> kept;
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == ".." && !kept.isEmpty() && kept.last() != "..")
            kept.removeLast();
        else if (part != ".." || !absolute) // above the root is the root
            kept.append(part);
    }
    return (absolute ? QByteArray("/") : QByteArray()) + kept.join('/');
}

} // namespace

bool IsM3u(const QByteArray &listPath)
{
    const QByteArray name = listPath.toLower();
    return name.endsWith(".m3u") || name.endsWith(".m3u8");
}

QList<QByteArray> M3uEntries(const QByteArray &listPath, QByteArrayView bytes,
                             bool (*namesAFile)(QByteArray))
{
    const qsizetype slash = listPath.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : listPath.first(slash + 1);
    const bool utf8 = listPath.toLower().endsWith(".m3u8");
    QStringDecoder shiftJis("Shift_JIS");

    QList<QByteArray> entries;
    for (const QByteArrayView line : Lines(bytes)) {
        const QByteArray text = line.trimmed().toByteArray();
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        QList<QByteArray> readings;
        if (text.contains("://")) {
            readings.append(LocalPathOfUrl(text));
        } else {
            // As it stands first, so that blanks that belong to a name keep it; then without
            // the white space that editors leave around a line.
            for (const QByteArray &base : {line.toByteArray(), text}) {
                readings.append(base);
                if (!utf8 && shiftJis.isValid()) {
                    shiftJis.resetState();
                    const QByteArray name = QFile::encodeName(shiftJis(base));
                    if (!shiftJis.hasError() && name != base)
                        readings.append(name);
                }
            }
            for (qsizetype i = 0, n = readings.size(); i < n; ++i) {
                if (readings[i].contains('\\'))
                    readings.append(QByteArray(readings[i]).replace('\\', '/'));
            }
            for (QByteArray &reading : readings) {
                if (!reading.startsWith('/'))
                    reading = WithoutDots(folder + reading);
            }
        }
        // Trailing blanks are forgiven as in every list file, and kept in the entry.
        for (const QByteArray &reading : readings) {
            if (!reading.isEmpty() &&
                (namesAFile(reading) || namesAFile(TrimTrailingBlanks(reading)))) {
                entries.append(reading);
                break;
            }
        }
    }
    return entries;
}
