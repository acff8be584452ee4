// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLAYLIST_H
#define ROVAPLAYLIST_H

#include "rova_export.h"
#include "rovamediainfo.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QAbstractItemModel;
class QFile;
class RovaContent;

/*!
    The abstract playlist the rest of the framework talks to: the registry keeps
    playlists by id, a renderer steps through one, applications sort, shuffle and
    edit one. Indexes are positions in the presented (sorted or shuffled) order,
    counted from 0; -1 means none.

    A playlist id is "rova" followed by the 32 lower-case hex digits of a uuid,
    possibly followed by more decimal digits; see getNewPlaylistId().
*/
class ROVA_EXPORT RovaPlaylist : public QObject
{
    Q_OBJECT

public:
    // The enumerations have a fixed int underlying type: callers may pass any
    // number, and the operations reject the ones outside the list.
    /*! The order a playlist presents its items in; see sort() and getSortOrder(). */
    enum RovaSortOrder : int {
        SortAscending = 0, ///< by a column, ascending, comparing text case-insensitively and locale-aware
        SortDescending = 1, ///< the same, descending
        SortNone = 2, ///< the natural order of the underlying model
        SortShuffled = 3, ///< a random order (shuffle())
        SortNumericAscending = 4, ///< by a column, ascending, comparing the values as integers
        SortNumericDescending = 5 ///< the same, descending
    };
    Q_ENUM(RovaSortOrder)

    /*! How getNext() and getPrevious() step at the ends of the playlist. */
    enum RovaRepeatMode : int {
        RepeatNone = 0, ///< stepping stops at either end
        RepeatOne = 1, ///< the next and previous item of an item is the item itself
        RepeatAll = 2 ///< stepping wraps from the last item to the first and back
    };
    Q_ENUM(RovaRepeatMode)

    /*! What a change did to the current item; see playlistUpdated(). */
    enum RovaPlaylistUpdate : int {
        CurrentRemoved = 0, ///< the current item was removed; the index moved to a neighbour, or -1
        CurrentMoved = 1, ///< the current item stayed but its index or the order changed
        NextChanged = 2, ///< items were inserted or removed right after the current item
        NewContent = 3 ///< new items while there was no current item, or a new underlying model
    };
    Q_ENUM(RovaPlaylistUpdate)

    /*!
        Creates a playlist with the id \a id and the display name \a name, without a parent and not
        persistent. The id is not checked here; see id().
    */
    RovaPlaylist(const QString& id, const QString& name);
    ~RovaPlaylist() override;

    /*! The playlist id; the registry refuses an empty or duplicate one. */
    QString id() const;

    /*! The display name given to the constructor. */
    virtual QString name();
    /*! The model in the presented order, for views; owned by the playlist. */
    virtual QAbstractItemModel* model() = 0;
    /*!
        Presents the items in \a order by the values of column \a column (ignored for SortNone and
        SortShuffled). An order outside RovaSortOrder is refused with a warning.
    */
    virtual void sort(int column, RovaSortOrder order) = 0;
    /*! The same, with the column given by its header name (see getColumnNames()). */
    virtual void sort(QString column, RovaSortOrder order) = 0;
    /*! The header names of the columns, in column order; empty (with a warning) when there is no model. */
    virtual QStringList getColumnNames() = 0;
    /*! Presents the items in a random order (SortShuffled); the current item stays current. */
    virtual void shuffle() = 0;
    /*! Returns from a shuffled order to the natural order (SortNone); does nothing when not shuffled. */
    virtual void unShuffle() = 0;
    /*! Removes the item at \a index; false when there is no such item or the model refuses. */
    virtual bool removeItem(int index) = 0;
    /*! Removes the items from \a first to \a last, both included. */
    virtual bool removeItems(int first, int last) = 0;
    /*! Moves the item at \a from to \a to; false when refused or not supported. */
    virtual bool moveItem(int from, int to) = 0;
    /*! Removes every item; the current index becomes -1. */
    virtual void clear() = 0;
    /*! The item at \a index; the caller owns the returned object. */
    virtual RovaContent* getItem(int index) = 0;
    /*! The number of items. */
    virtual int size() = 0;
    /*! The index of the current item, -1 when there is none. */
    virtual int getCurrentIndex() = 0;
    /*! The index after \a index under the repeat mode, or -1. */
    virtual int getNext(int index) = 0;
    /*! The index before \a index under the repeat mode, or -1. */
    virtual int getPrevious(int index) = 0;
    /*! Sets the repeat mode used by getNext() and getPrevious() and emits repeatModeChanged(). */
    virtual void setRepeat(RovaRepeatMode mode) = 0;
    /*! The repeat mode; RepeatNone at first. */
    virtual RovaRepeatMode repeatMode() = 0;
    /*! The order the items are presented in; SortNone at first. */
    virtual RovaSortOrder getSortOrder() = 0;
    /*! True while the order is SortShuffled. */
    virtual bool isShuffled() = 0;
    /*!
        Reads items from the playlist file \a file; false when the format is unknown or import is
        not supported.
    */
    virtual bool import(QFile& file) = 0;
    /*! The item at \a index as a renderer plays it; an invalid media info unless overridden. */
    virtual RovaMediaInfo getItemMediaInfo(int index);
    /*! Whether the playlist outlives the application (set with setPersistent()); false at first. */
    virtual bool persistent();
    /*! Whether the playlist outlives the application; only reported to the registry. */
    virtual void setPersistent(bool persistent);

    /*! A fresh id: "rova", 32 hex digits, a per-process counter and the process id. */
    static QString getNewPlaylistId();
    /*! "rova" and the uuid without '-', '{' and '}'; unchanged when it starts with "rova" already. */
    static QString convertUuidtoPlaylistId(const QString& uuid);
    /*! The hyphenated 8-4-4-4-12 form of a playlist id; unchanged when it is not one. */
    static QString convertPlaylistIdtoUuid(const QString& id);

Q_SIGNALS:
    /*! At position \a from, \a remove items went and \a get items are there now. */
    void contentsChanged(uint from, uint remove, uint get);
    /*! The current item changed as \a update says; \a newIndex is the current index now. */
    void playlistUpdated(RovaPlaylist::RovaPlaylistUpdate update, int newIndex);
    /*! Reserved for playlists that move items; RovaPlaylistBase never emits it. */
    void itemMoved();
    /*! Emitted by setRepeat(). */
    void repeatModeChanged();

private:
    QString m_name;
    QString m_id;
    bool m_persistent = false;
};

#endif // ROVAPLAYLIST_H
