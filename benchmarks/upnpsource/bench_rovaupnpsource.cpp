// SPDX-License-Identifier: LGPL-2.1-or-later
// What the UPnP source costs: browsing 1,000 songs on a real minidlna through the source, against the same
// Browse requests made directly with GUPnP-AV in the same run; and the time from play() to the first sound
// of a server's song on loopback.
#include "rovaupnpsource.h"

#include <rovabasicrenderer.h>
#include <rovacontent.h>
#include <rovainternalregistry.h>
#include <rovaplaylistbase.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <libgupnp-av/gupnp-av.h>
#include <libgupnp/gupnp.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const int songCount = 1000;
const char* const udn = "uuid:4d696e69-444c-164e-9d41-0000000b0001";

struct ItemPlaylist : RovaPlaylistBase
{
    explicit ItemPlaylist(const RovaContent& item) : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), u"one"_s), item(item)
    {
        model.setStringList({item.uuid()});
        setUnderlyingModel(&model);
    }
    RovaMediaInfo getItemMediaInfo(int index) override { return index == 0 ? RovaMediaInfo(item) : RovaMediaInfo(); }
    RovaContent item;
    QStringListModel model;
};

void countObject(GUPnPDIDLLiteParser*, GUPnPDIDLLiteObject* object, gpointer data)
{
    // As much reading as the source does for an item.
    (void)gupnp_didl_lite_object_get_title(object);
    GList* resources = gupnp_didl_lite_object_get_resources(object);
    g_list_free_full(resources, g_object_unref);
    ++*static_cast<int*>(data);
}

// The server's Browse service, reached with GUPnP alone on a main context of this thread's own.
struct DirectClient
{
    GMainContext* context = g_main_context_new();
    GUPnPContext* upnp = nullptr;
    GUPnPControlPoint* point = nullptr;
    GUPnPServiceProxy* directory = nullptr;

    static void available(GUPnPControlPoint*, GUPnPDeviceProxy* device, gpointer data)
    {
        auto* self = static_cast<DirectClient*>(data);
        if (!self->directory && qstrcmp(gupnp_device_info_get_udn(GUPNP_DEVICE_INFO(device)), udn) == 0)
            self->directory = GUPNP_SERVICE_PROXY(gupnp_device_info_get_service(GUPNP_DEVICE_INFO(device),
                                                                               "urn:schemas-upnp-org:service:ContentDirectory:1"));
    }

    bool start()
    {
        g_main_context_push_thread_default(context);
        upnp = gupnp_context_new_full("lo", nullptr, 0, GSSDP_UDA_VERSION_1_0, nullptr);
        if (upnp) {
            point = gupnp_control_point_new(upnp, "urn:schemas-upnp-org:device:MediaServer:1");
            g_signal_connect(point, "device-proxy-available", G_CALLBACK(available), this);
            gssdp_resource_browser_set_active(GSSDP_RESOURCE_BROWSER(point), TRUE);
            QElapsedTimer timer;
            timer.start();
            while (!directory && timer.elapsed() < 20000)
                g_main_context_iteration(context, TRUE);
        }
        g_main_context_pop_thread_default(context);
        return directory;
    }

    // Every child of \a container, page after page as the server gives them; the number read.
    int browse(const QString& container)
    {
        g_main_context_push_thread_default(context);
        int read = 0;
        for (guint start = 0;;) {
            GUPnPServiceProxyAction* action = gupnp_service_proxy_action_new(
                "Browse", "ObjectID", G_TYPE_STRING, container.toUtf8().constData(), "BrowseFlag", G_TYPE_STRING,
                "BrowseDirectChildren", "Filter", G_TYPE_STRING, "*", "StartingIndex", G_TYPE_UINT, start,
                "RequestedCount", G_TYPE_UINT, 0u, "SortCriteria", G_TYPE_STRING, "", nullptr);
            GError* error = nullptr;
            char* didl = nullptr;
            guint returned = 0, total = 0;
            if (gupnp_service_proxy_call_action(directory, action, nullptr, &error))
                gupnp_service_proxy_action_get_result(action, &error, "Result", G_TYPE_STRING, &didl, "NumberReturned",
                                                      G_TYPE_UINT, &returned, "TotalMatches", G_TYPE_UINT, &total, nullptr);
            gupnp_service_proxy_action_unref(action);
            if (error || returned == 0) {
                g_clear_error(&error);
                g_free(didl);
                break;
            }
            GUPnPDIDLLiteParser* parser = gupnp_didl_lite_parser_new();
            g_signal_connect(parser, "object-available", G_CALLBACK(countObject), &read);
            gupnp_didl_lite_parser_parse_didl(parser, didl, nullptr);
            g_object_unref(parser);
            g_free(didl);
            start += returned;
            if (start >= total)
                break;
        }
        g_main_context_pop_thread_default(context);
        return read;
    }

    ~DirectClient()
    {
        if (directory)
            g_object_unref(directory);
        if (point)
            g_object_unref(point);
        if (upnp)
            g_object_unref(upnp);
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_unref(context);
    }
};

} // namespace

class bench_RovaUpnpSource : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_server;
    std::unique_ptr<RovaUpnpSourceManager> m_manager;
    RovaUpnpSource* m_source = nullptr;
    QString m_container;
    int m_received = 0;
    QList<RovaContent> m_items;

public Q_SLOTS:
    void browseResults(const QList<RovaContent>& items, uint)
    {
        m_received += int(items.size());
        m_items += items;
    }

private:
    int browse(const QString& container)
    {
        m_received = 0;
        m_items.clear();
        QSignalSpy done(m_source, &RovaSource::browseCompleted);
        m_source->browse(container, 0, 0, this, SLOT(browseResults(QList<RovaContent>, uint)), nullptr);
        (void)done.wait(20000);
        return m_received;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // One second of tagged FLAC, the same song a thousand times over (hard links).
        QVERIFY(QDir().mkpath(m_dir.filePath(u"music"_s)));
        const QString first = m_dir.filePath(u"music/song0000.flac"_s);
        QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(
                     u"-q audiotestsrc num-buffers=43 ! audio/x-raw,rate=44100,channels=2 ! audioconvert ! "
                     "taginject tags=\"title=Bench,artist=Rova,album=Bench\" ! flacenc ! filesink location=%1"_s.arg(first))), 0);
        for (int i = 1; i < songCount; ++i) {
            const QByteArray name = QFile::encodeName(m_dir.filePath(u"music/song%1.flac"_s.arg(i, 4, 10, QLatin1Char('0'))));
            QCOMPARE(::link(QFile::encodeName(first).constData(), name.constData()), 0);
        }
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        QFile conf(m_dir.filePath(u"minidlna.conf"_s));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(u"port=%1\nnetwork_interface=lo\nmedia_dir=A,%2\ndb_dir=%3\nlog_dir=%3\nfriendly_name=Bench MiniDLNA\n"
                   "uuid=%4\ninotify=no\nnotify_interval=30\nroot_container=B\n"_s
                       .arg(port).arg(m_dir.filePath(u"music"_s), m_dir.filePath(u"db"_s), QString::fromLatin1(udn + 5)).toUtf8());
        conf.close();
        m_server.start(u"/usr/sbin/minidlnad"_s, {u"-S"_s, u"-f"_s, conf.fileName(), u"-P"_s, m_dir.filePath(u"minidlna.pid"_s)});
        QVERIFY(m_server.waitForStarted());
        m_manager = std::make_unique<RovaUpnpSourceManager>(RovaInternalRegistry::internalInstance(), u"lo"_s);
        QTRY_VERIFY_WITH_TIMEOUT((m_source = qobject_cast<RovaUpnpSource*>(
                                      RovaInternalRegistry::internalInstance()->source(QString::fromLatin1(udn + 5)))), 20000);
        // The folder of the songs, once the server has read them all.
        QTRY_VERIFY_WITH_TIMEOUT((browse(QString()), !m_items.isEmpty()), 20000);
        // One folder shared: the server may list its songs at the root, or in a folder there.
        const RovaContent top = m_items.first();
        m_container = top.metaData(u"type"_s).toString() == "container"_L1 ? top.uuid() : m_source->uuid() + u"::0"_s;
        QTRY_COMPARE_WITH_TIMEOUT(browse(m_container), songCount, 60000);
    }

    void cleanupTestCase()
    {
        m_manager.reset();
        m_server.terminate();
        m_server.waitForFinished();
    }

    void browseThroughTheSource()
    {
        int read = 0;
        QBENCHMARK {
            read = browse(m_container);
        }
        QCOMPARE(read, songCount);
    }

    void browseDirectly()
    {
        DirectClient client;
        QVERIFY(client.start());
        const QString objectId = m_container.section(u"::"_s, 1);
        int read = 0;
        QBENCHMARK {
            read = client.browse(objectId);
        }
        QCOMPARE(read, songCount);
    }

    // From play() until the renderer reports Playing: the song is on its way to the sound card.
    void firstSoundAfterPlay()
    {
        RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
        QVERIFY(registry->loadPlugin(QStringLiteral(ROVA_GSTREAMER_PLUGIN)));
        auto* renderer = qobject_cast<RovaBasicRenderer*>(registry->renderer(u"RovaGStreamerRenderer"_s));
        QVERIFY(renderer);
        QVERIFY(registry->pluginControlInterface(u"qrova-gstreamer-renderer"_s)->setSetting(u"audio-sink"_s, u"fakesink sync=true"_s));
        QVERIFY(browse(m_container) == songCount);
        ItemPlaylist playlist(m_items.first());
        renderer->assignPlaylist(&playlist);
        QList<qint64> times;
        for (int run = 0; run < 11; ++run) {
            QSignalSpy states(renderer, &RovaRenderer::stateChanged);
            QElapsedTimer timer;
            timer.start();
            renderer->play();
            QTRY_VERIFY_WITH_TIMEOUT(states.size() && states.last().first().value<RovaRenderer::State>() == RovaRenderer::Playing, 5000);
            times << timer.elapsed();
            renderer->stop();
            QTRY_VERIFY(states.last().first().value<RovaRenderer::State>() == RovaRenderer::Stopped);
        }
        std::sort(times.begin(), times.end());
        qInfo("first sound after play(): median %lld ms, worst %lld ms over %lld runs", times.at(times.size() / 2), times.last(), qint64(times.size()));
        renderer->assignPlaylist(nullptr);
    }
};

QTEST_GUILESS_MAIN(bench_RovaUpnpSource)
#include "bench_rovaupnpsource.moc"
