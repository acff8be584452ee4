// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAMUSICINDEXER_H
#define ROVAMUSICINDEXER_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QSparqlConnection;

/*! What one index() run did. */
struct RovaIndexResult
{
    int indexed = 0;    // files read and written to the store (new or changed)
    int unchanged = 0;  // files the store already had with the same modification time
    int removed = 0;    // files the store had under an indexed folder that are gone
    QStringList failed; // "<path>: <reason>" for each path or file that could not be read or stored
    QString storeError; // set when the store could not be read or written; the run stopped there

    bool ok() const { return storeError.isEmpty(); }
};

/*!
    Indexes audio files into a Tracker 3 store the way the desktop's file miner
    does, so that RovaTrackerSource and the renderer's lookups find them:

    - the file <file-url> a nfo:FileDataObject with nie:url, nfo:fileName and
      nfo:fileLastModified;
    - a nmm:MusicPiece with nie:title (the file's base name without a title tag),
      nmm:artist and nmm:performer (a nmm:Artist with nmm:artistName),
      nmm:musicAlbum (a nmm:MusicAlbum with nie:title, nmm:albumArtist when
      tagged), nmm:trackNumber, nfo:duration (seconds) and nie:isStoredAs
      <file-url>.

    Tags and duration come from GStreamer, read on every core: parsed without
    decoding where the file allows, else by its discoverer.
    Only regular files are read. Files whose URL is in the store with the same
    modification time (to the second) are skipped; changed ones are replaced;
    files the store has under an indexed folder that are no longer there are
    removed from it.
*/
class RovaMusicIndexer
{
public:
    /*! One audio file as it goes into the store. */
    struct Track
    {
        QString url; // file URL, fully encoded; also the file object's IRI
        QDateTime modified;
        QString title;
        QString artist;
        QString albumArtist;
        QString album;
        int trackNumber = 0;
        int duration = 0; // seconds
        bool replaces = false; // the store holds an older version of the file, which goes first
        QString path = {}; // the local file, named when it cannot be stored
    };

    /*! Called on the indexing thread as files are read: \a done of the \a found files that need reading. */
    using Progress = std::function<void(int done, int found)>;

    /*!
        Writes into the local store in \a databasePath (created when missing);
        an empty path means the store the environment names
        (QSPARQL_TRACKER_DATABASE, QSPARQL_TRACKER_BUS_NAME, else the desktop's).
    */
    explicit RovaMusicIndexer(const QString& databasePath = defaultStorePath());
    ~RovaMusicIndexer();
    RovaMusicIndexer(const RovaMusicIndexer&) = delete;
    RovaMusicIndexer& operator=(const RovaMusicIndexer&) = delete;

    /*! $XDG_CACHE_HOME/qrova-play/store (~/.cache/qrova-play/store without it). */
    static QString defaultStorePath();
    /*! The file URL of the local file \a path, with every character outside the IRI grammar percent-encoded. */
    static QString fileUrl(const QString& path);

    /*!
        Indexes the files in \a paths: files as given (whatever their name),
        directories recursively (files with an audio file suffix), following
        symbolic links to folders once each. A path that does not exist, is no
        regular file, or that GStreamer cannot read as audio, lands in
        RovaIndexResult::failed and the rest goes on. \a progress, when set, is
        told of each file read.
    */
    RovaIndexResult index(const QStringList& paths, const Progress& progress = {});

    /*! Reads tags and duration of the file \a path; false with \a error set when it is no audio file. */
    static bool readTrack(const QString& path, Track* track, QString* error);
    /*!
        Writes \a tracks in batches; false with \a error set when the store
        cannot be written. A track the store refuses on its own is left out and
        named in \a skipped ("<path or URL>: <reason>").
    */
    bool write(const QList<Track>& tracks, QString* error, QStringList* skipped = nullptr);

private:
    std::unique_ptr<QSparqlConnection> m_connection;
};

#endif // ROVAMUSICINDEXER_H
