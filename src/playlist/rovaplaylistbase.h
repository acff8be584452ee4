// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLAYLISTBASE_H
#define ROVAPLAYLISTBASE_H

#include "rova_export.h"
#include "rovaplaylist.h"

class RovaPlaylistBasePrivate;

/*!
    A playlist over any flat item model (the underlying model), presented through
    a RovaProxySortModel that sorts or shuffles it.

    The playlist keeps its current index on the same item through insertions,
    removals, sorting and shuffling, and reports each change: contentsChanged()
    first, then playlistUpdated() when the change touches the current item or
    the position after it. Handing out an item with getItem() makes it current.

    Item identity comes from subclasses through getItemMediaInfo(); here it is
    always empty, so getItem() returns null. The playlist owns its proxy; the
    underlying model belongs to the caller and may be deleted at any time, which
    leaves an empty playlist.
*/
class ROVA_EXPORT RovaPlaylistBase : public RovaPlaylist
{
    Q_OBJECT

public:
    /*! Creates an empty playlist with the id \a id and the name \a name; see RovaPlaylist::RovaPlaylist(). */
    RovaPlaylistBase(const QString& id, const QString& name);
    ~RovaPlaylistBase() override;

    /*! The model set with setUnderlyingModel(); null when there is none or it was deleted. */
    QAbstractItemModel* underlyingModel();
    /*!
        Presents \a model (null for none). The current index becomes -1; emits
        contentsChanged(0, old row count, new row count) and
        playlistUpdated(NewContent, -1).
    */
    void setUnderlyingModel(QAbstractItemModel* model);

    QAbstractItemModel* model() override;
    void sort(int column, RovaSortOrder order) override;
    /*! Sorts by the column whose header text is \a column. */
    void sort(QString column, RovaSortOrder order) override;
    QStringList getColumnNames() override;
    /*! Shuffles; the current item, if any, becomes the first and stays current. */
    void shuffle() override;
    /*! Back to the natural order, keeping the current item. */
    void unShuffle() override;
    bool removeItem(int index) override;
    bool removeItems(int first, int last) override;
    /*! Not supported: returns false. */
    bool moveItem(int from, int to) override;
    void clear() override;
    /*! The item at \a index, which becomes the current item; null when there is none. */
    RovaContent* getItem(int index) override;
    int size() override;
    int getCurrentIndex() override;
    int getNext(int index) override;
    int getPrevious(int index) override;
    void setRepeat(RovaRepeatMode mode) override;
    RovaRepeatMode repeatMode() override;
    RovaSortOrder getSortOrder() override;
    bool isShuffled() override;
    /*! Not supported: returns false. */
    bool import(QFile& file) override;

private:
    friend class RovaPlaylistBasePrivate;
    RovaPlaylistBasePrivate* const d;
};

#endif // ROVAPLAYLISTBASE_H
