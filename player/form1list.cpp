// The playlist's window side: List1 shows the player's playlist. Entries come from dropped
// files and go with the Delete key or the pop-up menu.
#include "form1.h"

#include "player.h"
#include "ui_form1.h"

#include <QFileDialog>
#include <QMenu>

using namespace Qt::Literals::StringLiterals;

void Form1::List1_FilesDropped(const QList<QByteArray> &paths)
{
    player_.dropFiles(paths);
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

void Form1::ChooseFiles()
{
    if (fileDialog_) { // one at a time
        fileDialog_->raise();
        fileDialog_->activateWindow();
        return;
    }
    // A new one each time, so that no earlier choice is still selected in it; it opens
    // where the user last chose.
    fileDialog_ = new QFileDialog(this, u"kelpa"_s, lastFolder_);
    fileDialog_->setAttribute(Qt::WA_DeleteOnClose);
    fileDialog_->setFileMode(QFileDialog::ExistingFiles);
    // Tracks and the lists that name them first; any other file is one choice away, as a drop
    // takes any file and a list may have any name.
    fileDialog_->setNameFilters(
        {u"MP3ファイルとリスト (*.mp3 *.m3u *.m3u8 *.txt)"_s, u"すべてのファイル (*)"_s});
    // Like every box of ours, above the settings panel and the QR code.
    fileDialog_->setWindowFlag(Qt::WindowStaysOnTopHint);
    connect(fileDialog_, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        QList<QByteArray> paths;
        for (const QString &file : files)
            paths.append(QFile::encodeName(file));
        List1_FilesDropped(paths);
    });
    connect(fileDialog_, &QDialog::finished, this, [this] {
        lastFolder_ = fileDialog_->directory().absolutePath();
        fileDialog_ = nullptr;
    });
    fileDialog_->open(); // the window waits for the choice; the caller does not
}
