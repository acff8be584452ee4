// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovamusicindexer.h"
#include "rovasparqlterms.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>

namespace {

const int writeBatch = 200;
const GstClockTime discoverTimeout = 10 * GST_SECOND;

const QStringList& audioSuffixes()
{
    static const QStringList suffixes{
        QStringLiteral("aac"), QStringLiteral("aif"), QStringLiteral("aifc"), QStringLiteral("aiff"),
        QStringLiteral("ape"), QStringLiteral("flac"), QStringLiteral("m4a"), QStringLiteral("mka"),
        QStringLiteral("mp2"), QStringLiteral("mp3"), QStringLiteral("mpc"), QStringLiteral("oga"),
        QStringLiteral("ogg"), QStringLiteral("opus"), QStringLiteral("spx"), QStringLiteral("wav"),
        QStringLiteral("wave"), QStringLiteral("wma"), QStringLiteral("wv"),
    };
    return suffixes;
}

// Tags may hold control characters, which a literal cannot; they go.
QString literal(const QString& text)
{
    QString clean = text;
    clean.removeIf([](QChar c) { return (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n')) || c.unicode() == 0x7f; });
    return RovaSparqlTerms::literal(clean);
}

QString nameIri(const char* kind, const QString& name, const QString& qualifier = QString())
{
    QString iri = QLatin1String("urn:") + QLatin1String(kind) + QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(name));
    if (!qualifier.isEmpty())
        iri += QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(qualifier));
    return QLatin1Char('<') + iri + QLatin1Char('>');
}

QString pieceIri(const QString& url)
{
    return QStringLiteral("<urn:rova-play:piece:%1>")
        .arg(QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex()));
}

QString fileUrl(const QString& canonicalPath)
{
    return QString::fromLatin1(QUrl::fromLocalFile(canonicalPath).toEncoded());
}

QDateTime modifiedOf(const QFileInfo& info)
{
    return QDateTime::fromSecsSinceEpoch(info.lastModified().toSecsSinceEpoch(), Qt::UTC);
}

QString tagString(const GstTagList* tags, const char* tag)
{
    gchar* value = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, tag, &value))
        return QString();
    const QString text = QString::fromUtf8(value).trimmed();
    g_free(value);
    return text;
}

bool discover(GstDiscoverer* discoverer, const QString& path, RovaMusicIndexer::Track* track, QString* error)
{
    const QFileInfo info(path);
    track->url = fileUrl(info.canonicalFilePath());
    track->modified = modifiedOf(info);
    GError* gerror = nullptr;
    GstDiscovererInfo* result = gst_discoverer_discover_uri(discoverer, track->url.toUtf8().constData(), &gerror);
    const GstDiscovererResult code = result ? gst_discoverer_info_get_result(result) : GST_DISCOVERER_ERROR;
    bool ok = code == GST_DISCOVERER_OK;
    if (!ok) {
        *error = gerror ? QString::fromUtf8(gerror->message)
            : code == GST_DISCOVERER_TIMEOUT ? QStringLiteral("reading it timed out")
            : code == GST_DISCOVERER_MISSING_PLUGINS ? QStringLiteral("no GStreamer plugin can decode it")
                                                     : QStringLiteral("GStreamer could not read it");
    } else {
        GList* streams = gst_discoverer_info_get_audio_streams(result);
        ok = streams != nullptr;
        gst_discoverer_stream_info_list_free(streams);
        if (!ok)
            *error = QStringLiteral("it has no audio stream");
    }
    if (ok) {
        const GstTagList* tags = gst_discoverer_info_get_tags(result);
        track->title = tagString(tags, GST_TAG_TITLE);
        if (track->title.isEmpty())
            track->title = info.completeBaseName();
        track->artist = tagString(tags, GST_TAG_ARTIST);
        track->albumArtist = tagString(tags, GST_TAG_ALBUM_ARTIST);
        track->album = tagString(tags, GST_TAG_ALBUM);
        guint number = 0;
        track->trackNumber = tags && gst_tag_list_get_uint(tags, GST_TAG_TRACK_NUMBER, &number) ? int(number) : 0;
        const GstClockTime duration = gst_discoverer_info_get_duration(result);
        track->duration = GST_CLOCK_TIME_IS_VALID(duration) ? int((duration + GST_SECOND / 2) / GST_SECOND) : 0;
    }
    if (gerror)
        g_error_free(gerror);
    if (result)
        g_object_unref(result);
    return ok;
}

struct Discoverer
{
    GstDiscoverer* discoverer = nullptr;
    QString error;

    Discoverer()
    {
        GError* gerror = nullptr;
        if (gst_init_check(nullptr, nullptr, &gerror))
            discoverer = gst_discoverer_new(discoverTimeout, &gerror);
        if (!discoverer) {
            error = gerror ? QString::fromUtf8(gerror->message) : QStringLiteral("GStreamer is not available");
            if (gerror)
                g_error_free(gerror);
        }
    }
    ~Discoverer()
    {
        if (discoverer)
            g_object_unref(discoverer);
    }
    Discoverer(const Discoverer&) = delete;
    Discoverer& operator=(const Discoverer&) = delete;
};

} // namespace

RovaMusicIndexer::RovaMusicIndexer(const QString& databasePath)
{
    QSparqlConnectionOptions options;
    if (!databasePath.isEmpty())
        options.setOption(QStringLiteral("databasePath"), databasePath);
    m_connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), options);
}

RovaMusicIndexer::~RovaMusicIndexer() = default;

QString RovaMusicIndexer::defaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QLatin1String("/qrova-play/store");
}

bool RovaMusicIndexer::readTrack(const QString& path, Track* track, QString* error)
{
    Discoverer discoverer;
    if (!discoverer.discoverer) {
        *error = discoverer.error;
        return false;
    }
    return discover(discoverer.discoverer, path, track, error);
}

QString RovaMusicIndexer::updateStatement(const QList<Track>& tracks)
{
    QString deletes;
    QString inserts;
    QStringList others; // artists and albums, each once
    for (const Track& track : tracks) {
        const QString file = RovaSparqlTerms::iri(track.url);
        if (file.isEmpty())
            return QString();
        const QString piece = pieceIri(track.url);
        // A changed file replaces everything said about it and its song.
        if (track.replaces)
            deletes += QStringLiteral("DELETE { ?song a rdfs:Resource } WHERE { ?song nie:isStoredAs %1 } ;\n"
                                  "DELETE { %1 a rdfs:Resource } WHERE { %1 a rdfs:Resource } ;\n")
                       .arg(file);
        const QString name = QUrl(track.url).fileName();
        inserts += QStringLiteral("%1 a nfo:FileDataObject ; nie:url %2 ; nfo:fileName %3 ; "
                                  "nfo:fileLastModified \"%4\"^^xsd:dateTime .\n")
                       .arg(file, literal(track.url), literal(name), track.modified.toUTC().toString(Qt::ISODate));
        inserts += QStringLiteral("%1 a nmm:MusicPiece, nfo:Audio ; nie:title %2 ; nie:isStoredAs %3 ; nfo:duration %4")
                       .arg(piece, literal(track.title), file)
                       .arg(track.duration);
        if (track.trackNumber > 0)
            inserts += QStringLiteral(" ; nmm:trackNumber %1").arg(track.trackNumber);
        QString extra;
        if (!track.artist.isEmpty()) {
            const QString artist = nameIri("artist", track.artist);
            inserts += QStringLiteral(" ; nmm:artist %1 ; nmm:performer %1").arg(artist);
            extra += QStringLiteral("%1 a nmm:Artist ; nmm:artistName %2 .\n").arg(artist, literal(track.artist));
        }
        if (!track.album.isEmpty()) {
            const QString albumArtistName = track.albumArtist.isEmpty() ? track.artist : track.albumArtist;
            const QString album = nameIri("album", track.album, albumArtistName);
            inserts += QStringLiteral(" ; nmm:musicAlbum %1").arg(album);
            extra += QStringLiteral("%1 a nmm:MusicAlbum ; nie:title %2").arg(album, literal(track.album));
            if (!track.albumArtist.isEmpty()) {
                const QString albumArtist = nameIri("artist", track.albumArtist);
                extra += QStringLiteral(" ; nmm:albumArtist %1 .\n%1 a nmm:Artist ; nmm:artistName %2")
                             .arg(albumArtist, literal(track.albumArtist));
            }
            extra += QStringLiteral(" .\n");
        }
        inserts += QStringLiteral(" .\n");
        for (const QString& statement : extra.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!others.contains(statement))
                others.append(statement);
        }
    }
    // Plain data: stating an artist or album again with the same name is no change,
    // and a changed file's old statements are deleted first.
    return deletes + QStringLiteral("INSERT DATA {\n") + inserts + others.join(QLatin1Char('\n')) + QStringLiteral("\n}");
}

bool RovaMusicIndexer::write(const QList<Track>& tracks, QString* error)
{
    for (qsizetype first = 0; first < tracks.size(); first += writeBatch) {
        const QString text = updateStatement(tracks.mid(first, writeBatch));
        if (text.isNull()) {
            *error = QStringLiteral("a file URL cannot be written to the store");
            return false;
        }
        std::unique_ptr<QSparqlResult> result(m_connection->syncExec(QSparqlQuery(text, QSparqlQuery::InsertStatement)));
        if (result->hasError()) {
            *error = result->lastError().message();
            return false;
        }
    }
    return true;
}

RovaIndexResult RovaMusicIndexer::index(const QStringList& paths)
{
    RovaIndexResult report;

    // The files, each once, in a stable order.
    QStringList files;
    QSet<QString> seen;
    auto add = [&](const QFileInfo& info) {
        const QString path = info.canonicalFilePath();
        if (!path.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            files.append(path);
        }
    };
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            report.failed.append(path + QLatin1String(": no such file or directory"));
        } else if (info.isDir()) {
            QStringList found;
            QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo entry(it.next());
                if (audioSuffixes().contains(entry.suffix().toLower()))
                    found.append(entry.filePath());
            }
            std::sort(found.begin(), found.end());
            for (const QString& file : std::as_const(found))
                add(QFileInfo(file));
        } else {
            add(info);
        }
    }
    if (files.isEmpty())
        return report;

    // What the store has: every file it knows (which a new statement must replace), and
    // the modification time of those with a song (which are skipped when unchanged).
    QHash<QString, qint64> known;
    {
        std::unique_ptr<QSparqlResult> result(m_connection->syncExec(QSparqlQuery(QStringLiteral(
            "SELECT ?url ?modified ?song WHERE { ?file a nfo:FileDataObject ; nie:url ?url . "
            "OPTIONAL { ?file nfo:fileLastModified ?modified } OPTIONAL { ?song nie:isStoredAs ?file } }"))));
        if (result->hasError()) {
            report.storeError = result->lastError().message();
            return report;
        }
        while (result->next()) {
            const bool complete = !result->stringValue(1).isEmpty() && !result->stringValue(2).isEmpty();
            known.insert(result->stringValue(0),
                         complete ? QDateTime::fromString(result->stringValue(1), Qt::ISODate).toSecsSinceEpoch() : -1);
        }
    }

    Discoverer discoverer;
    QList<Track> pending;
    for (const QString& path : std::as_const(files)) {
        const QFileInfo info(path);
        const auto it = known.constFind(fileUrl(path));
        if (it != known.constEnd() && *it == modifiedOf(info).toSecsSinceEpoch()) {
            ++report.unchanged;
            continue;
        }
        Track track;
        QString error = discoverer.error;
        if (discoverer.discoverer && discover(discoverer.discoverer, path, &track, &error)) {
            track.replaces = it != known.constEnd();
            pending.append(track);
        } else {
            report.failed.append(path + QLatin1String(": ") + error);
        }
        if (pending.size() == writeBatch) {
            if (!write(pending, &report.storeError))
                return report;
            report.indexed += int(pending.size());
            pending.clear();
        }
    }
    if (write(pending, &report.storeError))
        report.indexed += int(pending.size());
    return report;
}
