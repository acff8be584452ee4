// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLAYERQUEUE_H
#define ROVAPLAYERQUEUE_H

#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovaplaylistfile.h>

#include <QSet>
#include <QStringList>

/*!
    The queue qrova-play builds from playlist files given as paths. Their local
    entries are indexed like other paths and play as the store's songs; their
    network entries are played from their location. Files and folders given
    beside playlist files follow the playlists' entries.
*/
class RovaPlayerQueue
{
public:
    /*!
        Reads the playlist files among \a arguments. \a indexPaths gets what must be indexed (the local
        entries and the other arguments); each entry left out is told to \a skipped as
        "<playlist> line <n>: <reason>", a playlist that cannot be read as "<playlist>: <reason>".
    */
    RovaPlayerQueue(const QStringList& arguments, QStringList* indexPaths, QStringList* skipped);

    /*! Whether a playlist file was among the arguments. */
    bool active() const { return m_active; }
    /*! Whether a playlist named network entries. */
    bool hasStreams() const { return m_streams; }

    /*!
        The queue from the store's songs \a songs: the playlists' entries in order (local ones as the
        store's songs, dropped when not in it; network ones as items of their own, dropped when they do
        not match \a search), then the store's songs under the other arguments.
    */
    QList<RovaContent> order(const QList<RovaContent>& songs, const QString& search) const;

    /*! Writes \a songs (with their "uri", "title", "artist" and "duration") into the playlist file \a path. */
    static bool save(const QString& path, const QList<RovaContent>& songs, QString* error);

private:
    bool m_active = false;
    bool m_streams = false;
    QList<RovaPlaylistFile::Entry> m_entries; // local ones by their canonical path
    QStringList m_others; // canonical paths of the other arguments
};

/*!
    A playlist of the store's songs and network items: the rows of its model are object ids, and an
    object id that is the location of a network item (named in \a streams) is played from there.
*/
class RovaPlayerPlaylist : public RovaGeneralSourcePlaylist
{
public:
    RovaPlayerPlaylist(const QString& id, const QString& name, const QString& sourceUuid, const QSet<QString>& streams);
    RovaMediaInfo getItemMediaInfo(int index) override;

private:
    QSet<QString> m_streams;
};

#endif // ROVAPLAYERQUEUE_H
