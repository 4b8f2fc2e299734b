#include "playlistmodel.h"

PlaylistModel::PlaylistModel(TagReader readTags, QObject *parent)
    : QAbstractListModel(parent), readTags_(std::move(readTags))
{}

void PlaylistModel::AddFiles(const QList<QByteArray> &paths, uint8_t showType)
{
    const qsizetype room = kelpa::MaxEntries - Count();
    if (room <= 0)
        return; // full: nothing is read
    QList<PlaylistEntry> read;
    PlaylistReader(readTags_, showType).Read(paths, [&read, room](PlaylistEntry &&entry) {
        if (read.size() < room)
            read.append(std::move(entry));
        return read.size() < room;
    });
    Append(std::move(read));
}

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
