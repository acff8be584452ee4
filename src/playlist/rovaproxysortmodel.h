// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPROXYSORTMODEL_H
#define ROVAPROXYSORTMODEL_H

#include "rova_export.h"
#include "rovaplaylist.h"

#include <QRandomGenerator>
#include <QSortFilterProxyModel>

class RovaIndexList;

/*!
    Presents the rows of a flat item model in one of the playlist orders:
    natural, sorted by a column as text, sorted by a column as integers, or
    shuffled. Sorting is QSortFilterProxyModel's; the shuffled order is an
    explicit permutation of the underlying rows that the comparison follows.

    Rows inserted while shuffled land at random positions after the current
    position (see setCurrentIndex()), so the item that is playing and those
    before it stay where they are. Removals keep the shuffled order of the rows
    that remain.

    The model is flat: rows have no children. The index list is owned by the
    proxy; the underlying model is not.
*/
class ROVA_EXPORT RovaProxySortModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    /*! Creates the proxy, in natural order and without an underlying model, as a child of \a parent. */
    explicit RovaProxySortModel(QObject* parent = nullptr);
    ~RovaProxySortModel() override;

    /*! The index of presented row \a row; an invalid index outside the model or for a non-root \a parent. */
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    /*! The number of presented rows for the root; 0 for any other parent. */
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    /*! The underlying model's number of columns for the root; 0 for any other parent. */
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    /*! The underlying model's data at the row \a index presents; an invalid QVariant for an invalid index. */
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    /*!
        Writes \a value into the underlying model at the row \a index presents; false for an invalid
        index or when the underlying model refuses.
    */
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    /*! Sorts by \a column as text (SortAscending or SortDescending); an invalid column changes nothing. */
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    /*!
        Presents \a sourceModel (null for none) in natural order. The model is not taken over; when
        it is deleted the proxy is empty.
    */
    void setSourceModel(QAbstractItemModel* sourceModel) override;
    /*! The underlying model's index for \a proxyIndex; an invalid index when there is none. */
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    /*! True only for the root of a model with rows: the model is flat. */
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;

    /*!
        Sorts by \a column: orders 0 and 4 ascending, 1 and 5 descending, 4 and 5
        comparing the values as integers. Other orders and invalid columns change
        nothing.
    */
    void sort(int column, RovaPlaylist::RovaSortOrder order);
    /*!
        Shuffles the rows. The underlying row \a first, when it exists, comes
        first; -1 for none. Does nothing when there are no rows or the order is
        shuffled already.
    */
    void shuffle(int first);
    /*!
        Presents the rows in the shuffled order \a rows: presented position i shows
        underlying row rows[i] (what mapToSource() gave for it). \a rows must name every
        underlying row once; otherwise nothing changes and the result is false.
        Restores a shuffled order kept from an earlier run.
    */
    bool setShuffledOrder(const QList<int>& rows);
    /*!
        Places the new underlying row \a row into the shuffled order at a random
        position after \a current; rows at or after \a row already in the order
        are renumbered. Called for each row inserted while shuffled.
    */
    void insertToShuffled(int current, uint row);
    /*! Back to the natural order of the underlying model. */
    void resetSortOrder();
    /*! The order the rows are presented in; SortNone at first and after resetSortOrder(). */
    RovaPlaylist::RovaSortOrder getSortOrder();
    /*! The current position, where rows inserted while shuffled are placed after. */
    void setCurrentIndex(int index);

protected:
    /*!
        The comparison of the current order: by the shuffled permutation, as integers, or as text
        (QSortFilterProxyModel's).
    */
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private Q_SLOTS:
    void handleInsertedRows(const QModelIndex& parent, int first, int last);
    void handleRemovedRows(const QModelIndex& parent, int first, int last);
    void ensureMapped();

private:
    void handleSourceReset();
    void handleSourceDestroyed();
    void insertBatchToShuffled(int current, uint first, int count);
    void shuffleIndexList(int first);
    void resortBase(int column, Qt::SortOrder order);
    bool isServedIndex(const QModelIndex& index) const;

    RovaIndexList* m_indexList;
    int m_currentIndex = -1;
    RovaPlaylist::RovaSortOrder m_sortOrder = RovaPlaylist::SortNone;
    QRandomGenerator m_random;
};

#endif // ROVAPROXYSORTMODEL_H
