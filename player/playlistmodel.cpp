// The playlist model: entries from dropped files and from list files (one path per line).
#include "playlistmodel.h"

#include "m3u.h"
#include "regularfile.h"
#include "trimblanks.h"

#include <QFile>
#include <QStringDecoder>

using namespace Qt::Literals::StringLiterals;

namespace {

// A name with a NUL in it would reach the file system cut short at the NUL, naming some
// other file.
bool CanNameAFile(const QByteArray &name)
{
    return !name.isEmpty() && !name.contains('\0');
}

// Lines end at CR LF, at a lone CR (old Macintosh and some Windows tools) and at a lone LF
// (every Linux tool). A last line without an end counts. A leading UTF-8 byte order mark is
// no part of the first name.
QList<QByteArray> SplitLines(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.sliced(start, i - start).toByteArray());
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(bytes.sliced(start).toByteArray());
    return lines;
}

// The file a list line names, as its path is to be stored; none when it names no file. Lists
// come from Linux tools (UTF-8, or whatever bytes a name has here: Latin-1 names from old
// archives exist) and from Windows tools (Shift_JIS), mixed within one list when it grew over
// the years. So each line is read on its own: its bytes as they stand, which is also its
// UTF-8 reading, since Qt writes names here in UTF-8; else as Shift_JIS. Windows ignores
// trailing blanks in file names, so a reading that names no file is tried without them, and
// is stored with them.
std::optional<QByteArray> FileNamedBy(const QByteArray &line, QStringDecoder &shiftJis)
{
    const auto namesAFile = [](const QByteArray &reading) {
        const QByteArray trimmed = TrimTrailingBlanks(reading);
        return PlaylistModel::IfFilename(reading) ||
               (trimmed != reading && PlaylistModel::IfFilename(trimmed));
    };
    if (namesAFile(line))
        return line;
    if (!shiftJis.isValid()) // a Qt without ICU has none
        return std::nullopt;
    shiftJis.resetState();
    const QByteArray name = QFile::encodeName(shiftJis(line));
    if (shiftJis.hasError() || name == line || !namesAFile(name))
        return std::nullopt;
    return name;
}

} // namespace

PlaylistModel::PlaylistModel(TagReader readTags) : readTags_(std::move(readTags)) {}

bool PlaylistModel::IfFilename(QByteArray strPathName)
{
    if (strPathName.endsWith('/'))
        strPathName.chop(1);
    return RegularFile(strPathName).isOpen();
}

void PlaylistModel::AddFiles(const QList<QByteArray> &paths, uint8_t showType)
{
    for (const QByteArray &path : paths) {
        if (Count() >= kMaxEntries)
            break;
        AddEntry(path, showType);
    }
}

void PlaylistModel::AddEntry(const QByteArray &path, uint8_t showType)
{
    if (Count() >= kMaxEntries)
        return;
    const QByteArray name = TrimBlanks(path);
    const std::optional<TrackTags> tags =
        CanNameAFile(name) ? readTags_(name) : std::optional<TrackTags>();
    if (!tags) {
        // Not a track: perhaps a list of them.
        ReadListFile(path, showType);
        return;
    }

    switch (showType) {
    case 1:
        texts_.append(tags->artist + u" - "_s + tags->title);
        break;
    case 2:
        texts_.append(tags->title + u" - "_s + tags->artist);
        break;
    default:
        texts_.append(tags->title);
        break;
    }
    paths_.append(path);
}

void PlaylistModel::ReadListFile(const QByteArray &path, uint8_t showType)
{
    if (readingListFile_)
        return;
    // Checked and read through one descriptor: the size test comes before anything is read,
    // and only a regular file has a size that means anything.
    RegularFile file(path);
    if (!file.isOpen() || file.size() > kMaxListFileBytes)
        return;
    const std::optional<QByteArray> bytes = file.read(kMaxListFileBytes);
    if (!bytes)
        return;

    readingListFile_ = true;
    QStringDecoder shiftJis("Shift_JIS");
    for (const QByteArray &line :
         IsM3u(path) ? M3uEntries(path, *bytes, &IfFilename) : SplitLines(*bytes)) {
        if (Count() >= kMaxEntries)
            break;
        // A list that names itself would add itself as a list file: skipped by name.
        const std::optional<QByteArray> name = FileNamedBy(line, shiftJis);
        if (name && *name != path)
            AddEntry(*name, showType);
    }
    readingListFile_ = false;
}

void PlaylistModel::Remove(int index)
{
    if (index < 0 || index >= Count())
        return;
    paths_.removeAt(index);
    texts_.removeAt(index);
}
