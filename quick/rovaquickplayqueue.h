// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAQUICKPLAYQUEUE_H
#define ROVAQUICKPLAYQUEUE_H

#include "rovaquicksong.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class RovaGeneralSourcePlaylist;
class RovaPlaylist;
class RovaQuickLibrary;
class RovaQuickSongTable;

/*!
    A play queue, in QML `PlayQueue`: a RovaGeneralSourcePlaylist presented as a
    list model in its playing order, with the library's roles and isCurrent.

    load() fills it with the songs a Library holds at that moment; the queue
    keeps them when the library searches again. sort() orders it by a role,
    `shuffle` puts it in a random order (the current song first), and `repeat`
    says how the player steps at its ends. The current song stays current
    through all of them; `currentIndex` is its row.
*/
class RovaQuickPlayQueue : public QAbstractListModel
{
    Q_OBJECT
    QML_NAMED_ELEMENT(PlayQueue)
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY currentIndexChanged)
    Q_PROPERTY(RepeatMode repeat READ repeat WRITE setRepeat NOTIFY repeatChanged)
    Q_PROPERTY(bool shuffle READ shuffle WRITE setShuffle NOTIFY shuffleChanged)
    Q_PROPERTY(QString sortRole READ sortRole NOTIFY sortChanged)
    Q_PROPERTY(Qt::SortOrder sortOrder READ sortOrder NOTIFY sortChanged)
    /*! The RovaPlaylist presented, for C++ code that works with the library directly. */
    Q_PROPERTY(QObject* playlist READ playlistObject NOTIFY playlistReplaced)

public:
    /*! How the player steps at the ends of the queue. */
    enum RepeatMode {
        RepeatNone = 0, ///< playing stops after the last song
        RepeatOne = 1, ///< the current song again and again
        RepeatAll = 2 ///< from the last song on to the first
    };
    Q_ENUM(RepeatMode)

    explicit RovaQuickPlayQueue(QObject* parent = nullptr);
    ~RovaQuickPlayQueue() override;

    int currentIndex() const { return m_currentIndex; }
    RepeatMode repeat() const;
    void setRepeat(RepeatMode mode);
    bool shuffle() const;
    void setShuffle(bool shuffle);
    QString sortRole() const { return m_sortRole; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    /*! Fills the queue with the songs \a library holds now, in its order; the current song is none then. */
    Q_INVOKABLE void load(RovaQuickLibrary* library);
    /*! Empties the queue. */
    Q_INVOKABLE void clear();
    /*!
        Orders the queue by \a role ("title", "artist", "album", "duration",
        "trackNumber", "location"); an empty role restores the order of load().
        False, with a warning, for another role.
    */
    Q_INVOKABLE bool sort(const QString& role, Qt::SortOrder order = Qt::AscendingOrder);
    /*! The row \a row as an object of its roles; empty when there is no such row. */
    Q_INVOKABLE QVariantMap get(int row) const;

    /*! The playlist the queue presents; a player assigns it to its renderer. */
    RovaPlaylist* playlist() const;
    QObject* playlistObject() const;
    /*! The song at row \a row; an empty one when there is none. */
    RovaQuickSong song(int row) const;
    /*! The songs in the order of load(). */
    QList<RovaQuickSong> songs() const;
    /*! The source uuid the songs' ids belong to. */
    QString sourceUuid() const;
    /*! The row of the song with the object id \a id, or -1. */
    int rowOfId(const QString& id) const;
    /*! Reads the playlist's current item again (the renderer moves it). */
    void updateCurrent();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();
    void currentIndexChanged();
    void repeatChanged();
    void shuffleChanged();
    void sortChanged();
    /*! The queue presents another playlist now (its songs come from another source). */
    void playlistReplaced();

private:
    void makePlaylist(const QString& sourceUuid);
    void present(const QList<RovaQuickSong>& songs);
    void setSort(const QString& role, Qt::SortOrder order);

    RovaQuickSongTable* m_table;
    RovaGeneralSourcePlaylist* m_playlist = nullptr;
    QString m_sortRole;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_currentIndex = -1;
    int m_count = 0;
};

#endif // ROVAQUICKPLAYQUEUE_H
