// The visible playlist box (List1): a plain list of display strings that takes file drops and
// reports the key and mouse events the player acts on. It decides nothing itself.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>

class PlaylistBox : public QListWidget {
    Q_OBJECT

public:
    explicit PlaylistBox(QWidget *parent = nullptr);

    // The selected entry, -1 when none is. An entry that has the focus frame but is not
    // selected (after a deletion, or a Ctrl+click) does not count.
    int ListIndex() const;
    // Selects the entry at index, or nothing for -1. Other values are the caller's mistake
    // and change nothing.
    void SetListIndex(int index);

signals:
    // Local files of a drop, in the order the drop lists them, as the file system's bytes.
    void FilesDropped(const QList<QByteArray> &paths);
    // The Delete key was released (with or without Shift).
    void DeleteReleased();
    // The right mouse button was released at globalPos.
    void RightReleased(const QPoint &globalPos);
    // A double-click of the left button.
    void DblClick();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
