// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovadesktopplayer.h"
#include "rovampris.h"
#include "rovamusicindexer.h"

#include <rovabasicrenderer.h>
#include <rovamediainfo.h>
#include <rovaplaylist.h>
#include <rovaregistry.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

namespace {
const QString desktopStore = QStringLiteral("org.freedesktop.Tracker3.Miner.Files");
} // namespace

RovaDesktopPlayer::RovaDesktopPlayer(QQmlApplicationEngine* engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
{
}

void RovaDesktopPlayer::nameApplication()
{
    QGuiApplication::setApplicationName(QStringLiteral("qrova-player"));
    QGuiApplication::setDesktopFileName(QStringLiteral("qrova-player"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("qrova-player")));
}

RovaDesktopPlayer::~RovaDesktopPlayer()
{
    delete m_mpris;
}

QQuickWindow* RovaDesktopPlayer::start(const Options& options)
{
    // The store: named in the environment before the plugins create the source and the renderer.
    const bool storeNamed = qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE") || qEnvironmentVariableIsSet("QSPARQL_TRACKER_BUS_NAME");
    if (!storeNamed) {
        const bool desktop = options.paths.isEmpty() && QDBusConnection::sessionBus().isConnected()
            && QDBusConnection::sessionBus().interface()->isServiceRegistered(desktopStore);
        if (!desktop)
            qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(RovaMusicIndexer::defaultStorePath()));
    }
    QStringList problems;
    if (!options.paths.isEmpty()) {
        RovaMusicIndexer indexer(QString::fromLocal8Bit(qgetenv("QSPARQL_TRACKER_DATABASE")));
        const RovaIndexResult result = indexer.index(options.paths);
        for (const QString& problem : result.failed)
            problems.append(QStringLiteral("skipped ") + problem);
        if (!result.ok())
            problems.append(QStringLiteral("cannot write the store: ") + result.storeError);
        else if (result.indexed + result.unchanged == 0)
            problems.append(QStringLiteral("no audio files in %1").arg(options.paths.join(QStringLiteral(", "))));
    }
    // A local store that cannot be made answers no question: say so rather than show an empty library.
    const QString local = qEnvironmentVariable("QSPARQL_TRACKER_DATABASE");
    if (!local.isEmpty() && !QDir().mkpath(local))
        problems.append(QStringLiteral("cannot open the store %1").arg(local));
    m_startupError = problems.join(QLatin1Char('\n'));

    // The Qrova module: beside the build tree's programs, else where it was installed.
    const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/../qml");
    m_engine->addImportPath(QStringLiteral(QROVA_INSTALLED_QML_DIR));
    if (QFileInfo::exists(built + QStringLiteral("/Qrova/qmldir")))
        m_engine->addImportPath(built);
    m_engine->setInitialProperties({{QStringLiteral("startupError"), m_startupError},
                                    {QStringLiteral("audioSink"), options.audioSink},
                                    {QStringLiteral("playInBackground"), options.background}});
    m_engine->load(QUrl(QStringLiteral("qrc:/qrova-player/Main.qml")));
    auto* window = m_engine->rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    if (!window)
        return nullptr;
    m_player = window->findChild<QObject*>(QStringLiteral("player"));
    m_queue = window->findChild<QObject*>(QStringLiteral("queue"));
    if (m_queue) // loading a queue emits countChanged or currentIndexChanged
        connect(m_queue, SIGNAL(countChanged()), this, SLOT(deferQueueChanged()));
    return window;
}

void RovaDesktopPlayer::deferQueueChanged()
{
    // The queue empties and fills again on a load: one rebuild once it is done.
    if (!std::exchange(m_queuePending, true))
        QMetaObject::invokeMethod(this, &RovaDesktopPlayer::queueChanged, Qt::QueuedConnection);
}

// Desktop media controls for the songs of the queue; without a session bus the window plays on without them.
void RovaDesktopPlayer::queueChanged()
{
    m_queuePending = false;
    delete std::exchange(m_mpris, nullptr);
    auto* renderer = m_player ? qobject_cast<RovaBasicRenderer*>(m_player->property("renderer").value<QObject*>()) : nullptr;
    auto* playlist = m_queue ? qobject_cast<RovaPlaylist*>(m_queue->property("playlist").value<QObject*>()) : nullptr;
    if (!renderer || !playlist || playlist->size() == 0)
        return;
    // The songs as the playlist's columns hold them, under their item identifiers.
    QAbstractItemModel* model = playlist->model();
    QHash<QString, int> columns;
    for (int column = 0; column < model->columnCount(); ++column)
        columns.insert(model->headerData(column, Qt::Horizontal).toString(), column);
    QList<RovaContent> songs;
    for (int row = 0; row < model->rowCount(); ++row) {
        RovaContent song(playlist->getItemMediaInfo(row).uuid());
        const auto value = [&](const QString& column) { return model->index(row, columns.value(column)).data(); };
        QMap<QString, QVariant> tags{{QStringLiteral("title"), value(QStringLiteral("title"))},
                                     {QStringLiteral("artist"), value(QStringLiteral("artist"))},
                                     {QStringLiteral("album"), value(QStringLiteral("album"))},
                                     {QStringLiteral("duration"), value(QStringLiteral("duration"))},
                                     {QStringLiteral("uri"), value(QStringLiteral("location"))}};
        song.setMetaData(tags, nullptr, nullptr);
        songs.append(song);
    }
    m_mpris = new RovaMpris(renderer, playlist, songs, RovaRegistry::instance()->pluginControlInterface(renderer->pluginName()));
    if (const QString problem = m_mpris->registerService(); !problem.isEmpty())
        qInfo("qrova-player: %s", qPrintable(problem));
}
