// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLAYLISTBASE_P_H
#define ROVAPLAYLISTBASE_P_H

#include "rovaplaylist.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>

class QAbstractItemModel;
class RovaPlaylistBase;
class RovaProxySortModel;

class RovaPlaylistBasePrivate : public QObject
{
    Q_OBJECT

public:
    // What updateCurrentIndex() returns when there is nothing to report.
    static constexpr int NothingToReport = 4;

    explicit RovaPlaylistBasePrivate(RovaPlaylistBase& owner);

    RovaPlaylistBase& q;
    RovaProxySortModel* proxy;
    QPointer<QAbstractItemModel> underlyingModel;
    RovaPlaylist::RovaRepeatMode repeatMode = RovaPlaylist::RepeatNone;
    int currentIndex = -1;
    // The current item in the underlying model; it follows the item through
    // every insertion, removal and reordering, so a sort finds it again.
    QPersistentModelIndex currentSourceRow;
    // Rows as last reported, for the reports of a reset.
    int reportedRows = 0;
    bool replacingModel = false;

    void setCurrentIndex(int index);
    int sourceRowAt(int position) const;
    int updateCurrentIndex(int start, int removed, int inserted);
    void report(uint from, uint removed, uint inserted, int code);

private Q_SLOTS:
    void rowsInsertedSlot(const QModelIndex& parent, int first, int last);
    void rowsRemovedSlot(const QModelIndex& parent, int first, int last);
    void layoutChangedSlot();
    void modelResetSlot();
};

#endif // ROVAPLAYLISTBASE_P_H
