// The visible playlist box (List1): a view of the playlist's display strings that takes file
// drops and reports the key and mouse events the player acts on. It decides nothing itself.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListView>

class PlaylistBox : public QListView {
    Q_OBJECT

public:
    explicit PlaylistBox(QWidget *parent = nullptr);

signals:
    // Local files of a drop, in the order the drop lists them, as the file system's bytes.
    void FilesDropped(const QList<QByteArray> &paths);
    // The Delete key was released (with or without Shift).
    void DeleteReleased();
    // The right mouse button was released at globalPos.
    void RightReleased(const QPoint &globalPos);
    // A double-click of the left button, or Enter: both play the selected entry.
    void DblClick();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
