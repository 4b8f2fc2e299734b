#include "playlistreader.h"

#include "listlines.h"
#include "m3u.h"
#include "regularfile.h"
#include "trimblanks.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// A name with a NUL in it would reach the file system cut short at the NUL, naming some
// other file.
bool CanNameAFile(const QByteArray &name)
{
    return !name.isEmpty() && !name.contains('\0');
}

// A plain list names one file a line, as the line's bytes or its Shift_JIS reading; relative
// names are taken from the current folder, and Windows separators are not turned.
const ListLineReader::Rules kPlainRules{true, false, nullptr, {}};

} // namespace

PlaylistReader::PlaylistReader(TagReader readTags, uint8_t showType, const std::atomic<bool> *stop)
    : readTags_(std::move(readTags)), showType_(showType), stop_(stop)
{}

bool PlaylistReader::IfFilename(QByteArray strPathName)
{
    if (strPathName.endsWith('/'))
        strPathName.chop(1);
    return RegularFile(strPathName).isOpen();
}

void PlaylistReader::Read(const QList<QByteArray> &paths, const Sink &sink)
{
    sink_ = &sink;
    for (const QByteArray &path : paths) {
        if ((stop_ && *stop_) || !AddEntry(path))
            break;
    }
    sink_ = nullptr;
}

bool PlaylistReader::AddEntry(const QByteArray &path)
{
    const QByteArray name = TrimBlanks(path);
    const std::optional<TrackTags> tags =
        CanNameAFile(name) ? readTags_(name) : std::optional<TrackTags>();
    if (!tags) // not a track: perhaps a list of them
        return ReadListFile(path);

    if (tags->artist != lastArtist_)
        lastArtist_ = tags->artist;
    switch (showType_) {
    case 1:
        return (*sink_)({path, tags->artist + u" - "_s + tags->title, lastArtist_});
    case 2:
        return (*sink_)({path, tags->title + u" - "_s + tags->artist, lastArtist_});
    default:
        return (*sink_)({path, tags->title, lastArtist_});
    }
}

bool PlaylistReader::ReadListFile(const QByteArray &path)
{
    if (readingListFile_)
        return true;
    // Checked and read through one descriptor: the size test comes before anything is read,
    // and only a regular file has a size that means anything.
    RegularFile file(path);
    if (!file.isOpen() || file.size() > kMaxListFileBytes)
        return true;
    const std::optional<QByteArray> bytes = file.read(kMaxListFileBytes);
    if (!bytes)
        return true;

    readingListFile_ = true;
    ListLineReader reader(&IfFilename);
    const bool m3u = IsM3u(path);
    const ListLineReader::Rules rules = m3u ? M3uRules(path) : kPlainRules;
    bool more = true;
    ListLineReader::Lines(*bytes, [&](QByteArrayView line) {
        if (stop_ && *stop_)
            return more = false;
        const std::optional<QByteArray> name =
            m3u ? M3uEntry(line, rules, reader)
                : reader.FirstNamingAFile({line.toByteArray()}, rules);
        // A list that names itself would add itself as a list file: skipped by name.
        if (name && *name != path)
            more = AddEntry(*name);
        return more;
    });
    readingListFile_ = false;
    return more;
}
