#include "playlistmodel.h"

PlaylistModel::PlaylistModel(QObject *parent) : QAbstractListModel(parent) {}

void PlaylistModel::Append(QList<PlaylistEntry> entries)
{
    const qsizetype taken = qMin(entries.size(), qsizetype(kelpa::MaxEntries - Count()));
    if (taken <= 0)
        return;
    beginInsertRows({}, Count(), Count() + int(taken) - 1);
    entries_.append(entries.first(taken));
    endInsertRows();
}

void PlaylistModel::Remove(int index)
{
    if (index < 0 || index >= Count())
        return;
    beginRemoveRows({}, index, index);
    entries_.removeAt(index);
    endRemoveRows();
}

QString PlaylistModel::Text(int index) const
{
    return index >= 0 && index < Count() ? entries_[index].text : QString();
}

QByteArray PlaylistModel::Path(int index) const
{
    return index >= 0 && index < Count() ? entries_[index].path : QByteArray();
}

QString PlaylistModel::Artist(int index) const
{
    return index >= 0 && index < Count() ? entries_[index].artist : QString();
}

int32_t PlaylistModel::Length(int index) const
{
    return index >= 0 && index < Count() ? entries_[index].seconds : -1;
}

void PlaylistModel::SetLength(int index, int32_t seconds)
{
    if (index >= 0 && index < Count())
        entries_[index].seconds = seconds;
}

int PlaylistModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || index.parent().isValid())
        return {};
    return Text(index.row());
}
