#include "playlistbox.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

// The paths of the local files, with the bytes the URLs carry percent-encoded: QUrl's own
// toLocalFile() would turn a name that is not UTF-8 (Latin-1, from an old archive) into
// replacement characters, naming no file.
QList<QByteArray> localFiles(const QMimeData *data)
{
    QList<QByteArray> paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!url.host().isEmpty()) // a share named in the URL, as toLocalFile() gives it
            path.prepend("//" + url.host().toUtf8());
        paths.append(path);
    }
    return paths;
}

// kelpa only reads what is dropped, so it answers a copy, or a link when the source offers
// no copy, whatever the source proposes: a source told "move" deletes the user's files once
// the drop is done. A source that offers neither is refused. True when the event was taken.
bool AcceptAsCopy(QDropEvent *event)
{
    const Qt::DropActions offered = event->possibleActions();
    if (localFiles(event->mimeData()).isEmpty() || !(offered & (Qt::CopyAction | Qt::LinkAction))) {
        event->ignore();
        return false;
    }
    event->setDropAction(offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
    return true;
}

} // namespace

PlaylistBox::PlaylistBox(QWidget *parent) : QListView(parent)
{
    // Drops are handled here, not by the item view's own drag and drop of items.
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers); // the texts are the tags'
    // Every row has the height of one line of text: with this the view lays out tens of
    // thousands of rows without measuring each one, so a long list file adds quickly.
    setUniformItemSizes(true);
}

void PlaylistBox::dragEnterEvent(QDragEnterEvent *event)
{
    AcceptAsCopy(event);
}

void PlaylistBox::dragMoveEvent(QDragMoveEvent *event)
{
    // The whole box is one target: no drop indicator between rows, since drops always append.
    AcceptAsCopy(event);
}

void PlaylistBox::dropEvent(QDropEvent *event)
{
    if (AcceptAsCopy(event))
        emit FilesDropped(localFiles(event->mimeData()));
}

void PlaylistBox::keyPressEvent(QKeyEvent *event)
{
    // Enter plays as a double-click does; held down, it plays once.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        if (!event->isAutoRepeat())
            emit DblClick();
        return;
    }
    QListView::keyPressEvent(event);
}

void PlaylistBox::keyReleaseEvent(QKeyEvent *event)
{
    // A held key repeats its release too; the key counts once, when it is let go.
    if (event->key() == Qt::Key_Delete && !event->isAutoRepeat()) {
        emit DeleteReleased();
        return;
    }
    QListView::keyReleaseEvent(event);
}

void PlaylistBox::mousePressEvent(QMouseEvent *event)
{
    // The right button opens the menu for the entry already selected, so it must not move
    // the selection to the row under the pointer, as an item view does by default.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}

void PlaylistBox::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListView::mouseMoveEvent(event);
}

void PlaylistBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        emit RightReleased(event->globalPosition().toPoint());
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void PlaylistBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QListView::mouseDoubleClickEvent(event);
    emit DblClick();
}
