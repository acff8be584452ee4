// SPDX-License-Identifier: LGPL-2.1-or-later
// Loads the silent renderer plugin given on the command line and plays a
// three-item playlist to its end. The items' metadata comes from a Tracker store
// in a temporary directory, seeded here, as the basic renderer looks every item
// up before playing it. Exit status 0 when all three items played in order.
#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovarenderer.h>

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

int main(int argc, char** argv)
{
    // The store's directory outlives the application object, which takes the
    // registry, and with it the renderer and its store connection, down.
    QTemporaryDir storeDir;
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: qrova-example-renderer PLUGIN.so\n";
        return 2;
    }

    // A local store with three songs. The renderer's lookups use the store the
    // environment names.
    const QString databasePath = storeDir.filePath(QStringLiteral("store"));
    qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databasePath));
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), databasePath);
    QSparqlConnection store(QStringLiteral("QTRACKER"), options);
    const QStringList songs = {QStringLiteral("urn:example:one"), QStringLiteral("urn:example:two"),
                               QStringLiteral("urn:example:three")};
    QString insert = QStringLiteral("INSERT DATA {\n");
    for (const QString& song : songs)
        insert += QStringLiteral("<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"file:///music/%2.ogg\" ; "
                                 "nfo:duration 1 .\n").arg(song, song.section(QLatin1Char(':'), 2));
    insert += QLatin1Char('}');
    std::unique_ptr<QSparqlResult> seeded(store.syncExec(QSparqlQuery(insert, QSparqlQuery::InsertStatement)));
    if (seeded->hasError()) {
        out << "cannot seed the store: " << seeded->lastError().message() << '\n';
        return 1;
    }

//! [load]
    RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
    if (!registry->loadPlugin(QString::fromLocal8Bit(argv[1])))
        return 1;
    RovaRenderer* renderer = registry->renderer(QStringLiteral("example-silent-renderer"));
//! [load]
    if (!renderer)
        return 1;

    // The playlist: one object id of the store per row.
    QStringListModel model(songs);
    auto* playlist = new RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), QStringLiteral("Example"),
                                                   RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
    playlist->setUnderlyingModel(&model);
    registry->addPlaylist(playlist);

    QStringList heard;
    // The lambdas use locals: the guard cuts their connections before the locals go,
    // while the renderer, owned by the registry, lives on until the application ends.
    QObject guard;
    QObject::connect(renderer, &RovaRenderer::mediaChanged, &guard, [&](int index, const RovaContent& content) {
        out << "playing item " << index << ": " << content.uuid() << '\n';
        heard << content.uuid().section(QStringLiteral("::"), 1);
    });
    QObject::connect(renderer, &RovaRenderer::error, &guard, [&](const RovaError& error) {
        out << "error: " << error.toString() << '\n';
        app.exit(1);
    });
    QObject::connect(renderer, &RovaRenderer::playbackCompleted, &app, &QCoreApplication::quit);
    QTimer::singleShot(20000, &app, [&]() { out << "timed out\n"; app.exit(1); });

    renderer->assignPlaylist(playlist);
    renderer->play();
    const int status = app.exec();
    out << "heard " << heard.join(QLatin1String(", ")) << '\n';
    return status == 0 && heard == songs ? 0 : 1;
}
