#include "playlistbox.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

QStringList localFiles(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

PlaylistBox::PlaylistBox(QWidget *parent) : QListWidget(parent)
{
    // Drops are handled here, not by the item view's own drag and drop of items.
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row has the height of one line of text: with this the view lays out tens of
    // thousands of rows without measuring each one, so a long list file adds quickly.
    setUniformItemSizes(true);
}

int PlaylistBox::ListIndex() const
{
    const QListWidgetItem *current = currentItem();
    return current && current->isSelected() ? currentRow() : -1;
}

void PlaylistBox::SetListIndex(int index)
{
    if (index < 0) {
        clearSelection();
        setCurrentRow(-1);
        return;
    }
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void PlaylistBox::dragEnterEvent(QDragEnterEvent *event)
{
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void PlaylistBox::dragMoveEvent(QDragMoveEvent *event)
{
    // The whole box is one target: no drop indicator between rows, since drops always append.
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void PlaylistBox::dropEvent(QDropEvent *event)
{
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(paths);
}

void PlaylistBox::keyReleaseEvent(QKeyEvent *event)
{
    // A held key repeats its release too; the key counts once, when it is let go.
    if (event->key() == Qt::Key_Delete && !event->isAutoRepeat()) {
        emit DeleteReleased();
        return;
    }
    QListWidget::keyReleaseEvent(event);
}

void PlaylistBox::mousePressEvent(QMouseEvent *event)
{
    // The right button opens the menu for the entry already selected, so it must not move
    // the selection to the row under the pointer, as an item view does by default.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void PlaylistBox::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mouseMoveEvent(event);
}

void PlaylistBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        emit RightReleased(event->globalPosition().toPoint());
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}

void PlaylistBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}
