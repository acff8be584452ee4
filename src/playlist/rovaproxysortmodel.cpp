// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaproxysortmodel.h"

#include "rovaindexlist.h"

#include <QDebug>

RovaProxySortModel::RovaProxySortModel(QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_indexList(new RovaIndexList)
    , m_random(QRandomGenerator::global()->generate())
{
    // Qt's proxy forgets its row mapping on a reset or a layout change and builds
    // it again only when asked; until then it reports no change of rows it never
    // mapped. Asking at once keeps every change of the underlying rows reported.
    connect(this, &QAbstractItemModel::layoutChanged, this, &RovaProxySortModel::ensureMapped);
    connect(this, &QAbstractItemModel::modelReset, this, &RovaProxySortModel::ensureMapped);
}

RovaProxySortModel::~RovaProxySortModel()
{
    delete m_indexList;
}

void RovaProxySortModel::ensureMapped()
{
    QSortFilterProxyModel::rowCount(QModelIndex());
}

bool RovaProxySortModel::isServedIndex(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && sourceModel()
        && index.row() < rowCount() && index.column() < columnCount();
}

QModelIndex RovaProxySortModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return QModelIndex();
    return QSortFilterProxyModel::index(row, column, parent);
}

int RovaProxySortModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !sourceModel())
        return 0;
    return QSortFilterProxyModel::rowCount(parent);
}

int RovaProxySortModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !sourceModel())
        return 0;
    return QSortFilterProxyModel::columnCount(parent);
}

bool RovaProxySortModel::hasChildren(const QModelIndex& parent) const
{
    if (parent.isValid())
        return false;
    return rowCount() > 0 && columnCount() > 0;
}

QVariant RovaProxySortModel::data(const QModelIndex& index, int role) const
{
    if (isServedIndex(index))
        return QSortFilterProxyModel::data(index, role);
    qDebug() << "RovaProxySortModel, requesting invalid data" << index.row() << index.column()
             << m_indexList->size() << columnCount();
    return QVariant();
}

bool RovaProxySortModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (isServedIndex(index))
        return QSortFilterProxyModel::setData(index, value, role);
    qDebug() << "RovaProxyModel, invalid setData index given";
    return false;
}

QModelIndex RovaProxySortModel::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!isServedIndex(proxyIndex))
        return QModelIndex();
    return QSortFilterProxyModel::mapToSource(proxyIndex);
}

void RovaProxySortModel::setSourceModel(QAbstractItemModel* model)
{
    QAbstractItemModel* old = sourceModel();
    if (model == old)
        return;
    if (old) {
        disconnect(old, &QAbstractItemModel::rowsInserted, this, &RovaProxySortModel::handleInsertedRows);
        disconnect(old, &QAbstractItemModel::rowsRemoved, this, &RovaProxySortModel::handleRemovedRows);
        disconnect(old, &QAbstractItemModel::modelReset, this, &RovaProxySortModel::handleSourceReset);
        disconnect(old, &QObject::destroyed, this, &RovaProxySortModel::handleSourceDestroyed);
    }
    if (model) {
        m_indexList->fill(model->rowCount());
        if (m_sortOrder == RovaPlaylist::SortShuffled)
            shuffleIndexList(-1);
        // Connected before Qt's proxy attaches its own handlers, so the index
        // list is up to date when the proxy places inserted rows.
        connect(model, &QAbstractItemModel::rowsInserted, this, &RovaProxySortModel::handleInsertedRows);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &RovaProxySortModel::handleRemovedRows);
        connect(model, &QAbstractItemModel::modelReset, this, &RovaProxySortModel::handleSourceReset);
    } else {
        m_indexList->clear();
    }
    QSortFilterProxyModel::setSourceModel(model);
    if (model) {
        // After Qt's proxy has let go of the dying model: announce the loss as a reset.
        connect(model, &QObject::destroyed, this, &RovaProxySortModel::handleSourceDestroyed);
    }
    ensureMapped();
}

void RovaProxySortModel::handleSourceDestroyed()
{
    beginResetModel();
    m_indexList->clear();
    endResetModel();
}

void RovaProxySortModel::handleSourceReset()
{
    const QAbstractItemModel* model = sourceModel();
    m_indexList->fill(model ? model->rowCount() : 0);
    if (m_sortOrder == RovaPlaylist::SortShuffled)
        shuffleIndexList(-1);
}

bool RovaProxySortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    switch (m_sortOrder) {
    case RovaPlaylist::SortNumericAscending:
    case RovaPlaylist::SortNumericDescending: {
        // A value that is not there compares as 0, on either side.
        const QVariant leftValue = left.model() ? left.data(sortRole()) : QVariant();
        const QVariant rightValue = right.model() ? right.data(sortRole()) : QVariant();
        const int leftNumber = leftValue.isValid() ? leftValue.toInt() : 0;
        const int rightNumber = rightValue.isValid() ? rightValue.toInt() : 0;
        return leftNumber < rightNumber;
    }
    case RovaPlaylist::SortShuffled: {
        const int size = m_indexList->size();
        if (left.row() < 0 || right.row() < 0 || left.row() >= size || right.row() >= size)
            return false;
        return m_indexList->indexOf(uint(left.row())) < m_indexList->indexOf(uint(right.row()));
    }
    default:
        return QSortFilterProxyModel::lessThan(left, right);
    }
}

void RovaProxySortModel::resortBase(int column, Qt::SortOrder order)
{
    // Qt's proxy takes a request for the column and direction in force as done,
    // even when the comparison behind them has changed: make it sort afresh.
    if (sortColumn() == column && QSortFilterProxyModel::sortOrder() == order && dynamicSortFilter())
        setDynamicSortFilter(true);
    else
        QSortFilterProxyModel::sort(column, order);
}

void RovaProxySortModel::sort(int column, Qt::SortOrder order)
{
    qDebug() << "RovaProxySortModel::sort" << column << order;
    if (column < 0 || column >= columnCount())
        return;
    const RovaPlaylist::RovaSortOrder previous = m_sortOrder;
    m_sortOrder = order == Qt::AscendingOrder ? RovaPlaylist::SortAscending : RovaPlaylist::SortDescending;
    if (previous == m_sortOrder)
        QSortFilterProxyModel::sort(column, order);
    else
        resortBase(column, order);
}

void RovaProxySortModel::sort(int column, RovaPlaylist::RovaSortOrder order)
{
    qDebug() << "RovaProxySortModel::sort" << column << order;
    if (column < 0 || column >= columnCount())
        return;
    Qt::SortOrder qtOrder;
    switch (order) {
    case RovaPlaylist::SortAscending:
    case RovaPlaylist::SortNumericAscending:
        qtOrder = Qt::AscendingOrder;
        break;
    case RovaPlaylist::SortDescending:
    case RovaPlaylist::SortNumericDescending:
        qtOrder = Qt::DescendingOrder;
        break;
    default:
        return;
    }
    const RovaPlaylist::RovaSortOrder previous = m_sortOrder;
    m_sortOrder = order;
    if (previous == order)
        QSortFilterProxyModel::sort(column, qtOrder);
    else
        resortBase(column, qtOrder);
}

void RovaProxySortModel::shuffleIndexList(int first)
{
    const QAbstractItemModel* model = sourceModel();
    m_indexList->fill(model ? model->rowCount() : 0);
    const int size = m_indexList->size();
    const bool leading = first >= 0 && first < size;
    if (leading)
        m_indexList->removeAt(first);
    for (int i = m_indexList->size() - 1; i >= 0; --i)
        m_indexList->swap(int(m_random.bounded(i + 1)), i);
    if (leading)
        m_indexList->insert(0, uint(first));
}

void RovaProxySortModel::shuffle(int first)
{
    qDebug().nospace() << "RovaProxySortModel::shuffle(" << first << ")";
    if (m_indexList->size() == 0 || m_sortOrder == RovaPlaylist::SortShuffled)
        return;
    shuffleIndexList(first);
    m_sortOrder = RovaPlaylist::SortShuffled;
    // The shuffled comparison ignores the column; it needs an ascending sort,
    // so that the presented rows are exactly the index list.
    const int column = sortColumn() >= 0 && sortColumn() < columnCount() ? sortColumn() : 0;
    resortBase(column, Qt::AscendingOrder);
}

bool RovaProxySortModel::setShuffledOrder(const QList<int>& rows)
{
    const int size = sourceModel() ? sourceModel()->rowCount() : 0;
    if (size == 0 || rows.size() != size)
        return false;
    QList<bool> seen(size, false);
    for (const int row : rows) {
        if (row < 0 || row >= size || seen.at(row))
            return false;
        seen[row] = true;
    }
    m_indexList->clear();
    for (const int row : rows)
        m_indexList->append(uint(row));
    m_sortOrder = RovaPlaylist::SortShuffled;
    const int column = sortColumn() >= 0 && sortColumn() < columnCount() ? sortColumn() : 0;
    resortBase(column, Qt::AscendingOrder);
    return true;
}

void RovaProxySortModel::insertBatchToShuffled(int current, uint first, int count)
{
    const int size = m_indexList->size();
    current = qBound(-1, current, size - 1);
    QList<int> offsets(count);
    for (int j = 0; j < count; ++j) {
        // Positions current + 1 .. size, the size counting the rows placed so far.
        const int span = size + j - current;
        offsets[j] = int(m_random.bounded(span));
    }
    m_indexList->insertAfter(current, first, offsets);
}

void RovaProxySortModel::insertToShuffled(int current, uint row)
{
    qDebug() << "RovaProxySortModel::insertToShuffled" << current << row;
    insertBatchToShuffled(current, row, 1);
}

void RovaProxySortModel::handleInsertedRows(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid())
        return;
    const QAbstractItemModel* model = sourceModel();
    if (!model) {
        m_indexList->clear();
        qWarning() << "RovaProxySortModel: no source model set";
        return;
    }
    if (m_sortOrder == RovaPlaylist::SortShuffled)
        insertBatchToShuffled(m_currentIndex, uint(first), last - first + 1);
    else
        m_indexList->fill(model->rowCount());
}

void RovaProxySortModel::handleRemovedRows(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid() || last < first)
        return;
    m_indexList->removeValueRange(uint(first), uint(last));
}

void RovaProxySortModel::resetSortOrder()
{
    if (m_sortOrder == RovaPlaylist::SortNone)
        return;
    const QAbstractItemModel* model = sourceModel();
    m_indexList->fill(model ? model->rowCount() : 0);
    m_sortOrder = RovaPlaylist::SortNone;
    resortBase(-1, Qt::AscendingOrder);
}

RovaPlaylist::RovaSortOrder RovaProxySortModel::getSortOrder()
{
    return m_sortOrder;
}

void RovaProxySortModel::setCurrentIndex(int index)
{
    m_currentIndex = index;
}
