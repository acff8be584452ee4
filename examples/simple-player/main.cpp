// SPDX-License-Identifier: LGPL-2.1-or-later
// A small player: it loads the plugins of the plugin directory (QROVA_PLUGIN_DIR),
// takes the first renderer, installs its own resource policy, makes a playlist of
// three songs of a local Tracker store, and drives the renderer through it:
// a command that fails, play, pause, a status request, resume, the end of the
// playlist. Exit status 0 when everything happened as expected.
#include <rovabasicrenderer.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovamessagehandler.h>
#include <rovarendererpolicy.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QCoreApplication>
#include <QFile>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

QTextStream out(stdout);

//! [policy]
// A resource policy that grants every request on the next turn of the event
// loop. A real one asks the platform and may later demand a pause or a stop
// with PauseRequested or StopRequested.
class GrantingPolicy : public RovaRendererPolicy
{
public:
    bool initialize(RovaRendererPolicy::PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override {}
    void request(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override
    {
        ++requests;
        QTimer::singleShot(0, this, [this]() { Q_EMIT policyEvent(ResourcesGranted); });
    }
    void release(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override {}

    int requests = 0;
};
//! [policy]

bool seedStore(const QStringList& songs)
{
    // The renderer's lookups use the store the environment names.
    static QTemporaryDir storeDir;
    const QString databasePath = storeDir.filePath(QStringLiteral("store"));
    qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databasePath));
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), databasePath);
    QSparqlConnection store(QStringLiteral("QTRACKER"), options);
    QString insert = QStringLiteral("INSERT DATA {\n");
    for (const QString& song : songs)
        insert += QStringLiteral("<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"file:///music/%2.ogg\" ; "
                                 "nfo:duration 1 .\n").arg(song, song.section(QLatin1Char(':'), 2));
    insert += QLatin1Char('}');
    std::unique_ptr<QSparqlResult> result(store.syncExec(QSparqlQuery(insert, QSparqlQuery::InsertStatement)));
    return !result->hasError();
}

} // namespace

class Player : public QObject
{
    Q_OBJECT

public:
    Player(RovaRenderer* renderer, RovaPlaylist* playlist)
        : m_renderer(renderer)
        , m_playlist(playlist)
    {
//! [signals]
        connect(renderer, &RovaRenderer::stateChanged, this, &Player::stateChanged);
        connect(renderer, &RovaRenderer::mediaChanged, this, [this](int index, const RovaContent& content) {
            out << "now playing " << index << ": " << content.uuid() << '\n';
            ++played;
        });
        connect(renderer, &RovaRenderer::error, this, [this](const RovaError& error) {
            // Errors come as values: a code of RovaError::Code and a message.
            out << "error " << int(error.code()) << ": " << error.message() << '\n';
            errors << error.code();
            if (error.code() == RovaError::RendererNoPlaylist)
                start();
        });
        connect(renderer, &RovaRenderer::playbackCompleted, qApp, &QCoreApplication::quit);
//! [signals]
    }

    int played = 0;
    QList<RovaError::Code> errors;
    QStringList statuses;

public Q_SLOTS:
//! [status]
    void statusResults(const QString& playlistId, uint index, int state, const QString& itemId)
    {
        statuses << QStringLiteral("%1 %2 %3").arg(playlistId == m_playlist->id()).arg(index).arg(state);
        out << "status: item " << index << " (" << itemId << "), state " << state << '\n';
        m_renderer->resume();
    }
//! [status]

private:
    void start()
    {
//! [play]
        m_renderer->assignPlaylist(m_playlist); // also stops whatever played
        m_renderer->gotoIndex(0);
        m_renderer->play();
//! [play]
    }

//! [state]
    void stateChanged(RovaRenderer::State state)
    {
        out << "state " << int(state) << '\n';
        // Pause the first item once it really plays, then ask where the renderer is.
        if (state == RovaRenderer::Playing && !m_pausedOnce) {
            m_pausedOnce = true;
            m_renderer->pause();
        } else if (state == RovaRenderer::Paused && statuses.isEmpty()) {
            m_renderer->getStatus(this, SLOT(statusResults(QString,uint,int,QString)));
        }
    }
//! [state]

    RovaRenderer* m_renderer;
    RovaPlaylist* m_playlist;
    bool m_pausedOnce = false;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RovaMessageHandler::initRovaLogging(true);

    const QStringList songs = {QStringLiteral("urn:player:one"), QStringLiteral("urn:player:two"),
                               QStringLiteral("urn:player:three")};
    if (!seedStore(songs)) {
        out << "cannot seed the store\n";
        return 1;
    }

//! [registry]
    RovaRegistry* registry = RovaRegistry::instance();
    registry->loadPlugins(); // every plugin of RovaRegistry::pluginDirectory()
    if (registry->renderers().isEmpty()) {
        out << "no renderer in " << RovaRegistry::pluginDirectory() << '\n';
        return 1;
    }
    RovaRenderer* renderer = registry->renderers().constFirst();
//! [registry]

//! [install-policy]
    // Resource policies belong to basic renderers; the renderer takes the policy over.
    auto* policy = new GrantingPolicy;
    auto* basic = qobject_cast<RovaBasicRenderer*>(renderer);
    if (!basic || !basic->setRendererPolicy(policy, RovaRendererPolicy::PlayerGroup))
        return 1;
//! [install-policy]

//! [playlist]
    // The application's model: one Tracker object id per row. The registry owns
    // the playlist once it is added; the model stays the application's.
    QStringListModel model(songs);
    auto* playlist = new RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("Evening"),
                                                   RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
    playlist->setUnderlyingModel(&model);
    RovaInternalRegistry::internalInstance()->addPlaylist(playlist);
//! [playlist]

    Player player(renderer, playlist);
//! [no-playlist]
    // Playing before a playlist is assigned is refused through error(): the
    // player starts properly once it has seen RendererNoPlaylist.
    renderer->play();
//! [no-playlist]
    QTimer::singleShot(20000, &app, [&]() { out << "timed out\n"; app.exit(1); });
    const int status = app.exec();

    out << "played " << player.played << " items, " << policy->requests << " policy requests\n";
    const bool ok = status == 0 && player.played == 3 && player.errors == QList<RovaError::Code>{RovaError::RendererNoPlaylist}
        && player.statuses == QStringList{QStringLiteral("1 0 %1").arg(int(RovaRenderer::Paused))} && policy->requests > 0;
    return ok ? 0 : 1;
}

#include "main.moc"
