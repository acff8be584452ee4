// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplaylistbase.h"

#include "rovacontent.h"
#include "rovaplaylistbase_p.h"
#include "rovaproxysortmodel.h"

#include <QDebug>

RovaPlaylistBasePrivate::RovaPlaylistBasePrivate(RovaPlaylistBase& owner)
    : QObject(nullptr)
    , q(owner)
    , proxy(new RovaProxySortModel(this))
{
    proxy->setDynamicSortFilter(true);
    proxy->setSortCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSortLocaleAware(true);
    connect(proxy, &QAbstractItemModel::rowsInserted, this, &RovaPlaylistBasePrivate::rowsInsertedSlot);
    connect(proxy, &QAbstractItemModel::rowsRemoved, this, &RovaPlaylistBasePrivate::rowsRemovedSlot);
    connect(proxy, &QAbstractItemModel::layoutChanged, this, &RovaPlaylistBasePrivate::layoutChangedSlot);
    connect(proxy, &QAbstractItemModel::modelReset, this, &RovaPlaylistBasePrivate::modelResetSlot);
}

int RovaPlaylistBasePrivate::sourceRowAt(int position) const
{
    return proxy->mapToSource(proxy->index(position, 0)).row();
}

void RovaPlaylistBasePrivate::setCurrentIndex(int index)
{
    currentIndex = index;
    proxy->setCurrentIndex(index);
    currentSourceRow = proxy->mapToSource(proxy->index(index, 0));
}

int RovaPlaylistBasePrivate::updateCurrentIndex(int start, int removed, int inserted)
{
    const int current = currentIndex;
    if (inserted > 0 && current < 0 && removed == 0)
        return RovaPlaylist::NewContent;
    if (current < start)
        return current + 1 == start ? RovaPlaylist::NextChanged : NothingToReport;

    if (removed == inserted && start == 0) {
        // A reordering: the current item keeps its identity wherever it went.
        if (currentSourceRow.isValid())
            setCurrentIndex(proxy->mapFromSource(currentSourceRow.sibling(currentSourceRow.row(), 0)).row());
        else
            setCurrentIndex(current);
        return RovaPlaylist::CurrentMoved;
    }

    if (current < start + removed) {
        // The current item went. The proxy reports removals before the
        // underlying model drops the rows, so count them back in.
        const int before = proxy->rowCount() + removed;
        const int remaining = before - removed;
        setCurrentIndex(current < remaining ? start : remaining - 1);
        return RovaPlaylist::CurrentRemoved;
    }

    if (removed > 0)
        setCurrentIndex(qMax(-1, current - removed));
    else if (inserted > 0)
        setCurrentIndex(current + inserted);
    else
        return NothingToReport;
    return RovaPlaylist::CurrentMoved;
}

void RovaPlaylistBasePrivate::report(uint from, uint removed, uint inserted, int code)
{
    Q_EMIT q.contentsChanged(from, removed, inserted);
    if (code != NothingToReport)
        Q_EMIT q.playlistUpdated(RovaPlaylist::RovaPlaylistUpdate(code), currentIndex);
}

void RovaPlaylistBasePrivate::rowsInsertedSlot(const QModelIndex& parent, int first, int last)
{
    if (replacingModel || parent.isValid())
        return;
    const int count = last - first + 1;
    reportedRows += count;
    const int code = updateCurrentIndex(first, 0, count);
    report(uint(first), 0, uint(count), code);
}

void RovaPlaylistBasePrivate::rowsRemovedSlot(const QModelIndex& parent, int first, int last)
{
    if (replacingModel || parent.isValid())
        return;
    qDebug() << "RovaPlaylistBase::rowsRemovedSlot" << first << last;
    const int count = last - first + 1;
    reportedRows -= count;
    const int code = updateCurrentIndex(first, count, 0);
    report(uint(first), uint(count), 0, code);
}

void RovaPlaylistBasePrivate::layoutChangedSlot()
{
    if (replacingModel)
        return;
    const int count = proxy->rowCount();
    const int code = updateCurrentIndex(0, count, count);
    report(0, uint(count), uint(count), code);
}

void RovaPlaylistBasePrivate::modelResetSlot()
{
    // The underlying model was reset or deleted: all items are new.
    if (replacingModel)
        return;
    const int before = reportedRows;
    reportedRows = proxy->rowCount();
    setCurrentIndex(-1);
    report(0, uint(before), uint(reportedRows), RovaPlaylist::NewContent);
}

RovaPlaylistBase::RovaPlaylistBase(const QString& id, const QString& name)
    : RovaPlaylist(id, name)
    , d(new RovaPlaylistBasePrivate(*this))
{
}

RovaPlaylistBase::~RovaPlaylistBase()
{
    delete d;
}

QAbstractItemModel* RovaPlaylistBase::underlyingModel()
{
    return d->underlyingModel;
}

void RovaPlaylistBase::setUnderlyingModel(QAbstractItemModel* model)
{
    const int before = d->reportedRows;
    d->underlyingModel = model;
    d->replacingModel = true;
    d->proxy->setSourceModel(model);
    d->replacingModel = false;
    d->reportedRows = d->proxy->rowCount();
    d->setCurrentIndex(-1);
    d->report(0, uint(before), uint(d->reportedRows), NewContent);
}

QAbstractItemModel* RovaPlaylistBase::model()
{
    return d->proxy;
}

int RovaPlaylistBase::size()
{
    return d->proxy->rowCount();
}

int RovaPlaylistBase::getCurrentIndex()
{
    qDebug() << "RovaPlaylistBase::getCurrentIndex" << d->currentIndex;
    return d->currentIndex;
}

int RovaPlaylistBase::getNext(int index)
{
    const int count = size();
    const bool inside = index >= 0 && index < count;
    switch (d->repeatMode) {
    case RepeatNone:
        return inside && index < count - 1 ? index + 1 : -1;
    case RepeatOne:
        return inside ? index : -1;
    case RepeatAll:
        if (count > 0 && index == count - 1)
            return 0;
        return inside ? index + 1 : -1;
    }
    return -1;
}

int RovaPlaylistBase::getPrevious(int index)
{
    const int count = size();
    switch (d->repeatMode) {
    case RepeatNone:
        return index > 0 && index < count ? index - 1 : -1;
    case RepeatOne:
        return index >= 0 && index < count ? index : -1;
    case RepeatAll:
        if (index == 0)
            return count - 1;
        return index > 0 && index < count ? index - 1 : -1;
    }
    return -1;
}

void RovaPlaylistBase::setRepeat(RovaRepeatMode mode)
{
    if (mode < RepeatNone || mode > RepeatAll)
        qWarning() << "RovaPlaylistBase::setRepeat: invalid repeat mode" << int(mode);
    d->repeatMode = mode;
    Q_EMIT repeatModeChanged();
}

RovaPlaylist::RovaRepeatMode RovaPlaylistBase::repeatMode()
{
    return d->repeatMode;
}

RovaPlaylist::RovaSortOrder RovaPlaylistBase::getSortOrder()
{
    return d->proxy->getSortOrder();
}

bool RovaPlaylistBase::isShuffled()
{
    return getSortOrder() == SortShuffled;
}

void RovaPlaylistBase::sort(int column, RovaSortOrder order)
{
    qDebug() << "virtual void RovaPlaylistBase::sort(int, RovaPlaylist::RovaSortOrder)" << column << order;
    const bool sortsByColumn = order == SortAscending || order == SortDescending
        || order == SortNumericAscending || order == SortNumericDescending;
    if (sortsByColumn && (column < 0 || column >= d->proxy->columnCount())) {
        qWarning() << "RovaPlaylistBase::sort: no column" << column;
        return;
    }
    switch (order) {
    case SortAscending:
        d->proxy->sort(column, Qt::AscendingOrder);
        break;
    case SortDescending:
        d->proxy->sort(column, Qt::DescendingOrder);
        break;
    case SortNone:
        d->proxy->resetSortOrder();
        break;
    case SortShuffled:
        shuffle();
        break;
    case SortNumericAscending:
    case SortNumericDescending:
        d->proxy->sort(column, order);
        break;
    default:
        qWarning() << "RovaPlaylistBase: Invalid playlist sort enum!";
        break;
    }
}

void RovaPlaylistBase::sort(QString column, RovaSortOrder order)
{
    qDebug() << "virtual void RovaPlaylistBase::sort(QString, RovaPlaylist::RovaSortOrder)" << column << order;
    if (!d->underlyingModel) {
        getColumnNames(); // warns that there is no model
        return;
    }
    const int position = int(getColumnNames().indexOf(column));
    if (position < 0) {
        qWarning() << "RovaPlaylistBase::sort: no column named" << column;
        return;
    }
    sort(position, order);
}

QStringList RovaPlaylistBase::getColumnNames()
{
    QAbstractItemModel* model = d->underlyingModel;
    if (!model) {
        qWarning() << "RovaPlaylistBase::getColumnNames: model not set";
        return QStringList();
    }
    QStringList names;
    const int columns = model->columnCount();
    names.reserve(columns);
    for (int column = 0; column < columns; ++column)
        names.append(model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
    return names;
}

void RovaPlaylistBase::shuffle()
{
    if (!d->underlyingModel || d->underlyingModel->rowCount() == 0) {
        qWarning() << "RovaPlaylistBase::shuffle: nothing to shuffle";
        return;
    }
    // Shuffling again would only change which item is current.
    if (isShuffled())
        return;
    const int row = d->sourceRowAt(d->currentIndex);
    // The current item leads the new order; without one, whichever item comes
    // first becomes current.
    d->currentIndex = 0;
    d->proxy->setCurrentIndex(0);
    if (row < 0)
        d->currentSourceRow = QPersistentModelIndex();
    d->proxy->shuffle(row);
}

void RovaPlaylistBase::unShuffle()
{
    if (!isShuffled())
        return;
    // In natural order the current item's underlying row is its position.
    const int row = d->sourceRowAt(d->currentIndex);
    d->currentIndex = row;
    d->proxy->setCurrentIndex(row);
    d->proxy->resetSortOrder();
}

bool RovaPlaylistBase::removeItem(int index)
{
    if (index < 0 || index >= size())
        return false;
    return d->proxy->removeRows(index, 1);
}

bool RovaPlaylistBase::removeItems(int first, int last)
{
    if (last < first) {
        qWarning() << "RovaPlaylistBase::removeItems lastIndex less than firstIndex!";
        return false;
    }
    if (first < 0 || last >= size())
        return false;
    return d->proxy->removeRows(first, last - first + 1);
}

bool RovaPlaylistBase::moveItem(int from, int to)
{
    Q_UNUSED(from)
    Q_UNUSED(to)
    return false;
}

void RovaPlaylistBase::clear()
{
    qDebug() << "virtual void RovaPlaylistBase::clear()";
    const int count = size();
    if (count > 0)
        d->proxy->removeRows(0, count);
}

RovaContent* RovaPlaylistBase::getItem(int index)
{
    qDebug() << "virtual RovaContent* RovaPlaylistBase::getItem(int)" << index;
    const RovaMediaInfo info = getItemMediaInfo(index);
    if (info.uuid().isEmpty())
        return nullptr;
    d->setCurrentIndex(index);
    return new RovaContent(info.uuid());
}

bool RovaPlaylistBase::import(QFile& file)
{
    Q_UNUSED(file)
    qWarning() << "RovaPlaylistBase::import NOT IMPLEMENTED";
    return false;
}
