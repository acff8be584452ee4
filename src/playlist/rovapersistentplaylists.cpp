// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovapersistentplaylists.h"

#include "rovacontent.h"
#include "rovageneralsourceplaylist.h"
#include "rovainternalregistry.h"
#include "rovaproxysortmodel.h"

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

const QLatin1String idKey("id"), nameKey("name"), sourceKey("source"), columnsKey("columns"), rowsKey("rows"),
    repeatKey("repeat"), sortKey("sort"), sortColumnKey("sortColumn"), shuffledKey("shuffled"), currentKey("current");

// The model of a restored playlist: rows of display values under named columns. Rows can be
// inserted, set and removed like those of any editable table.
class RovaKeptModel : public QAbstractTableModel
{
public:
    RovaKeptModel(const QStringList& columns, const QList<QVariantList>& rows, QObject* parent)
        : QAbstractTableModel(parent)
        , m_columns(columns)
        , m_rows(rows)
    {
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : int(m_columns.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        return checkIndex(index, CheckIndexOption::IndexIsValid) && (role == Qt::DisplayRole || role == Qt::EditRole)
            ? m_rows.at(index.row()).value(index.column())
            : QVariant();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return orientation == Qt::Horizontal && role == Qt::DisplayRole ? QVariant(m_columns.value(section)) : QVariant();
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override { return QAbstractTableModel::flags(index) | Qt::ItemIsEditable; }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole))
            return false;
        QVariantList& row = m_rows[index.row()];
        if (row.size() <= index.column())
            row.resize(m_columns.size());
        row[index.column()] = value;
        Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        return true;
    }
    bool insertRows(int row, int count, const QModelIndex& parent) override
    {
        if (parent.isValid() || row < 0 || row > m_rows.size() || count < 1)
            return false;
        beginInsertRows(parent, row, row + count - 1);
        m_rows.insert(row, count, QVariantList(m_columns.size()));
        endInsertRows();
        return true;
    }
    bool removeRows(int row, int count, const QModelIndex& parent) override
    {
        if (parent.isValid() || row < 0 || count < 1 || row + count > m_rows.size())
            return false;
        beginRemoveRows(parent, row, row + count - 1);
        m_rows.remove(row, count);
        endRemoveRows();
        return true;
    }

private:
    QStringList m_columns;
    QList<QVariantList> m_rows;
};

// A whole number in \a value from \a low to \a high, or \a low - 1.
int number(const QJsonValue& value, int low, int high)
{
    const double n = value.toDouble(low - 1.0);
    return value.isDouble() && n == double(int(n)) && n >= low && n <= high ? int(n) : low - 1;
}

bool isStringList(const QJsonValue& value)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(), [](const QJsonValue& item) { return item.isString(); });
}

// Whether \a entry is a playlist as save() writes it.
bool isWhole(const QJsonObject& entry)
{
    const QJsonArray rows = entry.value(rowsKey).toArray(), shuffled = entry.value(shuffledKey).toArray();
    const int size = int(rows.size());
    const int sort = number(entry.value(sortKey), 0, 5);
    if (entry.value(idKey).toString().isEmpty() || !entry.value(nameKey).isString() || !isStringList(entry.value(columnsKey))
        || !entry.value(rowsKey).isArray() || number(entry.value(repeatKey), 0, 2) < 0 || sort < 0
        || number(entry.value(currentKey), -1, size - 1) < -1 || number(entry.value(sortColumnKey), -1, std::numeric_limits<int>::max()) < -1
        || !(entry.value(sourceKey).isUndefined() || entry.value(sourceKey).isString()) || !entry.value(shuffledKey).isArray()
        || (sort == RovaPlaylist::SortShuffled) != (size > 0 && shuffled.size() == size))
        return false;
    QList<bool> seen(size, false);
    for (const QJsonValue& value : shuffled) {
        const int row = number(value, 0, size - 1);
        if (row < 0 || seen.at(row))
            return false;
        seen[row] = true;
    }
    return std::all_of(rows.begin(), rows.end(), [](const QJsonValue& row) { return row.isArray(); });
}

} // namespace

class RovaPersistentPlaylistsPrivate
{
public:
    explicit RovaPersistentPlaylistsPrivate(const QString& name)
        : fileName(name)
    {
    }

    std::optional<QJsonArray> load();
    static std::optional<QJsonObject> entry(RovaPlaylist* playlist);
    static RovaPlaylistBase* create(const QJsonObject& entry);

    QString fileName;
    QJsonArray carried; // playlists of the file that are not registered
    bool loaded = false;
    bool restored = false;
    bool blocked = false; // a damaged file that could not be moved aside
};

// The playlists of the file; none, with the file moved aside, when it cannot be read.
std::optional<QJsonArray> RovaPersistentPlaylistsPrivate::load()
{
    loaded = true;
    QFile file(fileName);
    if (!file.exists())
        return QJsonArray();
    QString why;
    QJsonArray playlists;
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        playlists = document.object().value(QLatin1String("playlists")).toArray();
        if (error.error != QJsonParseError::NoError)
            why = error.errorString() + QStringLiteral(" at byte %1").arg(error.offset);
        else if (number(document.object().value(QLatin1String("version")), 1, 1) != 1
                 || !std::all_of(playlists.begin(), playlists.end(), [](const QJsonValue& entry) { return isWhole(entry.toObject()); }))
            why = QStringLiteral("not playlists as they are kept");
    }
    file.close();
    if (why.isEmpty()) {
        carried = playlists;
        return playlists;
    }
    QString aside = fileName + QLatin1String(".damaged");
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = fileName + QLatin1String(".damaged.") + QString::number(n);
    if (QFile::rename(fileName, aside)) {
        qWarning().noquote() << QStringLiteral("RovaPersistentPlaylists: cannot read \"%1\" (%2); it is kept as \"%3\"").arg(fileName, why, aside);
    } else {
        blocked = true;
        qWarning().noquote() << QStringLiteral("RovaPersistentPlaylists: cannot read \"%1\" (%2), nor move it aside; it will not be written over").arg(fileName, why);
    }
    return std::nullopt;
}

std::optional<QJsonObject> RovaPersistentPlaylistsPrivate::entry(RovaPlaylist* playlist)
{
    auto* base = qobject_cast<RovaPlaylistBase*>(playlist);
    const QAbstractItemModel* model = base ? base->underlyingModel() : nullptr;
    if (!model) {
        qWarning().noquote() << QStringLiteral("RovaPersistentPlaylists: the playlist \"%1\" has no item model to keep").arg(playlist->id());
        return std::nullopt;
    }
    QJsonArray rows, shuffled;
    for (int row = 0; row < model->rowCount(); ++row) {
        QJsonArray cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells.append(QJsonValue::fromVariant(model->data(model->index(row, column), Qt::DisplayRole)));
        rows.append(cells);
    }
    const QAbstractItemModel* presented = playlist->model();
    const auto* proxy = qobject_cast<const QSortFilterProxyModel*>(presented);
    const RovaPlaylist::RovaSortOrder order = playlist->getSortOrder();
    for (int row = 0; proxy && order == RovaPlaylist::SortShuffled && row < presented->rowCount(); ++row)
        shuffled.append(proxy->mapToSource(presented->index(row, 0)).row());
    QJsonObject entry{{idKey, playlist->id()},
                      {nameKey, playlist->name()},
                      {columnsKey, QJsonArray::fromStringList(base->getColumnNames())},
                      {rowsKey, rows},
                      {repeatKey, int(playlist->repeatMode())},
                      {sortKey, int(order)},
                      {sortColumnKey, proxy ? proxy->sortColumn() : -1},
                      {shuffledKey, shuffled},
                      {currentKey, playlist->getCurrentIndex()}};
    if (const auto* general = qobject_cast<RovaGeneralSourcePlaylist*>(playlist))
        entry.insert(sourceKey, general->sourceUuid());
    return entry;
}

RovaPlaylistBase* RovaPersistentPlaylistsPrivate::create(const QJsonObject& entry)
{
    const QString id = entry.value(idKey).toString(), name = entry.value(nameKey).toString();
    RovaPlaylistBase* playlist = entry.contains(sourceKey) ? new RovaGeneralSourcePlaylist(id, name, entry.value(sourceKey).toString())
                                                           : new RovaPlaylistBase(id, name);
    QList<QVariantList> rows;
    for (const QJsonValue& row : entry.value(rowsKey).toArray())
        rows.append(row.toArray().toVariantList());
    QStringList columns;
    for (const QJsonValue& column : entry.value(columnsKey).toArray())
        columns.append(column.toString());
    playlist->setUnderlyingModel(new RovaKeptModel(columns, rows, playlist));
    playlist->setRepeat(RovaPlaylist::RovaRepeatMode(entry.value(repeatKey).toInt()));
    const auto order = RovaPlaylist::RovaSortOrder(entry.value(sortKey).toInt());
    if (order == RovaPlaylist::SortShuffled) {
        QList<int> shuffled;
        for (const QJsonValue& row : entry.value(shuffledKey).toArray())
            shuffled.append(row.toInt());
        static_cast<RovaProxySortModel*>(playlist->model())->setShuffledOrder(shuffled);
    } else if (order != RovaPlaylist::SortNone) {
        playlist->sort(entry.value(sortColumnKey).toInt(), order);
    }
    if (const int current = entry.value(currentKey).toInt(); current >= 0)
        delete playlist->getItem(current);
    playlist->setPersistent(true);
    return playlist;
}

RovaPersistentPlaylists::RovaPersistentPlaylists(QObject* parent)
    : RovaPersistentPlaylists(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1String("/playlists.json"), parent)
{
}

RovaPersistentPlaylists::RovaPersistentPlaylists(const QString& fileName, QObject* parent)
    : QObject(parent)
    , d(new RovaPersistentPlaylistsPrivate(fileName))
{
}

RovaPersistentPlaylists::~RovaPersistentPlaylists()
{
    delete d;
}

QString RovaPersistentPlaylists::fileName() const
{
    return d->fileName;
}

int RovaPersistentPlaylists::restore()
{
    if (std::exchange(d->restored, true))
        return 0;
    const std::optional<QJsonArray> playlists = d->load();
    if (!playlists)
        return -1;
    d->carried = QJsonArray();
    int count = 0;
    for (const QJsonValue& entry : *playlists) {
        RovaPlaylistBase* playlist = RovaPersistentPlaylistsPrivate::create(entry.toObject());
        if (RovaInternalRegistry::internalInstance()->addPlaylist(playlist)) {
            ++count;
        } else {
            delete playlist;
            d->carried.append(entry);
        }
    }
    return count;
}

bool RovaPersistentPlaylists::save()
{
    if (!d->loaded)
        d->load();
    if (d->blocked) {
        qWarning().noquote() << QStringLiteral("RovaPersistentPlaylists: not writing over \"%1\", which cannot be read").arg(d->fileName);
        return false;
    }
    const RovaRegistry* registry = RovaRegistry::instance();
    QJsonArray playlists;
    QSet<QString> written;
    for (RovaPlaylist* playlist : registry->persistentPlaylists()) {
        if (const std::optional<QJsonObject> entry = RovaPersistentPlaylistsPrivate::entry(playlist)) {
            playlists.append(*entry);
            written.insert(playlist->id());
        }
    }
    // A kept playlist goes only when a persistent one with its id takes its place.
    for (const QJsonValue& entry : std::as_const(d->carried)) {
        if (!written.contains(entry.toObject().value(idKey).toString()))
            playlists.append(entry);
    }
    const QByteArray json = QJsonDocument(QJsonObject{{QLatin1String("version"), 1}, {QLatin1String("playlists"), playlists}}).toJson();
    QSaveFile file(d->fileName);
    if (QDir().mkpath(QFileInfo(d->fileName).path()) && file.open(QIODevice::WriteOnly) && file.write(json) == json.size() && file.commit())
        return true;
    qWarning().noquote() << QStringLiteral("RovaPersistentPlaylists: cannot write \"%1\": %2").arg(d->fileName, file.errorString());
    return false;
}

void RovaPersistentPlaylists::saveOnQuit()
{
    connect(qApp, &QCoreApplication::aboutToQuit, this, &RovaPersistentPlaylists::save, Qt::UniqueConnection);
}
