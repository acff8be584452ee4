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
    enum RovaSortOrder : int {
        SortAscending = 0,
        SortDescending = 1,
        SortNone = 2,
        SortShuffled = 3,
        SortNumericAscending = 4,
        SortNumericDescending = 5
    };
    Q_ENUM(RovaSortOrder)

    enum RovaRepeatMode : int {
        RepeatNone = 0,
        RepeatOne = 1,
        RepeatAll = 2
    };
    Q_ENUM(RovaRepeatMode)

    /*! What a change did to the current item; see playlistUpdated(). */
    enum RovaPlaylistUpdate : int {
        CurrentRemoved = 0,
        CurrentMoved = 1,
        NextChanged = 2,
        NewContent = 3
    };
    Q_ENUM(RovaPlaylistUpdate)

    RovaPlaylist(const QString& id, const QString& name);
    ~RovaPlaylist() override;

    /*! The playlist id; the registry refuses an empty or duplicate one. */
    QString id() const;

    virtual QString name();
    virtual QAbstractItemModel* model() = 0;
    virtual void sort(int column, RovaSortOrder order) = 0;
    virtual void sort(QString column, RovaSortOrder order) = 0;
    virtual QStringList getColumnNames() = 0;
    virtual void shuffle() = 0;
    virtual void unShuffle() = 0;
    virtual bool removeItem(int index) = 0;
    /*! Removes the items from \a first to \a last, both included. */
    virtual bool removeItems(int first, int last) = 0;
    virtual bool moveItem(int from, int to) = 0;
    virtual void clear() = 0;
    /*! The item at \a index; the caller owns the returned object. */
    virtual RovaContent* getItem(int index) = 0;
    virtual int size() = 0;
    virtual int getCurrentIndex() = 0;
    /*! The index after \a index under the repeat mode, or -1. */
    virtual int getNext(int index) = 0;
    /*! The index before \a index under the repeat mode, or -1. */
    virtual int getPrevious(int index) = 0;
    virtual void setRepeat(RovaRepeatMode mode) = 0;
    virtual RovaRepeatMode repeatMode() = 0;
    virtual RovaSortOrder getSortOrder() = 0;
    virtual bool isShuffled() = 0;
    virtual bool import(QFile& file) = 0;
    /*! The item at \a index as a renderer plays it; an invalid media info unless overridden. */
    virtual RovaMediaInfo getItemMediaInfo(int index);
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
    void itemMoved();
    void repeatModeChanged();

private:
    QString m_name;
    QString m_id;
    bool m_persistent = false;
};

#endif // ROVAPLAYLIST_H
