// The playlist: two lists kept in step, the display strings in List1 and the paths in List2.
// Entries come from dropped files and from list files (one path per line), and go with the
// Delete key or the pop-up menu.
#include "form1.h"

#include "m3u.h"
#include "regularfile.h"
#include "trimblanks.h"
#include "ui_form1.h"

#include <QFile>
#include <QMenu>
#include <QStringDecoder>

#include <optional>

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
        return Form1::IfFilename(reading) || (trimmed != reading && Form1::IfFilename(trimmed));
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

int Form1::ListCount() const
{
    return ui_->List1->count();
}

int Form1::ListIndex() const
{
    return ui_->List1->ListIndex();
}

bool Form1::SetListIndex(int index)
{
    if (index < -1 || index >= ListCount())
        return false;
    ui_->List1->SetListIndex(index);
    return true;
}

QString Form1::ListItem(int index) const
{
    const QListWidgetItem *item = ui_->List1->item(index);
    return item ? item->text() : QString();
}

QByteArray Form1::ListPath(int index) const
{
    return List2.value(index);
}

bool Form1::IfFilename(QByteArray strPathName)
{
    if (strPathName.endsWith('/'))
        strPathName.chop(1);
    return RegularFile(strPathName).isOpen();
}

void Form1::AddEntry(const QByteArray &path)
{
    if (ListCount() >= kMaxEntries)
        return;
    Vbmp3::TagRecord tag{};
    Vbmp3::StreamRecord stream{};
    const QByteArray name = TrimBlanks(path);
    if (!CanNameAFile(name) || engine_.getFileInfo(name, tag, stream) == 0) {
        // Not a track: perhaps a list of them.
        ReadListFile(path);
        return;
    }

    const QString title = CutAtNull(tag.Title);
    const QString artist = CutAtNull(tag.Artist);
    QString display;
    switch (ShowType) {
    case 1:
        display = artist + u" - "_s + title;
        break;
    case 2:
        display = title + u" - "_s + artist;
        break;
    default:
        display = title;
        break;
    }
    ui_->List1->addItem(display);
    List2.append(path);
}

void Form1::ReadListFile(const QByteArray &path)
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
        if (ListCount() >= kMaxEntries)
            break;
        // A list that names itself would add itself as a list file: skipped by name.
        const std::optional<QByteArray> name = FileNamedBy(line, shiftJis);
        if (name && *name != path)
            AddEntry(*name);
    }
    readingListFile_ = false;
}

void Form1::DeleteEntry(int32_t index)
{
    if (index < 0 || index >= ListCount())
        return;
    const bool wasSelected = index == ListIndex();
    List2.removeAt(index);
    delete ui_->List1->takeItem(index);
    // The item view would select a neighbour of a removed selected row; here a deletion
    // selects nothing, so that a second Delete does not remove an entry never chosen.
    if (wasSelected)
        ui_->List1->SetListIndex(-1);
}

void Form1::List1_FilesDropped(const QList<QByteArray> &paths)
{
    for (const QByteArray &path : paths) {
        if (ListCount() >= kMaxEntries)
            break;
        AddEntry(path);
    }
}

void Form1::List1_DeleteReleased()
{
    DeleteEntry(ListIndex());
}

void Form1::List1_RightReleased(const QPoint &globalPos)
{
    mnuPop1->popup(globalPos);
}

void Form1::mnuDelate_Click()
{
    DeleteEntry(ListIndex());
}

void Form1::mnuDelateAll_Click()
{
    // Last entry first, so that no index moves under the loop.
    for (int i = ListCount() - 1; i >= 0; --i)
        DeleteEntry(i);
}
