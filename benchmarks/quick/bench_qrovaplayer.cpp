// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-player's window on a local store of 10,000 songs: how long after the
// store's answer the first rows are on screen, how many questions the store gets
// while the whole list is scrolled, and the memory each song costs beyond its data.
// Runs itself as a child process, so that the library loads with the plugin
// folder and the store it makes named in the environment.
#include "rovadesktopplayer.h"
#include "rovamusicindexer.h"

#include <rovacontent.h>
#include <rovaerror.h>
#include <rovainternalregistry.h>
#include <rovasource.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>

namespace {
const int songCount = 10000;
const QString countingUuid = QStringLiteral("CountingSource");

// Asks the Tracker source on behalf of the window, counting the questions and timing the answers.
class CountingSource : public RovaSource
{
    Q_OBJECT

public:
    CountingSource()
        : RovaSource(nullptr, countingUuid, QStringLiteral("bench"))
    {
    }
    int queries = 0;
    QElapsedTimer* clock = nullptr;
    qint64 answeredAt = -1;

    uint browse(const QString&, uint, uint, QObject*, const char*, const char*) override { return 0; }
    uint query(const QString& search, const QString& sort, QObject* receiver, const char*, const char*) override
    {
        ++queries;
        m_receiver = receiver;
        return tracker()->query(search, sort, this, SLOT(answer(QList<RovaContent>, uint)), SLOT(failure(RovaError)));
    }
    bool getMetadata(const QString&, const QStringList&, QObject*, const char*, const char*) override { return false; }
    bool destroyObject(const QString&, QObject*, const char*, const char*) override { return false; }

public Q_SLOTS:
    void answer(const QList<RovaContent>& items, uint id)
    {
        answeredAt = clock->elapsed();
        QMetaObject::invokeMethod(m_receiver, "queryResults", Q_ARG(QList<RovaContent>, items), Q_ARG(uint, id));
    }
    void failure(const RovaError& error) { QMetaObject::invokeMethod(m_receiver, "queryError", Q_ARG(RovaError, error)); }

private:
    static RovaSource* tracker() { return RovaRegistry::instance()->source(QStringLiteral("RovaTrackerSource")); }
    QObject* m_receiver = nullptr;
};

QObject* find(QQuickItem* item, const QString& name)
{
    if (item->objectName() == name)
        return item;
    if (QObject* child = item->findChild<QObject*>(name))
        return child;
    const QList<QQuickItem*> children = item->childItems();
    for (QQuickItem* child : children) {
        if (QObject* found = find(child, name))
            return found;
    }
    return nullptr;
}

qint64 heapInUse()
{
    return qint64(mallinfo2().uordblks);
}

// The store: songs of 100 artists and 500 albums, whose files need not exist.
qint64 makeStore(const QString& path)
{
    QList<RovaMusicIndexer::Track> tracks;
    qint64 dataBytes = 0;
    for (int i = 0; i < songCount; ++i) {
        RovaMusicIndexer::Track track;
        track.url = QStringLiteral("file:///music/artist-%1/album-%2/song-%3.flac").arg(i % 100).arg(i % 500).arg(i, 5, 10, QLatin1Char('0'));
        track.modified = QDateTime::currentDateTimeUtc();
        track.title = QStringLiteral("Song %1").arg(i, 5, 10, QLatin1Char('0'));
        track.artist = QStringLiteral("Artist %1").arg(i % 100);
        track.album = QStringLiteral("Album %1").arg(i % 500);
        track.trackNumber = i % 12 + 1;
        track.duration = 180 + i % 120;
        // What a song is: its texts in UTF-16 (the location twice, as id and as location) and two numbers.
        dataBytes += 2 * (track.title.size() + track.artist.size() + track.album.size() + 2 * track.url.size()) + 8;
        tracks.append(track);
    }
    RovaMusicIndexer indexer(path);
    QString error;
    if (!indexer.write(tracks, &error))
        qFatal("cannot write the store: %s", qPrintable(error));
    return dataBytes;
}

int runChild(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const qint64 dataBytes = qgetenv("QROVA_BENCH_DATA").toLongLong();
    QElapsedTimer clock;
    clock.start();
    auto* counting = new CountingSource;
    counting->clock = &clock;
    QQmlApplicationEngine engine;
    RovaDesktopPlayer player(&engine);
    QQuickWindow* window = player.start({{}, QStringLiteral("fakesink"), false});
    if (!window || !RovaInternalRegistry::internalInstance()->addSource(counting))
        return 1;
    QObject* library = find(window->contentItem(), QStringLiteral("library"));
    auto* list = qobject_cast<QQuickItem*>(find(window->contentItem(), QStringLiteral("songs")));
    if (!QTest::qWaitFor([&] { return !library->property("busy").toBool() && list->property("count").toInt() > 0; }, 60000))
        return 1;

    // Empty, then all songs again through the counting source: the heap and the first frame with rows.
    library->setProperty("search", QStringLiteral("no such song anywhere"));
    if (!QTest::qWaitFor([&] { return !library->property("busy").toBool() && list->property("count").toInt() == 0; }, 60000))
        return 1;
    library->setProperty("sourceUuid", countingUuid);
    if (!QTest::qWaitFor([&] { return !library->property("busy").toBool(); }, 60000))
        return 1;
    QTest::qWait(200);
    const qint64 before = heapInUse();
    qint64 firstFrame = -1;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
        if (firstFrame < 0 && counting->answeredAt >= 0 && list->property("count").toInt() == songCount)
            firstFrame = clock.elapsed();
    });
    window->update();
    library->setProperty("search", QString());
    if (!QTest::qWaitFor([&] { return firstFrame >= 0; }, 60000))
        return 1;
    QTest::qWait(200);
    const qint64 after = heapInUse();

    // Scrolling to the end, a screen at a time, each step drawn.
    const int queriesBefore = counting->queries;
    QElapsedTimer scrolling;
    scrolling.start();
    int frames = 0;
    const qreal screen = list->height();
    while (!list->property("atYEnd").toBool()) {
        list->setProperty("contentY", list->property("contentY").toReal() + screen);
        window->grabWindow(); // renders the frame
        ++frames;
    }
    std::printf("songs: %d\n", int(list->property("count").toInt()));
    std::printf("first rows on screen: %lld ms after the store answered\n", firstFrame - counting->answeredAt);
    std::printf("scrolling the whole list: %d screens in %lld ms, %d questions to the store (%d before)\n", frames,
                scrolling.elapsed(), counting->queries - queriesBefore, queriesBefore);
    std::printf("heap for the songs: %lld bytes, of which data %lld: %.0f bytes per song above the data\n", after - before,
                dataBytes, double(after - before - dataBytes) / songCount);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("QROVA_BENCH_DATA"))
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString plugins = dir.filePath(QStringLiteral("plugins"));
    QDir().mkpath(plugins);
    for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN)})
        QFile::copy(plugin, plugins + QLatin1Char('/') + QFileInfo(plugin).fileName());
    const qint64 dataBytes = makeStore(dir.filePath(QStringLiteral("store")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QROVA_BENCH_DATA"), QString::number(dataBytes));
    env.insert(QStringLiteral("QROVA_PLUGIN_DIR"), plugins);
    env.insert(QStringLiteral("QSPARQL_TRACKER_DATABASE"), dir.filePath(QStringLiteral("store")));
    env.insert(QStringLiteral("QML_IMPORT_PATH"), QStringLiteral(QROVA_QML_DIR));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    child.waitForFinished(-1);
    return child.exitCode();
}

#include "bench_qrovaplayer.moc"
