// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackersource.h"

#include <rovacallbackhelper.h>
#include <rovasourcerequest_p.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovageneralsourceplaylist.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QDebug>
#include <QMetaMethod>
#include <QPointer>
#include <QTimer>
#include <QUrl>

const QString RovaTrackerSource::ROVA_KEY_TITLE = QStringLiteral("title");
const QString RovaTrackerSource::ROVA_KEY_ARTIST = QStringLiteral("artist");
const QString RovaTrackerSource::ROVA_KEY_ALBUM = QStringLiteral("album");
const QString RovaTrackerSource::ROVA_KEY_DURATION = QStringLiteral("duration");
const QString RovaTrackerSource::ROVA_KEY_TRACK_NUMBER = QStringLiteral("track-number");
const QString RovaTrackerSource::ROVA_KEY_URI = QStringLiteral("uri");
const QString RovaTrackerSource::ROVA_KEY_TYPE = QStringLiteral("type");
const QString RovaTrackerSource::ROVA_KEY_CHILD_COUNT = QStringLiteral("child-count");

namespace {

const char browseTemplate[] = "2browseResults(const QList<RovaContent>&, uint)";
const char queryTemplate[] = "2queryResults(const QList<RovaContent>&, uint)";
const char metadataTemplate[] = "2metadataResult(const RovaContent&)";

const QString& artistsId() { static const QString id = QStringLiteral("/Artists"); return id; }
const QString& albumsId() { static const QString id = QStringLiteral("/Albums"); return id; }
const QString& songsId() { static const QString id = QStringLiteral("/Songs"); return id; }
QString typeContainer() { return QStringLiteral("container"); }
QString typeAudio() { return QStringLiteral("audio"); }

// One row per song file (a file may have several performers): columns file, url, title,
// artist, album, duration, track. The outer query orders by the grouped values.
// %1 narrows the songs, %2 filters them, %3 orders them, %4 limits them.
const QString& songQuery()
{
    static const QString text = QStringLiteral(
        "SELECT ?file ?u ?t ?a ?al ?d ?n WHERE { { "
        "SELECT ?file (SAMPLE(?url) AS ?u) (SAMPLE(?title) AS ?t) (SAMPLE(COALESCE(?artistName, ?performerName)) AS ?a) "
        "(SAMPLE(?albumTitle) AS ?al) (SAMPLE(?duration) AS ?d) (SAMPLE(?track) AS ?n) WHERE { "
        "%1 ?song a nmm:MusicPiece ; nie:isStoredAs ?file . ?file nie:url ?url . "
        "OPTIONAL { ?song nie:title ?title } "
        "OPTIONAL { ?song nmm:artist ?artist . ?artist nmm:artistName ?artistName } "
        "OPTIONAL { ?song nmm:performer ?performer . ?performer nmm:artistName ?performerName } "
        "OPTIONAL { ?song nmm:musicAlbum ?album . ?album nie:title ?albumTitle } "
        "OPTIONAL { ?song nfo:duration ?duration } "
        "OPTIONAL { ?song nmm:trackNumber ?track } "
        "%2 } GROUP BY ?file } } ORDER BY %3 ?file %4");
    return text;
}

const QString& defaultSongOrder() { static const QString order = QStringLiteral("?a ?al ?n ?t"); return order; }

// Columns container IRI, name, number of songs.
const QString& artistQuery()
{
    static const QString text = QStringLiteral(
        "SELECT ?artist (SAMPLE(?name) AS ?n) (COUNT(DISTINCT ?song) AS ?c) WHERE { "
        "?song a nmm:MusicPiece ; nie:isStoredAs ?file . "
        "{ ?song nmm:artist ?artist } UNION { ?song nmm:performer ?artist } ?artist nmm:artistName ?name "
        "} GROUP BY ?artist ORDER BY ?n ?artist %1");
    return text;
}

const QString& albumQuery()
{
    static const QString text = QStringLiteral(
        "SELECT ?album (SAMPLE(?title) AS ?t) (COUNT(DISTINCT ?song) AS ?c) WHERE { "
        "?song a nmm:MusicPiece ; nie:isStoredAs ?file ; nmm:musicAlbum ?album . ?album nie:title ?title "
        "} GROUP BY ?album ORDER BY ?t ?album %1");
    return text;
}

QString limitClause(uint offset, uint count)
{
    QString text;
    if (count > 0)
        text += QStringLiteral("LIMIT %1 ").arg(count);
    if (offset > 0)
        text += QStringLiteral("OFFSET %1").arg(offset);
    return text;
}

QString itemId(const QString& objectId)
{
    return RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE + QLatin1String("::") + objectId;
}

// The object part of \a id: item ids of this source lose their prefix.
QString objectPart(const QString& id)
{
    const QString prefix = RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE + QLatin1String("::");
    return id.startsWith(prefix) ? id.mid(prefix.size()) : id;
}

RovaContent makeContent(const QString& objectId, QMap<QString, QVariant> metadata)
{
    RovaContent content(itemId(objectId));
    content.setMetaData(metadata, nullptr, nullptr);
    return content;
}

RovaContent containerContent(const QString& objectId, const QString& title, int childCount = -1)
{
    QMap<QString, QVariant> metadata{ { RovaTrackerSource::ROVA_KEY_TITLE, title },
                                      { RovaTrackerSource::ROVA_KEY_TYPE, typeContainer() } };
    if (childCount >= 0)
        metadata.insert(RovaTrackerSource::ROVA_KEY_CHILD_COUNT, childCount);
    return makeContent(objectId, metadata);
}

QList<RovaContent> rootContainers()
{
    return { containerContent(artistsId(), QStringLiteral("Artists")),
             containerContent(albumsId(), QStringLiteral("Albums")),
             containerContent(songsId(), QStringLiteral("Songs")) };
}

// What an untagged song is called: the name of its file, decoded, without the extension.
QString titleFromFile(const QUrl& file)
{
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

RovaContent songContent(const QSparqlResult& row)
{
    const QUrl url = QUrl::fromEncoded(row.stringValue(1).toUtf8());
    QString title = row.stringValue(2);
    if (title.isEmpty())
        title = titleFromFile(url.isEmpty() ? QUrl::fromEncoded(row.stringValue(0).toUtf8()) : url);
    QMap<QString, QVariant> metadata{
        { RovaTrackerSource::ROVA_KEY_URI, url },
        { RovaTrackerSource::ROVA_KEY_TITLE, title },
        { RovaTrackerSource::ROVA_KEY_ARTIST, row.stringValue(3) },
        { RovaTrackerSource::ROVA_KEY_ALBUM, row.stringValue(4) },
        { RovaTrackerSource::ROVA_KEY_DURATION, row.stringValue(5).toInt() },
        { RovaTrackerSource::ROVA_KEY_TRACK_NUMBER, row.stringValue(6).toInt() },
        { RovaTrackerSource::ROVA_KEY_TYPE, typeAudio() },
    };
    return makeContent(row.stringValue(0), metadata);
}

const QStringList& songKeys()
{
    static const QStringList keys{ RovaTrackerSource::ROVA_KEY_TITLE, RovaTrackerSource::ROVA_KEY_ARTIST,
                                   RovaTrackerSource::ROVA_KEY_ALBUM, RovaTrackerSource::ROVA_KEY_DURATION,
                                   RovaTrackerSource::ROVA_KEY_TRACK_NUMBER, RovaTrackerSource::ROVA_KEY_URI,
                                   RovaTrackerSource::ROVA_KEY_TYPE, RovaTrackerSource::ROVA_KEY_CHILD_COUNT };
    return keys;
}

// The song columns a query can be ordered by, by key.
const QMap<QString, QString>& sortColumns()
{
    static const QMap<QString, QString> columns{
        { RovaTrackerSource::ROVA_KEY_TITLE, QStringLiteral("?t") },
        { RovaTrackerSource::ROVA_KEY_ARTIST, QStringLiteral("?a") },
        { RovaTrackerSource::ROVA_KEY_ALBUM, QStringLiteral("?al") },
        { RovaTrackerSource::ROVA_KEY_DURATION, QStringLiteral("?d") },
        { RovaTrackerSource::ROVA_KEY_TRACK_NUMBER, QStringLiteral("?n") },
        { RovaTrackerSource::ROVA_KEY_URI, QStringLiteral("?u") },
    };
    return columns;
}

QStringList sortKeys() { return sortColumns().keys(); }

// The ORDER BY terms for a sort string, or a null string when it names an unknown key,
// which goes to \a unknownKey.
QString orderFor(const QString& sortString, QString* unknownKey)
{
    const QMap<QString, QString>& columns = sortColumns();
    if (sortString.trimmed().isEmpty())
        return defaultSongOrder();
    QStringList terms;
    for (QString key : sortString.split(QLatin1Char(','))) {
        key = key.trimmed();
        bool descending = false;
        if (key.startsWith(QLatin1Char('+')) || key.startsWith(QLatin1Char('-'))) {
            descending = key.startsWith(QLatin1Char('-'));
            key = key.mid(1).trimmed();
        }
        const auto column = columns.constFind(key);
        if (column == columns.constEnd()) {
            *unknownKey = key;
            return QString();
        }
        terms += descending ? QStringLiteral("DESC(%1)").arg(*column) : *column;
    }
    return terms.join(QLatin1Char(' '));
}

// Calls \a method of \a receiver with as many of \a args as it takes.
bool invokeWith(QObject* receiver, const QMetaMethod& method, QGenericArgument first, QGenericArgument second = QGenericArgument())
{
    if (method.parameterCount() >= 2)
        return method.invoke(receiver, Qt::AutoConnection, first, second);
    return method.invoke(receiver, Qt::AutoConnection, first);
}

} // namespace

struct RovaTrackerSource::Request
{
    enum Kind { Browse, Query, Metadata };
    // What the answer is made of.
    enum Answer { Root, RootContainer, Artists, Albums, Songs, ContainerName };

    Kind kind = Browse;
    Answer answer = Songs;
    uint id = 0;
    QString objectId;   // for Metadata: the object asked for
    QStringList keys;   // for Metadata: the keys asked for
    uint offset = 0;    // for Root browses, which need no query
    uint count = 0;
    QPointer<QObject> receiver;
    QByteArray resultSlot;
    QByteArray errorSlot;
    std::unique_ptr<QSparqlResult> result;
};

namespace {

// \a text as a resource, when it is an absolute IRI in the encoded form the store
// gives out; an empty QUrl otherwise.
QUrl resourceOf(const QString& text)
{
    const QUrl url = QUrl::fromEncoded(text.toUtf8(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || QSparqlQuery::encodedIri(url) != text)
        return QUrl();
    return url;
}

// "/Artists/<iri>" or "/Albums/<iri>": the IRI, or an empty QUrl when \a objectId
// is not below \a container or the IRI is not valid.
QUrl childIri(const QString& objectId, const QString& container)
{
    if (!objectId.startsWith(container + QLatin1Char('/')))
        return QUrl();
    return resourceOf(objectId.mid(container.size() + 1));
}

} // namespace

RovaTrackerSource::RovaTrackerSource(QObject* parent, const QSparqlConnectionOptions& options, const QString& pluginName)
    : RovaSource(parent, RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE, pluginName)
    , m_connection(new QSparqlConnection(QStringLiteral("QTRACKER"), options, this))
{
    setName(QStringLiteral("Music"));
}

RovaTrackerSource::~RovaTrackerSource()
{
    // Abandons the queries still out before the connection goes.
    m_requests.clear();
}

int RovaTrackerSource::pendingRequests() const
{
    return int(m_requests.size());
}

uint RovaTrackerSource::browse(const QString& id, uint offset, uint count,
                               QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaTrackerSource", receiver, resultSlot, errorSlot, browseTemplate))
        return 0;
    const QString objectId = objectPart(id);
    auto request = std::make_unique<Request>();
    request->kind = Request::Browse;
    request->offset = offset;
    request->count = count;
    QSparqlQuery query;
    const QString limit = limitClause(offset, count);
    QUrl iri;
    if (objectId.isEmpty() || objectId == QLatin1String("/")) {
        request->answer = Request::Root;
    } else if (objectId == artistsId()) {
        request->answer = Request::Artists;
        query.setQuery(artistQuery().arg(limit));
    } else if (objectId == albumsId()) {
        request->answer = Request::Albums;
        query.setQuery(albumQuery().arg(limit));
    } else if (objectId == songsId()) {
        query.setQuery(songQuery().arg(QString(), QString(), defaultSongOrder(), limit));
    } else if (!(iri = childIri(objectId, artistsId())).isEmpty()) {
        query.setQuery(songQuery().arg(QStringLiteral("{ ?song nmm:artist ?:container } UNION { ?song nmm:performer ?:container }"),
                                       QString(), defaultSongOrder(), limit));
    } else if (!(iri = childIri(objectId, albumsId())).isEmpty()) {
        query.setQuery(songQuery().arg(QStringLiteral("?song nmm:musicAlbum ?:container ."), QString(), defaultSongOrder(), limit));
    } else {
        qWarning() << "RovaTrackerSource::browse: not a container:" << id;
        return 0;
    }
    query.bindValue(QStringLiteral("container"), iri);
    return start(std::move(request), query, receiver, resultSlot, errorSlot);
}

void RovaTrackerSource::cancelBrowse(uint browseId)
{
    cancel(browseId, Request::Browse, "browse");
}

uint RovaTrackerSource::query(const QString& searchString, const QString& sortString,
                              QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaTrackerSource", receiver, resultSlot, errorSlot, queryTemplate))
        return 0;
    if (!RovaSourceRequest::checkSearchText("RovaTrackerSource", searchString, receiver, errorSlot))
        return 0;
    QString unknownKey;
    const QString order = orderFor(sortString, &unknownKey);
    if (order.isNull()) {
        qWarning() << "RovaTrackerSource::query: unknown sort key in" << sortString;
        RovaSourceRequest::refuse(receiver, errorSlot, RovaError::SourceInvalidSortString,
               QStringLiteral("Unknown sort key \"%1\" in \"%2\"; known keys: %3")
                   .arg(unknownKey, sortString, sortKeys().join(QLatin1String(", "))));
        return 0;
    }
    QString filter;
    if (!searchString.isEmpty()) {
        filter = QStringLiteral("FILTER(CONTAINS(LCASE(?title), LCASE(?:search)) || CONTAINS(LCASE(?artistName), LCASE(?:search)) "
                                "|| CONTAINS(LCASE(?performerName), LCASE(?:search)) || CONTAINS(LCASE(?albumTitle), LCASE(?:search)))");
    }
    QSparqlQuery query(songQuery().arg(QString(), filter, order, QString()));
    query.bindValue(QStringLiteral("search"), searchString);
    auto request = std::make_unique<Request>();
    request->kind = Request::Query;
    return start(std::move(request), query, receiver, resultSlot, errorSlot);
}

void RovaTrackerSource::cancelQuery(uint queryId)
{
    cancel(queryId, Request::Query, "query");
}

bool RovaTrackerSource::getMetadata(const QString& id, const QStringList& keys,
                                    QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaTrackerSource", receiver, resultSlot, errorSlot, metadataTemplate))
        return false;
    for (const QString& key : keys) {
        if (!songKeys().contains(key)) {
            qWarning() << "RovaTrackerSource::getMetadata: unsupported key" << key;
            return false;
        }
    }
    const QString objectId = objectPart(id);
    auto request = std::make_unique<Request>();
    request->kind = Request::Metadata;
    request->objectId = objectId;
    request->keys = keys;
    QSparqlQuery query;
    QUrl iri;
    if (objectId.isEmpty() || objectId == QLatin1String("/") || objectId == artistsId() || objectId == albumsId()
        || objectId == songsId()) {
        request->answer = Request::RootContainer;
    } else if (!(iri = childIri(objectId, artistsId())).isEmpty()) {
        request->answer = Request::ContainerName;
        query.setQuery(QStringLiteral("SELECT ?name WHERE { ?:object nmm:artistName ?name }"));
    } else if (!(iri = childIri(objectId, albumsId())).isEmpty()) {
        request->answer = Request::ContainerName;
        query.setQuery(QStringLiteral("SELECT ?name WHERE { ?:object a nmm:MusicAlbum ; nie:title ?name }"));
    } else if (!(iri = resourceOf(objectId)).isEmpty()) {
        request->answer = Request::Songs;
        query.setQuery(songQuery().arg(QStringLiteral("VALUES ?file { ?:object }"), QString(), defaultSongOrder(), QString()));
    } else {
        qWarning() << "RovaTrackerSource::getMetadata: not a valid object id:" << id;
        return false;
    }
    query.bindValue(QStringLiteral("object"), iri);
    return start(std::move(request), query, receiver, resultSlot, errorSlot) != 0;
}

bool RovaTrackerSource::destroyObject(const QString& objectId, QObject*, const char*, const char*)
{
    qWarning() << "RovaTrackerSource::destroyObject: the store is read-only here; not destroying" << objectId;
    return false;
}

uint RovaTrackerSource::start(std::unique_ptr<Request> request, const QSparqlQuery& query,
                              QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    request->receiver = receiver;
    request->resultSlot = resultSlot;
    request->errorSlot = errorSlot;
    // Ids run from 1; 0 means "refused". A wrapped counter skips ids still in use.
    do {
        ++m_lastId;
    } while (m_lastId == 0 || m_requests.count(m_lastId));
    const uint id = m_lastId;
    request->id = id;
    if (query.query().isEmpty()) {
        // Answers that need no store still come from the event loop.
        QTimer::singleShot(0, this, [this, id] { finish(id); });
    } else {
        request->result.reset(m_connection->exec(query));
        connect(request->result.get(), &QSparqlResult::finished, this, [this, id] { finish(id); });
    }
    m_requests.emplace(id, std::move(request));
    return id;
}

void RovaTrackerSource::cancel(uint id, int kind, const char* what)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end() || it->second->kind != kind) {
        qWarning("RovaTrackerSource: no %s with id %u is running.", what, id);
        return;
    }
    // Deleting the result abandons its query; its finished() never comes.
    m_requests.erase(it);
}

void RovaTrackerSource::finish(uint id)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end())
        return;
    // Taken out first: a slot may start or cancel requests.
    const std::unique_ptr<Request> request = std::move(it->second);
    m_requests.erase(it);
    if (!request->receiver)
        return;
    QSparqlResult* result = request->result.get();
    auto fail = [&request](RovaError::Code code, const QString& message) {
        RovaError error(code, message);
        if (request->errorSlot.isEmpty())
            qWarning() << "RovaTrackerSource:" << error.toString();
        else
            RovaCallbackHelper::invokeErrorCallback(nullptr, error, request->receiver, request->errorSlot.constData());
    };

    if (result && result->hasError()) {
        fail(request->kind == Request::Metadata ? RovaError::SourceGetMetadataResultFailed : RovaError::SourceBrowseResultFailed,
             result->lastError().message());
        return;
    }

    QList<RovaContent> items;
    switch (request->answer) {
    case Request::Root:
        if (request->kind == Request::Browse)
            items = rootContainers().mid(request->offset, request->count ? qsizetype(request->count) : -1);
        break;
    case Request::RootContainer: {
        const QString title = request->objectId == artistsId() ? QStringLiteral("Artists")
            : request->objectId == albumsId()                  ? QStringLiteral("Albums")
            : request->objectId == songsId()                   ? QStringLiteral("Songs")
                                                               : name();
        items.append(containerContent(request->objectId, title));
        break;
    }
    case Request::ContainerName:
        if (result->next())
            items.append(containerContent(request->objectId, result->stringValue(0)));
        break;
    case Request::Artists:
    case Request::Albums: {
        const QString& parent = request->answer == Request::Artists ? artistsId() : albumsId();
        while (result->next()) {
            items.append(containerContent(parent + QLatin1Char('/') + result->stringValue(0), result->stringValue(1),
                                          result->stringValue(2).toInt()));
        }
        break;
    }
    case Request::Songs:
        items.reserve(qMax(0, result->size()));
        while (result->next())
            items.append(songContent(*result));
        break;
    }

    QMetaMethod method;
    if (!RovaCallbackHelper::getCallbackMethod(request->receiver, request->resultSlot.constData(), method))
        return;
    bool invoked = false;
    if (request->kind == Request::Metadata) {
        if (items.isEmpty()) {
            fail(RovaError::SourceObjectIdNotAvailable, QStringLiteral("No object with the id \"%1\"").arg(itemId(request->objectId)));
            return;
        }
        RovaContent content = items.constFirst();
        if (!request->keys.isEmpty()) {
            QMap<QString, QVariant> metadata = content.metaData();
            for (auto key = metadata.begin(); key != metadata.end();)
                key = request->keys.contains(key.key()) ? std::next(key) : metadata.erase(key);
            content.setMetaData(metadata, nullptr, nullptr);
        }
        invoked = invokeWith(request->receiver, method, Q_ARG(RovaContent, content));
    } else {
        invoked = invokeWith(request->receiver, method, Q_ARG(QList<RovaContent>, items), Q_ARG(uint, id));
    }
    if (!invoked)
        qWarning("Invoking the callback method failed!");
    if (request->kind == Request::Browse)
        Q_EMIT browseCompleted();
}
