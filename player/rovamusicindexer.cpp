// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovamusicindexer.h"

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
#include <QThread>
#include <QUrl>
#include <QVariant>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

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

/*
    An update whose values stay apart from its text: bind() hands out the
    placeholder a value stands for, and the store layer writes each value in
    exactly once, as a term of its own kind, so no value is ever read as part
    of the statement.
*/
struct Statement
{
    QString text;
    QVariantList values;

    QString bind(const QVariant& value)
    {
        values.append(value);
        return QStringLiteral("?:v") + QString::number(values.size() - 1);
    }

    QSparqlQuery query() const
    {
        QSparqlQuery query(text, QSparqlQuery::InsertStatement);
        for (qsizetype i = 0; i < values.size(); ++i)
            query.bindValue(QLatin1Char('v') + QString::number(i), values.at(i));
        return query;
    }
};

QString nameIri(const char* kind, const QString& name, const QString& qualifier = QString())
{
    QString iri = QLatin1String("urn:") + QLatin1String(kind) + QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(name));
    if (!qualifier.isEmpty())
        iri += QLatin1Char(':') + QString::fromLatin1(QUrl::toPercentEncoding(qualifier));
    return iri;
}

QUrl pieceIri(const QString& url)
{
    return QUrl(QLatin1String("urn:rova-play:piece:")
                + QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex()));
}

QUrl iri(const QString& encoded) { return QUrl::fromEncoded(encoded.toLatin1()); }

QDateTime modifiedOf(const QFileInfo& info)
{
    return QDateTime::fromSecsSinceEpoch(info.lastModified().toSecsSinceEpoch(), Qt::UTC);
}

// Whether \a path (after its links) is a regular file; asked without opening it, as a FIFO would block.
bool isRegularFile(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
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

/*
    Reads tags and duration of one file at a time. The common case is served by
    a pipeline that only parses (filesrc ! parsebin, a fakesink per stream), is
    kept from file to file and never decodes: it takes the file when it prerolls
    with an audio stream some decoder accepts and a known duration. Anything
    else (a file of no known type, no audio, no duration without decoding, an
    error) goes to GStreamer's discoverer, which decides and words the reason.
*/
class TagReader
{
public:
    TagReader()
    {
        GError* gerror = nullptr;
        if (!gst_init_check(nullptr, nullptr, &gerror)) {
            m_error = gerror ? QString::fromUtf8(gerror->message) : QStringLiteral("GStreamer is not available");
            if (gerror)
                g_error_free(gerror);
        }
    }
    ~TagReader()
    {
        dropPipeline();
        if (m_discoverer)
            g_object_unref(m_discoverer);
    }
    TagReader(const TagReader&) = delete;
    TagReader& operator=(const TagReader&) = delete;

    bool read(const QString& path, RovaMusicIndexer::Track* track, QString* error)
    {
        const QFileInfo info(path);
        track->path = path;
        track->url = RovaMusicIndexer::fileUrl(info.canonicalFilePath());
        track->modified = modifiedOf(info);
        if (!m_error.isEmpty()) {
            *error = m_error;
            return false;
        }
        if (!isRegularFile(path)) {
            *error = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no such file or directory");
            return false;
        }
        GstTagList* tags = nullptr;
        GstClockTime duration = GST_CLOCK_TIME_NONE;
        const Parsed parsed = parse(path, &tags, &duration);
        bool ok = parsed == Parsed::Audio;
        if (parsed == Parsed::TimedOut)
            *error = QStringLiteral("reading it timed out");
        else if (!ok)
            ok = discover(track->url, &tags, &duration, error);
        if (ok) {
            track->title = tagString(tags, GST_TAG_TITLE);
            if (track->title.isEmpty())
                track->title = info.completeBaseName();
            track->artist = tagString(tags, GST_TAG_ARTIST);
            track->albumArtist = tagString(tags, GST_TAG_ALBUM_ARTIST);
            track->album = tagString(tags, GST_TAG_ALBUM);
            guint number = 0;
            track->trackNumber = tags && gst_tag_list_get_uint(tags, GST_TAG_TRACK_NUMBER, &number) ? int(number) : 0;
            track->duration = GST_CLOCK_TIME_IS_VALID(duration) ? int((duration + GST_SECOND / 2) / GST_SECOND) : 0;
        }
        if (tags)
            gst_tag_list_unref(tags);
        return ok;
    }

private:
    enum class Parsed { Audio, Other, TimedOut };

    // Parses \a path up to its first frame: Audio with \a tags and \a duration
    // when it is a file the fast path can take whole.
    Parsed parse(const QString& path, GstTagList** tags, GstClockTime* duration)
    {
        if (!m_pipeline && !makePipeline())
            return Parsed::Other;
        m_audio = 0;
        g_object_set(m_source, "location", QFile::encodeName(path).constData(), nullptr);
        Parsed parsed = Parsed::Other;
        bool prerolled = false;
        if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
            const gint64 deadline = g_get_monotonic_time() + discoverTimeout / GST_USECOND;
            GstBus* bus = gst_element_get_bus(m_pipeline);
            for (bool waiting = true; waiting;) {
                const gint64 left = deadline - g_get_monotonic_time();
                GstMessage* message = left > 0
                    ? gst_bus_timed_pop_filtered(bus, GstClockTime(left) * GST_USECOND,
                                                 GstMessageType(GST_MESSAGE_TAG | GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE))
                    : nullptr;
                if (!message) {
                    parsed = Parsed::TimedOut;
                    break;
                }
                switch (GST_MESSAGE_TYPE(message)) {
                case GST_MESSAGE_TAG: {
                    GstTagList* found = nullptr;
                    gst_message_parse_tag(message, &found);
                    GstTagList* merged = gst_tag_list_merge(*tags, found, GST_TAG_MERGE_KEEP);
                    if (*tags)
                        gst_tag_list_unref(*tags);
                    *tags = merged;
                    gst_tag_list_unref(found);
                    break;
                }
                case GST_MESSAGE_ASYNC_DONE:
                    prerolled = true;
                    waiting = false;
                    break;
                default:
                    waiting = false;
                    break;
                }
                gst_message_unref(message);
            }
            gst_object_unref(bus);
        }
        gint64 length = -1;
        if (prerolled && m_audio == 1 && gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &length) && length >= 0) {
            *duration = GstClockTime(length);
            parsed = Parsed::Audio;
        }
        // A pipeline that failed may keep something of that file: the next file gets a new one.
        if (!prerolled || gst_element_set_state(m_pipeline, GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE)
            dropPipeline();
        else
            clearForNext();
        if (parsed != Parsed::Audio && *tags) {
            gst_tag_list_unref(*tags);
            *tags = nullptr;
        }
        return parsed;
    }

    bool discover(const QString& url, GstTagList** tags, GstClockTime* duration, QString* error)
    {
        GError* gerror = nullptr;
        if (!m_discoverer)
            m_discoverer = gst_discoverer_new(discoverTimeout, &gerror);
        GstDiscovererInfo* result = m_discoverer ? gst_discoverer_discover_uri(m_discoverer, url.toUtf8().constData(), &gerror) : nullptr;
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
            if (const GstTagList* found = gst_discoverer_info_get_tags(result))
                *tags = gst_tag_list_copy(found);
            *duration = gst_discoverer_info_get_duration(result);
        }
        if (gerror)
            g_error_free(gerror);
        if (result)
            g_object_unref(result);
        return ok;
    }

    bool makePipeline()
    {
        m_pipeline = gst_pipeline_new(nullptr);
        m_source = gst_element_factory_make("filesrc", nullptr);
        GstElement* parser = gst_element_factory_make("parsebin", nullptr);
        if (!m_source || !parser) {
            if (m_source)
                gst_object_unref(m_source);
            if (parser)
                gst_object_unref(parser);
            m_source = nullptr;
            gst_object_unref(m_pipeline);
            m_pipeline = nullptr;
            return false;
        }
        gst_bin_add_many(GST_BIN(m_pipeline), m_source, parser, nullptr);
        gst_element_link(m_source, parser);
        g_signal_connect(parser, "pad-added", G_CALLBACK(&TagReader::padAdded), this);
        return true;
    }

    // Readies the kept pipeline for the next file: no sinks, and nothing left on its bus from this one.
    void clearForNext()
    {
        GstBus* bus = gst_element_get_bus(m_pipeline);
        gst_bus_set_flushing(bus, TRUE);
        gst_bus_set_flushing(bus, FALSE);
        gst_object_unref(bus);
        const std::lock_guard<std::mutex> lock(m_sinksMutex);
        for (GstElement* sink : m_sinks) {
            gst_element_set_state(sink, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(m_pipeline), sink);
        }
        m_sinks.clear();
    }

    void dropPipeline()
    {
        if (!m_pipeline)
            return;
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
        m_source = nullptr;
        const std::lock_guard<std::mutex> lock(m_sinksMutex);
        m_sinks.clear();
    }

    // On a streaming thread: every stream ends in a fakesink, so that the pipeline prerolls.
    static void padAdded(GstElement*, GstPad* pad, TagReader* self)
    {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (!caps)
            caps = gst_pad_query_caps(pad, nullptr);
        const GstStructure* structure = gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
        if (structure && g_str_has_prefix(gst_structure_get_name(structure), "audio/"))
            self->m_audio += decodable(caps) ? 1 : 2; // a second stream, or one no decoder takes, is left to the discoverer
        gst_caps_unref(caps);

        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        if (!sink)
            return;
        g_object_set(sink, "sync", FALSE, nullptr);
        const std::lock_guard<std::mutex> lock(self->m_sinksMutex);
        gst_bin_add(GST_BIN(self->m_pipeline), sink);
        GstPad* input = gst_element_get_static_pad(sink, "sink");
        gst_pad_link(pad, input);
        gst_object_unref(input);
        gst_element_sync_state_with_parent(sink);
        self->m_sinks.push_back(sink);
    }

    // Whether raw audio, or a format some installed audio decoder accepts.
    static bool decodable(GstCaps* caps)
    {
        static GList* const decoders = gst_element_factory_list_get_elements(
            GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
        if (gst_structure_has_name(gst_caps_get_structure(caps, 0), "audio/x-raw"))
            return true;
        GList* accepting = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
        const bool found = accepting != nullptr;
        gst_plugin_feature_list_free(accepting);
        return found;
    }

    QString m_error;
    GstElement* m_pipeline = nullptr;
    GstElement* m_source = nullptr;
    std::mutex m_sinksMutex;
    std::vector<GstElement*> m_sinks;
    std::atomic<int> m_audio{0};
    GstDiscoverer* m_discoverer = nullptr;
};

// What the store says about \a tracks: each file and its song, replacing what it said before.
Statement updateStatement(const QList<RovaMusicIndexer::Track>& tracks)
{
    Statement statement;
    QString deletes;
    QString inserts;
    QString others; // artists and albums, each stated once
    QSet<QString> named;
    for (const RovaMusicIndexer::Track& track : tracks) {
        const QString file = statement.bind(iri(track.url));
        // A changed file replaces everything said about it and its song.
        if (track.replaces)
            deletes += QLatin1String("DELETE { ?song a rdfs:Resource } WHERE { ?song nie:isStoredAs ") + file
                + QLatin1String(" } ;\nDELETE { ") + file + QLatin1String(" a rdfs:Resource } WHERE { ") + file
                + QLatin1String(" a rdfs:Resource } ;\n");
        inserts += file + QLatin1String(" a nfo:FileDataObject ; nie:url ") + statement.bind(track.url)
            + QLatin1String(" ; nfo:fileName ") + statement.bind(QUrl(track.url).fileName())
            + QLatin1String(" ; nfo:fileLastModified ") + statement.bind(track.modified) + QLatin1String(" .\n");
        inserts += statement.bind(pieceIri(track.url)) + QLatin1String(" a nmm:MusicPiece, nfo:Audio ; nie:title ")
            + statement.bind(track.title) + QLatin1String(" ; nie:isStoredAs ") + file
            + QLatin1String(" ; nfo:duration ") + statement.bind(track.duration);
        if (track.trackNumber > 0)
            inserts += QLatin1String(" ; nmm:trackNumber ") + statement.bind(track.trackNumber);
        const auto artist = [&](const QString& name) {
            const QString key = nameIri("artist", name);
            const QString term = statement.bind(QUrl(key));
            if (!named.contains(key)) {
                named.insert(key);
                others += term + QLatin1String(" a nmm:Artist ; nmm:artistName ") + statement.bind(name) + QLatin1String(" .\n");
            }
            return term;
        };
        QString links;
        if (!track.artist.isEmpty()) {
            const QString term = artist(track.artist);
            links += QLatin1String(" ; nmm:artist ") + term + QLatin1String(" ; nmm:performer ") + term;
        }
        if (!track.album.isEmpty()) {
            const QString key = nameIri("album", track.album, track.albumArtist.isEmpty() ? track.artist : track.albumArtist);
            const QString album = statement.bind(QUrl(key));
            links += QLatin1String(" ; nmm:musicAlbum ") + album;
            if (!named.contains(key)) {
                named.insert(key);
                QString albumArtist;
                if (!track.albumArtist.isEmpty())
                    albumArtist = QLatin1String(" ; nmm:albumArtist ") + artist(track.albumArtist);
                others += album + QLatin1String(" a nmm:MusicAlbum ; nie:title ") + statement.bind(track.album) + albumArtist
                    + QLatin1String(" .\n");
            }
        }
        inserts += links + QLatin1String(" .\n");
    }
    // Plain data: stating an artist or album again with the same name is no change,
    // and a changed file's old statements are deleted first.
    statement.text = deletes + QLatin1String("INSERT DATA {\n") + inserts + others + QLatin1String("}");
    return statement;
}

// Forgets the files \a urls and their songs.
Statement removeStatement(const QStringList& urls)
{
    Statement statement;
    for (const QString& url : urls) {
        const QString file = statement.bind(iri(url));
        statement.text += QLatin1String("DELETE { ?song a rdfs:Resource } WHERE { ?song nie:isStoredAs ") + file
            + QLatin1String(" } ;\nDELETE { ") + file + QLatin1String(" a rdfs:Resource } WHERE { ") + file
            + QLatin1String(" a rdfs:Resource } ;\n");
    }
    return statement;
}

// Runs \a statement; false with \a error set when it fails, and \a refused when the store
// refused this statement (and may take others) rather than could not be written at all.
bool exec(QSparqlConnection* connection, const Statement& statement, QString* error, bool* refused)
{
    std::unique_ptr<QSparqlResult> result(connection->syncExec(statement.query()));
    if (!result->hasError())
        return true;
    *error = result->lastError().message();
    *refused = result->lastError().type() == QSparqlError::StatementError;
    return false;
}

// The files under the folder \a root with an audio suffix, following links to folders
// once each (\a folders holds the canonical folders seen); entries that are no regular
// file land in \a others.
void collect(const QString& root, QSet<QString>* folders, QStringList* files, QStringList* others)
{
    QStringList pending{root};
    while (!pending.isEmpty()) {
        const QString folder = QFileInfo(pending.takeLast()).canonicalFilePath();
        if (folder.isEmpty() || folders->contains(folder))
            continue;
        folders->insert(folder);
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            const QFileInfo entry = it.nextFileInfo();
            if (entry.isDir())
                pending.append(entry.filePath());
            else if (audioSuffixes().contains(entry.suffix().toLower()) && entry.exists())
                (isRegularFile(entry.filePath()) ? files : others)->append(entry.filePath());
        }
    }
}

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

QString RovaMusicIndexer::fileUrl(const QString& path)
{
    return QSparqlQuery::fileIri(path);
}

bool RovaMusicIndexer::readTrack(const QString& path, Track* track, QString* error)
{
    TagReader reader;
    QString message;
    const bool ok = reader.read(path, track, &message);
    if (error)
        *error = message;
    return ok;
}

bool RovaMusicIndexer::write(const QList<Track>& tracks, QString* error, QStringList* skipped)
{
    for (qsizetype first = 0; first < tracks.size(); first += writeBatch) {
        const QList<Track> batch = tracks.mid(first, writeBatch);
        bool refused = false;
        if (exec(m_connection.get(), updateStatement(batch), error, &refused))
            continue;
        if (!refused)
            return false;
        // One file the store refuses must not cost the others: each on its own.
        for (const Track& track : batch) {
            if (exec(m_connection.get(), updateStatement({track}), error, &refused))
                continue;
            if (!refused || !skipped)
                return false;
            skipped->append((track.path.isEmpty() ? track.url : track.path) + QLatin1String(": ") + *error);
        }
        error->clear();
    }
    return true;
}

RovaIndexResult RovaMusicIndexer::index(const QStringList& paths, const Progress& progress)
{
    RovaIndexResult report;

    // The files, each once, in a stable order, and the folders they were looked for in.
    QStringList files;
    QSet<QString> seen;
    QSet<QString> folders;
    QStringList gone; // URLs of files given by name that are not there
    auto add = [&](const QString& file) {
        const QString path = QFileInfo(file).canonicalFilePath();
        if (!path.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            files.append(path);
        }
    };
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            report.failed.append(path + QLatin1String(": no such file or directory"));
            gone.append(fileUrl(info.absoluteFilePath()));
        } else if (info.isDir()) {
            QStringList found;
            QStringList others;
            collect(path, &folders, &found, &others);
            std::sort(found.begin(), found.end());
            for (const QString& file : std::as_const(found))
                add(file);
            for (const QString& other : std::as_const(others))
                report.failed.append(other + QLatin1String(": not a regular file"));
        } else if (!isRegularFile(path)) {
            report.failed.append(path + QLatin1String(": not a regular file"));
        } else {
            add(path);
        }
    }

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

    // What needs reading: the files the store lacks or has in another version.
    QStringList pending;
    QSet<QString> present;
    for (const QString& path : std::as_const(files)) {
        const QString url = fileUrl(path);
        present.insert(url);
        const auto it = known.constFind(url);
        if (it != known.constEnd() && *it == modifiedOf(QFileInfo(path)).toSecsSinceEpoch())
            ++report.unchanged;
        else
            pending.append(path);
    }

    // The store forgets files under the folders looked in (and files given by name) that are gone.
    QStringList prefixes;
    for (const QString& folder : std::as_const(folders))
        prefixes.append(fileUrl(folder) + QLatin1Char('/'));
    QStringList removed;
    for (auto it = known.constBegin(); it != known.constEnd(); ++it) {
        const QString& url = it.key();
        const bool under = gone.contains(url)
            || std::any_of(prefixes.cbegin(), prefixes.cend(), [&](const QString& prefix) { return url.startsWith(prefix); });
        if (under && !present.contains(url) && !isRegularFile(QUrl::fromEncoded(url.toLatin1()).toLocalFile()))
            removed.append(url);
    }
    if (!removed.isEmpty()) {
        // What the store refuses to forget stays listed; indexing goes on.
        bool refused = false;
        if (exec(m_connection.get(), removeStatement(removed), &report.storeError, &refused))
            report.removed = int(removed.size());
        else if (!refused)
            return report;
        report.storeError.clear();
    }
    if (pending.isEmpty())
        return report;

    // Tags are read on every core, each worker with a reader of its own; the
    // results are taken in order here and written in batches while reading goes on.
    const int count = int(pending.size());
    struct Outcome
    {
        Track track;
        QString error;
        bool ok = false;
        bool ready = false;
    };
    std::vector<Outcome> outcomes(static_cast<size_t>(count));
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable readyChanged;
    gst_init_check(nullptr, nullptr, nullptr);
    std::vector<std::thread> workers;
    // A reader waits on its own streaming threads part of the time: two workers a core keep the cores busy.
    const int workerCount = std::clamp(2 * QThread::idealThreadCount(), 1, count);
    for (int w = 0; w < workerCount; ++w) {
        workers.emplace_back([&]() {
            TagReader reader;
            for (int i = next++; i < count; i = next++) {
                Outcome& outcome = outcomes[size_t(i)];
                outcome.ok = reader.read(pending.at(i), &outcome.track, &outcome.error);
                const std::lock_guard<std::mutex> lock(mutex);
                outcome.ready = true;
                readyChanged.notify_one();
            }
        });
    }

    QList<Track> batch;
    const auto flush = [&]() {
        const qsizetype failed = report.failed.size();
        if (!write(batch, &report.storeError, &report.failed))
            return false;
        report.indexed += int(batch.size() - (report.failed.size() - failed));
        batch.clear();
        return true;
    };
    bool stored = true;
    for (int i = 0; i < count && stored; ++i) {
        Outcome& outcome = outcomes[size_t(i)];
        {
            std::unique_lock<std::mutex> lock(mutex);
            readyChanged.wait(lock, [&]() { return outcome.ready; });
        }
        if (outcome.ok) {
            outcome.track.replaces = known.contains(outcome.track.url);
            batch.append(std::move(outcome.track));
        } else {
            report.failed.append(pending.at(i) + QLatin1String(": ") + outcome.error);
        }
        if (progress)
            progress(i + 1, count);
        if (batch.size() == writeBatch || i == count - 1)
            stored = flush();
    }
    next = count; // after a store error, the workers stop early
    for (std::thread& worker : workers)
        worker.join();
    return report;
}
