// The playlist's window side: List1 shows what the playlist model holds. Entries come from
// dropped files and go with the Delete key or the pop-up menu.
#include "form1.h"

#include "ui_form1.h"

#include <QMenu>

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
    return List2.Path(index);
}

std::optional<TrackTags> Form1::ReadTags(const QByteArray &name)
{
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    if (engine_.getFileInfo(name, tag, stream) == 0)
        return std::nullopt;
    return TrackTags{CutAtNull(tag.Title), CutAtNull(tag.Artist)};
}

void Form1::AddFiles(const QList<QByteArray> &paths)
{
    const int before = List2.Count();
    List2.AddFiles(paths, ShowType);
    QStringList added;
    for (int i = before; i < List2.Count(); ++i)
        added.append(List2.Text(i));
    ui_->List1->addItems(added);
}

void Form1::DeleteEntry(int32_t index)
{
    if (index < 0 || index >= ListCount())
        return;
    const bool wasSelected = index == ListIndex();
    List2.Remove(index);
    delete ui_->List1->takeItem(index);
    // The item view would select a neighbour of a removed selected row; here a deletion
    // selects nothing, so that a second Delete does not remove an entry never chosen.
    if (wasSelected)
        ui_->List1->SetListIndex(-1);
}

void Form1::List1_FilesDropped(const QList<QByteArray> &paths)
{
    AddFiles(paths);
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
