// SPDX-License-Identifier: LGPL-2.1-or-later
// A short tour of the library: errors and ids, a playlist over an item model
// registered with the registry, a lookup of its items in a local Tracker store,
// and the SPARQL analyser. Everything runs in this process; the store lives in a
// temporary directory (or in QSPARQL_TRACKER_DATABASE when that is set).
#include <rovabasicrenderer.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovageneralsourceplaylist.h>
#include <rovamediainfo.h>
#include <rovamessagehandler.h>
#include <rovanode.h>
#include <rovainternalregistry.h>
#include <rovasource.h>
#include <rovasparqlparser.h>
#include <rovastatement.h>
#include <rovasubquery.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

QTextStream out(stdout);

struct Track {
    QString objectId;
    QString title;
    int number;
};

// The application's own model: one row per track, the object id in column 0.
class TrackModel : public QAbstractTableModel
{
public:
    explicit TrackModel(QList<Track> tracks)
        : m_tracks(std::move(tracks))
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_tracks.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        const Track& t = m_tracks.at(index.row());
        switch (index.column()) {
        case 0: return t.objectId;
        case 1: return t.title;
        default: return t.number;
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char* const names[] = {"id", "title", "track"};
        return section >= 0 && section < 3 ? QString::fromLatin1(names[section]) : QVariant();
    }

private:
    QList<Track> m_tracks;
};

const QList<Track> tracks = {
    {QStringLiteral("urn:rova:tour:1"), QStringLiteral("Morning"), 4},
    {QStringLiteral("urn:rova:tour:2"), QStringLiteral("Afternoon"), 1},
    {QStringLiteral("urn:rova:tour:3"), QStringLiteral("Evening"), 3},
    {QStringLiteral("urn:rova:tour:4"), QStringLiteral("Night"), 2},
};

void printOrder(RovaPlaylist& playlist, const char* label)
{
    QStringList titles;
    for (int row = 0; row < playlist.size(); ++row)
        titles << playlist.model()->index(row, 1).data().toString();
    out << "  " << label << ": " << titles.join(QLatin1String(", "))
        << "   (current " << playlist.getCurrentIndex() << ")\n";
}

bool seedStore(QSparqlConnection& connection)
{
    QString insert = QStringLiteral("INSERT DATA {\n");
    for (const Track& t : tracks) {
        insert += QStringLiteral("<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"file:///music/%2.ogg\" ; "
                                 "nie:title \"%2\"")
                      .arg(t.objectId, t.title);
        if (t.number != 2) // one track without play count and duration
            insert += QStringLiteral(" ; nie:usageCounter %1 ; nfo:duration %2").arg(t.number * 3).arg(120 + t.number);
        insert += QStringLiteral(" .\n");
    }
    insert += QLatin1Char('}');
    std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(insert, QSparqlQuery::InsertStatement)));
    if (result->hasError())
        out << "  could not seed the store: " << result->lastError().message() << '\n';
    return !result->hasError();
}

// A renderer plugin's part in miniature: it "plays" each item by printing it,
// confirms every command at once, and ends each item after a moment, moving
// on into the hinted next item without a gap, as a real engine would.
class PrintingRenderer : public RovaBasicRenderer
{
public:
    PrintingRenderer()
        : RovaBasicRenderer(QStringLiteral("tour-renderer"), QStringLiteral("tour"), QStringLiteral("Printing renderer"))
    {
    }

protected:
    void doPlay(const RovaContent&) override {}
    void doPlay(const RovaMediaInfo& info) override
    {
        out << "  doPlay " << info.firstMetaData(QStringLiteral("uri")).toUrl().toString() << ", "
            << info.firstMetaData(QStringLiteral("duration")).toInt() << " s\n";
        QTimer::singleShot(0, this, [this]() { Q_EMIT rendererPlaying(CurrentUri); });
        endItemSoon();
    }
    void doStop() override { QTimer::singleShot(0, this, [this]() { Q_EMIT rendererStopped(); }); }
    void doPause() override { QTimer::singleShot(0, this, [this]() { Q_EMIT rendererPaused(); }); }
    void doResume() override { QTimer::singleShot(0, this, [this]() { Q_EMIT rendererResumed(); }); }
    void doSeek(int, RovaRenderer::SeekMode) override {}
    bool doNextHint(const RovaContent&) override { return true; }
    bool doNextHint(const RovaMediaInfo& info) override
    {
        m_hint = info.firstMetaData(QStringLiteral("uri")).toUrl();
        if (m_hint.isValid())
            out << "  next-item hint " << m_hint.toString() << '\n';
        return true;
    }

private:
    void endItemSoon()
    {
        QTimer::singleShot(50, this, [this]() {
            if (m_hint.isValid()) {
                out << "  doPlay (gapless) " << m_hint.toString() << '\n';
                m_hint.clear();
                Q_EMIT rendererPlaying(NextUri);
                endItemSoon();
            } else {
                Q_EMIT rendererEos();
            }
        });
    }

    QUrl m_hint;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RovaMessageHandler::initRovaLogging(true); // warnings and up, with time stamps, on stderr

    out << "== errors and ids\n";
    const QString id = RovaPlaylist::getNewPlaylistId();
    out << "  new playlist id: " << id << "\n  as a uuid:       " << RovaPlaylist::convertPlaylistIdtoUuid(id) << '\n';
    out << "  an error, logged: " << RovaError(RovaError::RendererMediaNotFound, QStringLiteral("track-43 is gone")).toString() << '\n';

    out << "== a playlist over the application's model, in the registry\n";
    TrackModel model(tracks);
    auto* playlist = new RovaGeneralSourcePlaylist(id, QStringLiteral("Tour"), RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
    playlist->setUnderlyingModel(&model);
    // Applications see the registry as RovaRegistry; adding objects is what
    // plugins (and an application that makes its own playlists) do on the
    // internal registry.
    RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
    QObject::connect(registry, qOverload<const QString&, const QString&>(&RovaRegistry::playlistAdded),
                     [](const QString& id, const QString& name) { out << "  registry announces playlist " << name << " (" << id << ")\n"; });
    registry->addPlaylist(playlist); // the registry owns it from now on

    printOrder(*playlist, "natural order ");
    delete playlist->getItem(2); // handing out an item makes it current
    playlist->sort(QStringLiteral("title"), RovaPlaylist::SortAscending);
    printOrder(*playlist, "by title      ");
    playlist->sort(QStringLiteral("track"), RovaPlaylist::SortNumericDescending);
    printOrder(*playlist, "by track, desc");
    playlist->shuffle();
    printOrder(*playlist, "shuffled      ");
    playlist->setRepeat(RovaPlaylist::RepeatAll);
    out << "  with repeat-all, after the last item comes " << playlist->getNext(playlist->size() - 1) << '\n';

    out << "== playing the playlist with a renderer that looks its items up in a Tracker store\n";
    QTemporaryDir storeDir;
    QString databasePath = qEnvironmentVariable("QSPARQL_TRACKER_DATABASE");
    if (databasePath.isEmpty()) {
        databasePath = storeDir.filePath(QStringLiteral("store"));
        // The renderer's lookups use the store the environment names.
        qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databasePath));
    }
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), databasePath);
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    if (seedStore(connection)) {
        playlist->setRepeat(RovaPlaylist::RepeatNone);
        PrintingRenderer renderer;
        QObject::connect(&renderer, &RovaRenderer::mediaChanged, [](int index, const RovaContent& content) {
            out << "  now playing item " << index << " (" << content.uuid() << ")\n";
        });
        QObject::connect(&renderer, &RovaRenderer::error,
                         [](const RovaError& error) { out << "  renderer error: " << error.toString() << '\n'; });
        QObject::connect(&renderer, &RovaRenderer::playbackCompleted, &app, &QCoreApplication::quit);
        renderer.assignPlaylist(playlist);
        renderer.gotoIndex(0);
        renderer.play();
        QTimer::singleShot(10000, &app, &QCoreApplication::quit); // never hang
        app.exec();
        out << "  playback completed\n";
    }

    out << "== the SPARQL analyser\n";
    const QString query = QStringLiteral(
        "SELECT ?song ?title ?artist WHERE { ?song nie:title ?title . ?song nmm:performer ?artist . "
        "?artist nmm:artistName ?name . FILTER ( ?name = \"Ada\" ) } ORDER BY ?title LIMIT 10");
    RovaSparqlParser parser;
    if (parser.parse(query) == 0) {
        out << "  variables " << parser.variables().join(QLatin1Char(' ')) << ", ordered by " << parser.orderBy()
            << ", limit " << parser.limit() << '\n';
        parser.subqueryAnalysis();
        for (const RovaSubquery* sub : parser.subqueries()) {
            QStringList predicates;
            for (const RovaStatement* statement : sub->statements())
                predicates << statement->predicate();
            out << "  subquery on " << sub->statements().first()->subject()->text() << ": " << predicates.join(QLatin1String(", ")) << '\n';
        }
    }
    out.flush();
    return 0;
}
