// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVATRACKERSOURCE_H
#define ROVATRACKERSOURCE_H

#include <rovasource.h>

#include <QtSparql/QSparqlConnectionOptions>

#include <QString>

#include <map>
#include <memory>

class QSparqlConnection;
class QSparqlQuery;

/*!
    The music in a Tracker 3 store, as a content source with the uuid
    "RovaTrackerSource" (RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE).

    Object ids (what follows "RovaTrackerSource::" in an item id; browse() and
    getMetadata() take either form):
    - "" or "/": the root, with the containers "/Artists", "/Albums", "/Songs";
    - "/Artists/<artist IRI>" and "/Albums/<album IRI>": the songs of one artist
      or album;
    - anything else is the IRI of the file a song is stored in (the song's
      nie:isStoredAs), which carries the song's nie:url. That is what the
      renderer looks an item up by, so song ids from this source play as they are.

    Song items carry "title" (for an untagged song the name of its file without
    the extension), "artist", "album", "duration" (seconds),
    "track-number", "uri" (QUrl) and "type" "audio"; containers carry "title",
    "type" "container" and, below the root, "child-count". Songs are ordered by
    artist, album, track number and title unless a query names another order.

    Results go to the caller's slots, checked and found with RovaCallbackHelper:
    "browseResults(const QList<RovaContent>&, uint)",
    "queryResults(const QList<RovaContent>&, uint)",
    "metadataResult(const RovaContent&)", and failures to
    "errorResult(const RovaError&)" (optional; without it they are logged).
    A slot may leave out trailing parameters. A request with a slot that does
    not fit, an object id that is not one of the forms above, a search text with
    control characters or an unknown sort key is refused at once with a warning
    (0 or false); a refused query also tells the caller's error slot, on the
    next turn of the event loop (SourceInvalidSearchString, SourceInvalidSortString).
    Answers come from the event loop, never inside the call; a receiver deleted
    meanwhile gets nothing.

    The store is the one a "QTRACKER" connection with the given options
    reaches (by default the environment decides, as for the renderer).
*/
class RovaTrackerSource : public RovaSource
{
    Q_OBJECT

public:
    static const QString ROVA_KEY_TITLE;        // "title"
    static const QString ROVA_KEY_ARTIST;       // "artist"
    static const QString ROVA_KEY_ALBUM;        // "album"
    static const QString ROVA_KEY_DURATION;     // "duration"
    static const QString ROVA_KEY_TRACK_NUMBER; // "track-number"
    static const QString ROVA_KEY_URI;          // "uri"
    static const QString ROVA_KEY_TYPE;         // "type"
    static const QString ROVA_KEY_CHILD_COUNT;  // "child-count"

    explicit RovaTrackerSource(QObject* parent = nullptr,
                               const QSparqlConnectionOptions& options = QSparqlConnectionOptions(),
                               const QString& pluginName = QStringLiteral("qrova-tracker-source"));
    ~RovaTrackerSource() override;

    uint browse(const QString& objectId, uint offset, uint count,
                QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    void cancelBrowse(uint browseId) override;

    /*!
        Songs whose title, artist or album contains \a searchString, ignoring
        case (an empty string matches every song). \a sortString is empty (the
        default order) or a comma-separated list of keys ("title", "artist",
        "album", "duration", "track-number", "uri"), each optionally preceded
        by "+" (ascending) or "-" (descending).
    */
    uint query(const QString& searchString, const QString& sortString,
               QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    void cancelQuery(uint queryId) override;

    /*! \a keys may be empty (everything) or name keys the items carry. */
    bool getMetadata(const QString& objectId, const QStringList& keys,
                     QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    /*! The store is read-only through this source: always refused. */
    bool destroyObject(const QString& objectId,
                       QObject* receiver, const char* resultSlot, const char* errorSlot) override;

    /*! The number of requests still waiting for their answer. */
    int pendingRequests() const;

private:
    struct Request;
    uint start(std::unique_ptr<Request> request, const QSparqlQuery& query,
               QObject* receiver, const char* resultSlot, const char* errorSlot);
    void finish(uint id);
    void cancel(uint id, int kind, const char* what);

    QSparqlConnection* m_connection;
    std::map<uint, std::unique_ptr<Request>> m_requests;
    uint m_lastId = 0;
};

#endif // ROVATRACKERSOURCE_H
