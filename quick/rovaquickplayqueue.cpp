// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaquickplayqueue.h"
#include "rovaquicklibrary.h"

#include <rovageneralsourceplaylist.h>

#include <QAbstractTableModel>
#include <QQmlInfo>

namespace {
// Column 0 is the object id the playlist reads; the roles follow in their order.
int columnOf(int role) { return role - RovaQuickSongRoles::Title + 1; }
int roleOf(int column) { return column - 1 + RovaQuickSongRoles::Title; }
constexpr int columns = RovaQuickSongRoles::Location - RovaQuickSongRoles::Title + 2;
} // namespace

// The queue's songs as the playlist's underlying model, one column per role.
class RovaQuickSongTable : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    QList<RovaQuickSong> songs;
    QString sourceUuid;

    void setSongs(const QList<RovaQuickSong>& rows)
    {
        beginResetModel();
        songs = rows;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(songs.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : columns; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return QVariant();
        const RovaQuickSong& song = songs.at(index.row());
        return index.column() == 0 ? QVariant(song.id) : RovaQuickSongRoles::value(song, roleOf(index.column()));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columns)
            return QVariant();
        return section == 0 ? QStringLiteral("id") : QString::fromLatin1(RovaQuickSongRoles::names().value(roleOf(section)));
    }
};

RovaQuickPlayQueue::RovaQuickPlayQueue(QObject* parent)
    : QAbstractListModel(parent)
    , m_table(new RovaQuickSongTable(this))
{
    makePlaylist(RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
}

RovaQuickPlayQueue::~RovaQuickPlayQueue()
{
    delete m_playlist; // before the table it presents
}

void RovaQuickPlayQueue::makePlaylist(const QString& sourceUuid)
{
    delete m_playlist;
    m_table->sourceUuid = sourceUuid;
    m_playlist = new RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("play queue"), sourceUuid);
    m_playlist->setParent(this);
    m_playlist->setRepeat(RovaPlaylist::RepeatNone);
    QAbstractItemModel* presented = m_playlist->model();
    // The presented order is this model's row order; a new order is a new set of rows.
    connect(presented, &QAbstractItemModel::modelAboutToBeReset, this, &RovaQuickPlayQueue::beginResetModel);
    connect(presented, &QAbstractItemModel::modelReset, this, &RovaQuickPlayQueue::endResetModel);
    connect(presented, &QAbstractItemModel::layoutAboutToBeChanged, this, &RovaQuickPlayQueue::beginResetModel);
    connect(presented, &QAbstractItemModel::layoutChanged, this, &RovaQuickPlayQueue::endResetModel);
    connect(presented, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) { beginInsertRows(QModelIndex(), first, last); });
    connect(presented, &QAbstractItemModel::rowsInserted, this, &RovaQuickPlayQueue::endInsertRows);
    connect(presented, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) { beginRemoveRows(QModelIndex(), first, last); });
    connect(presented, &QAbstractItemModel::rowsRemoved, this, &RovaQuickPlayQueue::endRemoveRows);
    connect(m_playlist, &RovaPlaylist::contentsChanged, this, [this] {
        if (m_count != rowCount()) {
            m_count = rowCount();
            Q_EMIT countChanged();
        }
        updateCurrent();
    });
    connect(m_playlist, &RovaPlaylist::playlistUpdated, this, &RovaQuickPlayQueue::updateCurrent);
    connect(m_playlist, &RovaPlaylist::repeatModeChanged, this, &RovaQuickPlayQueue::repeatChanged);
}

RovaQuickPlayQueue::RepeatMode RovaQuickPlayQueue::repeat() const
{
    return RepeatMode(m_playlist->repeatMode());
}

void RovaQuickPlayQueue::setRepeat(RepeatMode mode)
{
    if (mode < RepeatNone || mode > RepeatAll) {
        qmlWarning(this) << "no repeat mode" << int(mode);
        return;
    }
    if (mode != repeat())
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(mode));
}

bool RovaQuickPlayQueue::shuffle() const
{
    return m_playlist->isShuffled();
}

void RovaQuickPlayQueue::setShuffle(bool shuffle)
{
    if (shuffle == this->shuffle())
        return;
    if (shuffle) {
        m_playlist->shuffle();
        setSort(QString(), Qt::AscendingOrder);
    } else {
        m_playlist->unShuffle();
    }
    Q_EMIT shuffleChanged();
}

bool RovaQuickPlayQueue::sort(const QString& role, Qt::SortOrder order)
{
    const int sortRole = RovaQuickSongRoles::byName(role);
    if (!role.isEmpty() && (sortRole == 0 || sortRole == RovaQuickSongRoles::IsCurrent)) {
        qmlWarning(this) << "cannot sort by \"" << role << "\"";
        return false;
    }
    const bool wasShuffled = shuffle();
    if (role.isEmpty()) {
        m_playlist->sort(0, RovaPlaylist::SortNone);
    } else {
        const bool numeric = sortRole == RovaQuickSongRoles::Duration || sortRole == RovaQuickSongRoles::TrackNumber;
        const bool up = order == Qt::AscendingOrder;
        m_playlist->sort(columnOf(sortRole), numeric ? (up ? RovaPlaylist::SortNumericAscending : RovaPlaylist::SortNumericDescending)
                                                     : (up ? RovaPlaylist::SortAscending : RovaPlaylist::SortDescending));
    }
    setSort(role, order);
    if (wasShuffled)
        Q_EMIT shuffleChanged();
    return true;
}

void RovaQuickPlayQueue::setSort(const QString& role, Qt::SortOrder order)
{
    if (role == m_sortRole && order == m_sortOrder)
        return;
    m_sortRole = role;
    m_sortOrder = order;
    Q_EMIT sortChanged();
}

void RovaQuickPlayQueue::load(RovaQuickLibrary* library)
{
    if (!library) {
        qmlWarning(this) << "load() takes a Library";
        return;
    }
    if (library->sourceUuid() != m_table->sourceUuid) {
        const RepeatMode mode = repeat();
        present({});
        makePlaylist(library->sourceUuid());
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(mode));
        Q_EMIT playlistReplaced();
    }
    present(library->songs());
}

void RovaQuickPlayQueue::clear()
{
    present({});
}

void RovaQuickPlayQueue::present(const QList<RovaQuickSong>& songs)
{
    // A reset of its model: the playlist starts afresh, in the order it had.
    m_table->setSongs(songs);
    if (m_playlist->underlyingModel() != m_table)
        m_playlist->setUnderlyingModel(m_table);
    if (!m_sortRole.isEmpty())
        sort(m_sortRole, m_sortOrder);
}

RovaPlaylist* RovaQuickPlayQueue::playlist() const
{
    return m_playlist;
}

QObject* RovaQuickPlayQueue::playlistObject() const
{
    return m_playlist;
}

QList<RovaQuickSong> RovaQuickPlayQueue::songs() const
{
    return m_table->songs;
}

QString RovaQuickPlayQueue::sourceUuid() const
{
    return m_table->sourceUuid;
}

RovaQuickSong RovaQuickPlayQueue::song(int row) const
{
    const QString id = m_playlist->model()->index(row, 0).data().toString();
    for (const RovaQuickSong& song : std::as_const(m_table->songs)) {
        if (!id.isEmpty() && song.id == id)
            return song;
    }
    return RovaQuickSong();
}

int RovaQuickPlayQueue::rowOfId(const QString& id) const
{
    const QAbstractItemModel* presented = m_playlist->model();
    for (int row = 0; row < presented->rowCount(); ++row) {
        if (presented->index(row, 0).data().toString() == id)
            return row;
    }
    return -1;
}

void RovaQuickPlayQueue::updateCurrent()
{
    const int current = m_playlist->getCurrentIndex();
    if (current == m_currentIndex)
        return;
    const int former = std::exchange(m_currentIndex, current);
    for (const int row : {former, current}) {
        if (row >= 0 && row < rowCount())
            Q_EMIT dataChanged(index(row), index(row), {RovaQuickSongRoles::IsCurrent});
    }
    Q_EMIT currentIndexChanged();
}

int RovaQuickPlayQueue::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_playlist->model()->rowCount();
}

QVariant RovaQuickPlayQueue::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    if (role == RovaQuickSongRoles::IsCurrent)
        return index.row() == m_currentIndex;
    if (role == Qt::DisplayRole)
        role = RovaQuickSongRoles::Title;
    if (role < RovaQuickSongRoles::Title || role > RovaQuickSongRoles::Location)
        return QVariant();
    return m_playlist->model()->index(index.row(), columnOf(role)).data();
}

QHash<int, QByteArray> RovaQuickPlayQueue::roleNames() const
{
    return RovaQuickSongRoles::names(true);
}

QVariantMap RovaQuickPlayQueue::get(int row) const
{
    QVariantMap values;
    if (row < 0 || row >= rowCount())
        return values;
    const QHash<int, QByteArray> roles = roleNames();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it)
        values.insert(QString::fromLatin1(it.value()), data(index(row), it.key()));
    return values;
}
