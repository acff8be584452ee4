// SPDX-License-Identifier: LGPL-2.1-or-later
// Helpers for the playlist tests: a small editable table model, a playlist that
// names its items by column 0, and a recorder of the playlist's signals.
#ifndef PLAYLISTTESTING_H
#define PLAYLISTTESTING_H

#include <rovacontent.h>
#include <rovaplaylistbase.h>

#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <memory>

// One row: "Id" (unique text), "Title" and "Number" (an integer, or nothing at all).
using Track = QVariantList;

class TrackTableModel : public QAbstractTableModel
{
public:
    // Tracks "0", "1", ... with titles "t0", ... and numbers 0, 1, ...
    static QList<Track> numbered(int count, int firstId = 0)
    {
        QList<Track> tracks;
        for (int id = firstId; id < firstId + count; ++id)
            tracks.append({QString::number(id), QStringLiteral("t%1").arg(id), id});
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
        beginInsertRows(QModelIndex(), row, row + int(tracks.size()) - 1);
        for (int i = 0; i < tracks.size(); ++i)
            m_tracks.insert(row + i, tracks.at(i));
        endInsertRows();
    }

    QStringList ids() const
    {
        QStringList result;
        for (const Track& track : m_tracks)
            result.append(track.at(0).toString());
        return result;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : int(m_tracks.size()); }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 3; }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        const bool valid = checkIndex(index, CheckIndexOption::IndexIsValid) && (role == Qt::DisplayRole || role == Qt::EditRole);
        return valid ? m_tracks.at(index.row()).at(index.column()) : QVariant();
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::EditRole)
            return false;
        m_tracks[index.row()][index.column()] = value;
        Q_EMIT dataChanged(index, index);
        return true;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        static const QStringList names{QStringLiteral("Id"), QStringLiteral("Title"), QStringLiteral("Number")};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < names.size())
            return names.at(section);
        return QAbstractTableModel::headerData(section, orientation, role);
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
};

// A playlist whose items are named by the presented column 0.
class IdPlaylist : public RovaPlaylistBase
{
public:
    IdPlaylist()
        : RovaPlaylistBase(QStringLiteral("rova0"), QStringLiteral("test"))
    {
    }

    RovaMediaInfo getItemMediaInfo(int index) override { return RovaMediaInfo(model()->index(index, 0).data().toString()); }
};

// Records a playlist's contentsChanged and playlistUpdated in the order they
// come, as "c(from,removed,inserted)" and "u(update,index)", one string.
class PlaylistLog
{
public:
    explicit PlaylistLog(RovaPlaylist* playlist)
    {
        QObject::connect(playlist, &RovaPlaylist::contentsChanged, &m_context, [this](uint from, uint removed, uint inserted) {
            m_entries.append(QStringLiteral("c(%1,%2,%3)").arg(from).arg(removed).arg(inserted));
        });
        QObject::connect(playlist, &RovaPlaylist::playlistUpdated, &m_context, [this](RovaPlaylist::RovaPlaylistUpdate update, int index) {
            m_entries.append(QStringLiteral("u(%1,%2)").arg(int(update)).arg(index));
        });
    }

    QString text() const { return m_entries.join(QLatin1Char(' ')); }
    QString take()
    {
        const QString result = text();
        m_entries.clear();
        return result;
    }

private:
    QObject m_context; // ends the connections with the log
    QStringList m_entries;
};

inline std::unique_ptr<QAbstractItemModelTester> modelTester(QAbstractItemModel* model)
{
    return std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

// Column 0 of every presented row, in presented order.
inline QStringList presentedIds(const QAbstractItemModel* model)
{
    QStringList ids;
    for (int row = 0; row < model->rowCount(); ++row)
        ids.append(model->index(row, 0).data().toString());
    return ids;
}

// The ids in text order, to compare orders as sets.
inline QStringList sorted(QStringList ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

// "a b c" as {"a", "b", "c"}.
inline QStringList strings(const char* text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Ten (or `count`) numbered tracks shown through an IdPlaylist, with a model tester and a log.
struct PlaylistFixture
{
    explicit PlaylistFixture(int count = 10)
    {
        source.setTracks(TrackTableModel::numbered(count));
        playlist.setUnderlyingModel(&source);
        log.take();
    }

    QStringList ids() { return presentedIds(playlist.model()); }
    QString currentId() { return playlist.model()->index(playlist.getCurrentIndex(), 0).data().toString(); }
    void choose(int index) { delete playlist.getItem(index); }

    TrackTableModel source;
    IdPlaylist playlist;
    const std::unique_ptr<QAbstractItemModelTester> tester = modelTester(playlist.model());
    PlaylistLog log{&playlist};
};

#endif // PLAYLISTTESTING_H
