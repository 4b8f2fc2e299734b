// The playlist: two lists kept in step, the display strings in List1 and the paths in List2.
// Entries come from dropped files and from list files (one path per line), and go with the
// Delete key or the pop-up menu.
#include "form1.h"

#include "trimblanks.h"
#include "ui_form1.h"

#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QStringDecoder>

using namespace Qt::Literals::StringLiterals;

namespace {

// A name with a NUL in it would reach the file system cut short at the NUL, naming some
// other file.
bool CanNameAFile(const QString &name)
{
    return !name.isEmpty() && !name.contains(QChar::Null);
}

// List files come from Windows tools (Shift_JIS) as often as from Linux ones (UTF-8). Text
// that is valid UTF-8 is taken as such; a leading byte order mark is dropped.
QString DecodeListFile(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder shiftJis("Shift_JIS");
    if (!shiftJis.isValid())
        return text; // a Qt without ICU: the UTF-8 reading with replacement characters
    return shiftJis(bytes);
}

// Lines end at CR LF, at a lone CR (old Macintosh and some Windows tools) and at a lone LF
// (every Linux tool). A last line without an end counts.
QStringList SplitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.sliced(start));
    return lines;
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

QString Form1::ListPath(int index) const
{
    return List2.value(index);
}

bool Form1::IfFilename(QString strPathName)
{
    if (strPathName.endsWith(u'/'))
        strPathName.chop(1);
    if (!CanNameAFile(strPathName))
        return false;
    // Tested before opening: opening a pipe would wait for a writer, a device might never end.
    if (!QFileInfo(strPathName).isFile())
        return false;
    QFile file(strPathName);
    return file.open(QIODevice::ReadOnly);
}

void Form1::AddEntry(const QString &path)
{
    if (ListCount() >= kMaxEntries)
        return;
    Vbmp3::TagRecord tag{};
    Vbmp3::StreamRecord stream{};
    const QString name = TrimBlanks(path);
    if (!CanNameAFile(name) || engine_.getFileInfo(QFile::encodeName(name), tag, stream) == 0) {
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

void Form1::ReadListFile(const QString &path)
{
    if (readingListFile_ || !CanNameAFile(path))
        return;
    // The size test comes before anything is opened; only a regular file has a size that
    // means anything (and a pipe or a device would block or never end).
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxListFileBytes)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // The file may have grown since the size test; what lies past the limit is not read.
    const QByteArray bytes = file.read(kMaxListFileBytes);
    if (file.error() != QFileDevice::NoError)
        return;
    file.close();

    readingListFile_ = true;
    for (const QString &line : SplitLines(DecodeListFile(bytes))) {
        if (ListCount() >= kMaxEntries)
            break;
        // A list that names itself would add itself as a list file: skipped by name. Windows
        // ignores trailing blanks in file names, so lists written there may carry them after
        // a name that has none.
        if ((IfFilename(line) || IfFilename(TrimTrailingBlanks(line))) && line != path)
            AddEntry(line);
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

void Form1::List1_FilesDropped(const QStringList &paths)
{
    for (const QString &path : paths) {
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
