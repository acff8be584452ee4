// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLAYLISTFILE_H
#define ROVAPLAYLISTFILE_H

#include "rova_export.h"
#include "rovaplaylistbase.h"

#include <QFlags>
#include <QList>
#include <QString>
#include <QUrl>

class QIODevice;
class RovaPlaylistFilePrivate;

/*!
    Playlist files in and out, and a playlist of their entries.

    Reading (read(), import()) takes M3U and extended M3U8 ("#EXTM3U",
    "#EXTINF:seconds,artist - title"), PLS and XSPF files as other players write
    them: local paths (relative ones against the file's folder), file:// URLs,
    network URLs (http, https and other schemes with a host), percent-encoded
    URLs, Windows line ends, a UTF-8 byte-order mark, comments and blank lines.
    Plain .m3u lines that are not UTF-8 are read as Latin-1. Plain paths are
    taken literally; only URLs are percent-decoded. An entry that cannot be used
    is skipped and counted with its reason; it never fails the whole file. An
    entry that names a playlist file is not followed. Memory stays bounded
    whatever the file holds: lines longer than MAX_LINE_LENGTH bytes are
    skipped, and reading stops after MAX_ENTRIES entries.

    Writing (write()) produces files other players read: UTF-8, a location per
    entry, local files under the playlist's folder as relative paths and others
    as absolute paths (or as file:// URLs where a path alone would be misread),
    replacing the file atomically.

    As a playlist, each entry is an item whose identifier is
    ROVA_PLAYLIST_FILE_SOURCE, "::" and the entry's location in encoded URL form,
    and whose media info carries the location under "uri" (so a renderer plays it
    without a lookup), "title" and "artist" when known and "duration" in seconds
    when known. The underlying model has the columns "Location", "Title",
    "Artist" and "Duration" (its display values) and is owned by the playlist.
*/
class ROVA_EXPORT RovaPlaylistFile : public RovaPlaylistBase
{
    Q_OBJECT

public:
    /*! "RovaPlaylistFile", the source part of the item identifiers of this playlist. */
    static const QString ROVA_PLAYLIST_FILE_SOURCE;
    /*! Lines (and XSPF locations) longer than this many bytes are skipped. */
    static const int MAX_LINE_LENGTH;
    /*! Reading stops after this many entries; the rest of the file counts as one skipped entry. */
    static const int MAX_ENTRIES;

    /*! The kinds of playlist file. */
    enum Format : int {
        UnknownFormat = 0, ///< none that the name or the content tells
        M3U = 1, ///< a list of locations, with or without "#EXTINF" lines; UTF-8, else Latin-1 line by line
        M3U8 = 2, ///< the same in UTF-8 only
        PLS = 3, ///< a "[playlist]" section with FileN, TitleN and LengthN keys
        XSPF = 4 ///< the XML shareable playlist format
    };
    Q_ENUM(Format)

    /*! How read() treats local entries. */
    enum ReadOption : int {
        NoReadOption = 0, ///< local entries are taken as they are named, without looking at the disk
        CheckLocalFiles = 1 ///< also skip local entries that do not exist ("no such file") or are folders ("a folder")
    };
    Q_DECLARE_FLAGS(ReadOptions, ReadOption)

    /*! One entry of a playlist file. */
    struct Entry
    {
        QUrl location; ///< a local file URL or a network URL
        QString title; ///< empty when unknown
        QString artist; ///< empty when unknown
        int duration = -1; ///< in seconds, -1 when unknown
        /*! Whether all four fields are equal. */
        bool operator==(const Entry& other) const;
    };

    /*! An entry that was left out, and why. */
    struct Skipped
    {
        int line = 0; ///< the line (from 1) of the file it stands on, 0 when it has none
        QString text; ///< what the file holds there, cut to 200 characters
        QString reason; ///< for example "not valid UTF-8" or "a playlist, not followed"
    };

    /*! What read() found. */
    struct ReadResult
    {
        Format format = UnknownFormat; ///< the format the file was read as
        QList<Entry> entries; ///< the usable entries, in the file's order
        int skippedCount = 0; ///< how many entries were left out
        QList<Skipped> skipped; ///< the first 100 of them
        QString error; ///< set when the file itself cannot be read; then there are no entries
    };

    /*! An empty playlist with the id \a id and the name \a name. */
    RovaPlaylistFile(const QString& id, const QString& name);
    ~RovaPlaylistFile() override;

    /*! The format the name of \a path says (".m3u", ".m3u8", ".pls", ".xspf", any case), else UnknownFormat. */
    static Format formatOf(const QString& path);

    /*!
        Reads the playlist file \a path. The format comes from the content where it tells (a "[playlist]"
        section, an XML document), else from the name; a file of another name is read as M3U.
    */
    static ReadResult read(const QString& path, ReadOptions options = NoReadOption);
    /*! The same from \a device, with relative locations taken against the folder \a baseDir. */
    static ReadResult read(QIODevice& device, const QString& baseDir, Format format, ReadOptions options = NoReadOption);

    /*!
        Writes \a entries into \a path in \a format (the one its name says when UnknownFormat), replacing
        the file atomically. False with \a error set when it cannot be written; the old file then stays.
    */
    static bool write(const QString& path, const QList<Entry>& entries, QString* error = nullptr, Format format = UnknownFormat);
    /*! Writes the items of \a playlist that have a location, in its presented order; see entriesOf(). */
    static bool write(const QString& path, RovaPlaylist* playlist, QString* error = nullptr, Format format = UnknownFormat);
    /*!
        The items of \a playlist in its presented order as entries: the location from the first value of
        "uri" in their media info, with "title", "artist" and "duration" when present. Items without a
        location are left out. The current index does not change.
    */
    static QList<Entry> entriesOf(RovaPlaylist* playlist);

    /*! The entries in the natural (file) order. */
    QList<Entry> entries() const;
    /*! Appends \a entries. */
    void appendEntries(const QList<Entry>& entries);
    /*!
        Appends the entries of the playlist file \a file (see read()). False with a warning when the file
        cannot be read; skipped entries give one warning with their number.
    */
    bool import(QFile& file) override;
    /*! The item at presented position \a index, as described above; an invalid media info when there is none. */
    RovaMediaInfo getItemMediaInfo(int index) override;

private:
    RovaPlaylistFilePrivate* const d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(RovaPlaylistFile::ReadOptions)

#endif // ROVAPLAYLISTFILE_H
