// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef TRACKTABLEMODEL_H
#define TRACKTABLEMODEL_H

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// A flat, editable table for playlist tests: "Id" (unique text), "Title" and
// "Number" (an integer, or nothing at all).
struct Track
{
    QString id;
    QString title;
    QVariant number;
};

class TrackTableModel : public QAbstractTableModel
{
public:
    explicit TrackTableModel(QObject* parent = nullptr)
        : QAbstractTableModel(parent)
    {
    }

    // Tracks "0", "1", ... with titles "t0", ... and numbers 0, 1, ...
    static QList<Track> numbered(int count, int firstId = 0)
    {
        QList<Track> tracks;
        for (int i = 0; i < count; ++i) {
            const int id = firstId + i;
            tracks.append({QString::number(id), QStringLiteral("t%1").arg(id), id});
        }
        return tracks;
    }

    void setTracks(const QList<Track>& tracks)
    {
        beginResetModel();
        m_tracks = tracks;
        endResetModel();
    }

    void insertTracks(int row, const QList<Track>& tracks)
    {
        if (tracks.isEmpty())
            return;
        beginInsertRows(QModelIndex(), row, row + int(tracks.size()) - 1);
        for (int i = 0; i < tracks.size(); ++i)
            m_tracks.insert(row + i, tracks.at(i));
        endInsertRows();
    }

    void appendTracks(const QList<Track>& tracks) { insertTracks(int(m_tracks.size()), tracks); }

    QStringList ids() const
    {
        QStringList result;
        for (const Track& track : m_tracks)
            result.append(track.id);
        return result;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_tracks.size());
    }

    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : 3;
    }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole))
            return QVariant();
        const Track& track = m_tracks.at(index.row());
        switch (index.column()) {
        case 0:
            return track.id;
        case 1:
            return track.title;
        default:
            return track.number;
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::EditRole)
            return false;
        Track& track = m_tracks[index.row()];
        switch (index.column()) {
        case 0:
            track.id = value.toString();
            break;
        case 1:
            track.title = value.toString();
            break;
        default:
            track.number = value;
            break;
        }
        Q_EMIT dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return QAbstractTableModel::flags(index);
        return QAbstractTableModel::flags(index) | Qt::ItemIsEditable;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        static const QStringList names{QStringLiteral("Id"), QStringLiteral("Title"), QStringLiteral("Number")};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < names.size())
            return names.at(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override
    {
        if (parent.isValid() || row < 0 || row > m_tracks.size() || count <= 0)
            return false;
        QList<Track> tracks;
        for (int i = 0; i < count; ++i)
            tracks.append({QStringLiteral("new%1").arg(m_nextNew++), QString(), QVariant()});
        insertTracks(row, tracks);
        return true;
    }

    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override
    {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > m_tracks.size())
            return false;
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        m_tracks.remove(row, count);
        endRemoveRows();
        return true;
    }

private:
    QList<Track> m_tracks;
    int m_nextNew = 0;
};

// Column 0 of every presented row, in presented order.
inline QStringList presentedIds(const QAbstractItemModel* model)
{
    QStringList ids;
    for (int row = 0; row < model->rowCount(); ++row)
        ids.append(model->index(row, 0).data().toString());
    return ids;
}

// "a b c" as {"a", "b", "c"}.
inline QStringList strings(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

#endif // TRACKTABLEMODEL_H
