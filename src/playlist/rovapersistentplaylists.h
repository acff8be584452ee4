// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPERSISTENTPLAYLISTS_H
#define ROVAPERSISTENTPLAYLISTS_H

#include "rova_export.h"

#include <QObject>
#include <QString>

class RovaPersistentPlaylistsPrivate;

/*!
    Keeps the registry's persistent playlists (RovaPlaylist::persistent()) from one run
    of an application to the next, in one file of the application's data folder
    (QStandardPaths::AppDataLocation). An application that wants them back creates
    one object after its QCoreApplication and before it registers playlists of its own:

    \code
    RovaPersistentPlaylists kept;
    kept.restore();    // registers the playlists the last run kept
    kept.saveOnQuit(); // keeps the persistent ones again when the application quits
    \endcode

    What a playlist keeps: its id, name, repeat mode and order (natural, sorted by a
    column, or the very order it was shuffled into), its current item, the column
    names and the display value of every cell of its underlying model. Playlists
    derived from RovaPlaylistBase that have an underlying model are kept; other
    persistent playlists are left out with a warning. A restored playlist is a
    RovaGeneralSourcePlaylist of the same source when it was one, a RovaPlaylistBase
    otherwise; it owns its model (a QObject child), is persistent, and is owned by
    the registry like any registered playlist.

    No playlist is ever lost. The file is replaced atomically (QSaveFile): a run that
    ends while saving leaves the previous file whole. A file that cannot be read is
    renamed beside itself (".damaged" appended to its name) with one warning, and
    nothing is restored from it; when it cannot be renamed, it is not written over
    either. Playlists of the file that are not registered (their id was taken, or
    restore() was not called) are written back by save(), unless a persistent
    playlist with the same id replaces them.

    The object owns nothing but its own state; the playlists belong to the registry.
*/
class ROVA_EXPORT RovaPersistentPlaylists : public QObject
{
    Q_OBJECT

public:
    /*! Keeps the playlists in "playlists.json" in the application's data folder. */
    explicit RovaPersistentPlaylists(QObject* parent = nullptr);
    /*! Keeps the playlists in the file \a fileName. */
    explicit RovaPersistentPlaylists(const QString& fileName, QObject* parent = nullptr);
    ~RovaPersistentPlaylists() override;

    /*! The file the playlists are kept in. */
    QString fileName() const;
    /*!
        Registers the playlists the file holds, in the order they were saved. Returns
        how many were registered: 0 when there is no file, -1 when it cannot be read.
        A second call registers nothing more.
    */
    int restore();
    /*!
        Writes every persistent playlist of the registry, in registration order, then
        the playlists read from the file that restore() could not register (or all of
        them, without restore()) and that no persistent playlist with their id
        replaces. Returns false, with a
        warning, when the file cannot be written; the previous file then stays.
    */
    bool save();
    /*! Calls save() when the application is about to quit. */
    void saveOnQuit();

private:
    RovaPersistentPlaylistsPrivate* const d;
};

#endif // ROVAPERSISTENTPLAYLISTS_H
