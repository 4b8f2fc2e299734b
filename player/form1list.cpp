// The playlist's window side: List1 shows the player's playlist. Entries come from dropped
// files and go with the Delete key or the pop-up menu.
#include "form1.h"

#include "player.h"
#include "ui_form1.h"

#include <QMenu>

void Form1::List1_FilesDropped(const QList<QByteArray> &paths)
{
    player_.AddFiles(paths);
}

void Form1::List1_DeleteReleased()
{
    player_.DeleteEntry(player_.ListIndex());
}

void Form1::List1_RightReleased(const QPoint &globalPos)
{
    mnuPop1->popup(globalPos);
}

void Form1::mnuDelate_Click()
{
    player_.DeleteEntry(player_.ListIndex());
}

void Form1::mnuDelateAll_Click()
{
    player_.DeleteAll();
}

void Form1::mnuLoop_Click(bool checked)
{
    player_.setLoop(checked);
}
