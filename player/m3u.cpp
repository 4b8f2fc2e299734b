#include "m3u.h"

namespace {

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

// A relative reading names a file in the list's folder.
QByteArray Placed(const QByteArray &reading, const QByteArray &folder)
{
    return reading.startsWith('/') ? reading : WithoutDots(folder + reading);
}

} // namespace

bool IsM3u(const QByteArray &listPath)
{
    const QByteArray name = listPath.toLower();
    return name.endsWith(".m3u") || name.endsWith(".m3u8");
}

ListLineReader::Rules M3uRules(const QByteArray &listPath)
{
    const qsizetype slash = listPath.lastIndexOf('/');
    return {!listPath.toLower().endsWith(".m3u8"), true, &Placed,
            slash < 0 ? QByteArray() : listPath.first(slash + 1)};
}

std::optional<QByteArray> M3uEntry(QByteArrayView line, const ListLineReader::Rules &rules,
                                   ListLineReader &reader)
{
    const QByteArray text = line.trimmed().toByteArray();
    if (text.isEmpty() || text.startsWith('#'))
        return std::nullopt;
    if (text.contains("://")) {
        const QByteArray local = LocalPathOfUrl(text);
        if (local.isEmpty())
            return std::nullopt;
        return reader.FirstNamingAFile({local}, {false, false, nullptr, {}});
    }
    // As it stands first, so that blanks that belong to a name keep it; then without the
    // white space that editors leave around a line.
    return reader.FirstNamingAFile({line.toByteArray(), text}, rules);
}
