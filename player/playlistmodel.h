// The playlist: the entries' paths as they were given and their display texts, held once,
// for the list view to show, at most kelpa::MaxEntries of them. Entries are appended (read by a
// PlaylistReader) and removed one at a time. No widgets and no engine: tests hold one alone.
#pragma once

#include "control/playercontrol.h"
#include "playlistreader.h"

#include <QAbstractListModel>

class PlaylistModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit PlaylistModel(QObject *parent = nullptr);

    // Appends entries (read by a PlaylistReader, paths untrimmed), as many as there is room for.
    void Append(QList<PlaylistEntry> entries);
    // Removes the entry at index; nothing outside the list.
    void Remove(int index);

    int Count() const { return static_cast<int>(entries_.size()); }
    // The display text of the entry at index; empty outside the list.
    QString Text(int index) const;
    // The path of the entry at index as it was added; empty outside the list.
    QByteArray Path(int index) const;
    // The artist of the entry at index; empty outside the list.
    QString Artist(int index) const;
    // The length of the entry at index in seconds; -1 while unknown, and outside the list.
    int32_t Length(int index) const;
    // The entry at index has been opened: its length is known.
    void SetLength(int index, int32_t seconds);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QList<PlaylistEntry> entries_;
};
