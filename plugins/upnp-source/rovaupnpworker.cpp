// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaupnpworker.h"

#include <QDebug>
#include <QUrl>
#include <QVariant>

#include <libgupnp-av/gupnp-av.h>
#include <libgupnp/gupnp.h>

#include <pthread.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace {

const char* const mediaServerType = "urn:schemas-upnp-org:device:MediaServer:1";
const char* const directoryType = "urn:schemas-upnp-org:service:ContentDirectory:1";

// Texts longer than this make an object unusable: no title or name is that long.
const int maxTextLength = 32 * 1024;

// MIME types the renderer decodes, best first; an http-get resource of one of
// these is preferred to any other.
const QStringList& playableTypes()
{
    static const QStringList types{
        QStringLiteral("audio/flac"), QStringLiteral("audio/x-flac"), QStringLiteral("audio/mpeg"),
        QStringLiteral("audio/mp3"), QStringLiteral("audio/ogg"), QStringLiteral("audio/x-vorbis+ogg"),
        QStringLiteral("audio/vorbis"), QStringLiteral("application/ogg"), QStringLiteral("audio/x-ogg"),
        QStringLiteral("audio/opus"), QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav"),
        QStringLiteral("audio/L16"), QStringLiteral("audio/mp4"), QStringLiteral("audio/x-m4a"),
        QStringLiteral("audio/aac"), QStringLiteral("audio/x-aiff"),
    };
    return types;
}

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// What the parser gives for one object, or nothing (and \a usable false) for an object not fit to be listed.
struct ObjectReader
{
    QString sourceUuid;
    RovaUpnpWorker::Page* page;

    void read(GUPnPDIDLLiteObject* object)
    {
        ++page->objects;
        const QString id = text(gupnp_didl_lite_object_get_id(object));
        const QString title = text(gupnp_didl_lite_object_get_title(object));
        const QString upnpClass = text(gupnp_didl_lite_object_get_upnp_class(object));
        if (id.isEmpty() || id.size() > maxTextLength || title.size() > maxTextLength) {
            ++skipped;
            return;
        }
        QMap<QString, QVariant> metadata{{QStringLiteral("title"), title}};
        if (GUPNP_IS_DIDL_LITE_CONTAINER(object)) {
            metadata.insert(QStringLiteral("type"), QStringLiteral("container"));
            const gint children = gupnp_didl_lite_container_get_child_count(GUPNP_DIDL_LITE_CONTAINER(object));
            if (children >= 0)
                metadata.insert(QStringLiteral("child-count"), children);
        } else {
            if (!upnpClass.startsWith(QLatin1String("object.item.audioItem")))
                return; // pictures and videos are not this source's business
            if (!readItem(object, metadata)) {
                ++skipped;
                return;
            }
        }
        RovaContent content(sourceUuid + QLatin1String("::") + id);
        content.setMetaData(metadata, nullptr, nullptr);
        page->items.append(content);
    }

    bool readItem(GUPnPDIDLLiteObject* object, QMap<QString, QVariant>& metadata)
    {
        metadata.insert(QStringLiteral("type"), QStringLiteral("audio"));
        QString artist;
        GList* artists = gupnp_didl_lite_object_get_artists(object);
        for (GList* it = artists; it && artist.isEmpty(); it = it->next)
            artist = text(gupnp_didl_lite_contributor_get_name(GUPNP_DIDL_LITE_CONTRIBUTOR(it->data)));
        g_list_free_full(artists, g_object_unref);
        if (artist.isEmpty())
            artist = text(gupnp_didl_lite_object_get_creator(object));
        const QString album = text(gupnp_didl_lite_object_get_album(object));
        const QString genre = text(gupnp_didl_lite_object_get_genre(object));
        const QString art = text(gupnp_didl_lite_object_get_album_art(object));
        if (artist.size() > maxTextLength || album.size() > maxTextLength || genre.size() > maxTextLength
            || art.size() > maxTextLength)
            return false;
        metadata.insert(QStringLiteral("artist"), artist);
        metadata.insert(QStringLiteral("album"), album);
        if (!genre.isEmpty())
            metadata.insert(QStringLiteral("genre"), genre);
        const int track = gupnp_didl_lite_object_get_track_number(object);
        if (track >= 0)
            metadata.insert(QStringLiteral("track-number"), track);
        const QUrl artUrl(art, QUrl::StrictMode);
        if (artUrl.isValid() && (artUrl.scheme() == QLatin1String("http") || artUrl.scheme() == QLatin1String("https")))
            metadata.insert(QStringLiteral("album-art-uri"), artUrl);

        // The resource to play: http-get, a type the renderer decodes first.
        int best = -1;
        QUrl location;
        QString mime;
        long duration = -1;
        GList* resources = gupnp_didl_lite_object_get_resources(object);
        for (GList* it = resources; it; it = it->next) {
            auto* resource = GUPNP_DIDL_LITE_RESOURCE(it->data);
            GUPnPProtocolInfo* info = gupnp_didl_lite_resource_get_protocol_info(resource);
            if (!info || qstrcmp(gupnp_protocol_info_get_protocol(info), "http-get") != 0)
                continue;
            const QUrl url(text(gupnp_didl_lite_resource_get_uri(resource)).trimmed(), QUrl::StrictMode);
            if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
                continue;
            const QString type = text(gupnp_protocol_info_get_mime_type(info));
            const qsizetype rank = playableTypes().indexOf(type.section(QLatin1Char(';'), 0, 0).trimmed());
            const int score = rank >= 0 ? int(playableTypes().size() - rank) : 0;
            if (best < 0 || score > best) {
                best = score;
                location = url;
                mime = type;
                duration = gupnp_didl_lite_resource_get_duration(resource);
            }
        }
        g_list_free_full(resources, g_object_unref);
        if (location.isEmpty())
            return false;
        metadata.insert(QStringLiteral("uri"), location);
        if (!mime.isEmpty())
            metadata.insert(QStringLiteral("mime-type"), mime);
        if (duration >= 0)
            metadata.insert(QStringLiteral("duration"), int(duration));
        return true;
    }

    int skipped = 0;
};

void objectAvailable(GUPnPDIDLLiteParser*, GUPnPDIDLLiteObject* object, gpointer data)
{
    static_cast<ObjectReader*>(data)->read(object);
}

} // namespace

RovaUpnpWorker::Page RovaUpnpWorker::parseDidl(const QString& sourceUuid, const char* didl)
{
    Page page;
    if (!didl || !*didl)
        return page;
    ObjectReader reader{sourceUuid, &page};
    GUPnPDIDLLiteParser* parser = gupnp_didl_lite_parser_new();
    g_signal_connect(parser, "object-available", G_CALLBACK(objectAvailable), &reader);
    GError* error = nullptr;
    if (!gupnp_didl_lite_parser_parse_didl(parser, didl, &error)) {
        page.failed = true;
        page.error = QStringLiteral("The server's DIDL-Lite cannot be read: %1").arg(text(error ? error->message : nullptr));
        page.items.clear();
        g_clear_error(&error);
    }
    g_object_unref(parser);
    if (reader.skipped > 0)
        qWarning("RovaUpnpSource: skipped %d unusable object(s) in a server's answer", reader.skipped);
    return page;
}

// One action on its way.
struct RovaUpnpWorkerCall
{
    RovaUpnpWorker::Private* worker = nullptr;
    GUPnPServiceProxyAction* action = nullptr;
    GCancellable* cancellable = nullptr;
    GSource* timer = nullptr;
    bool timedOut = false;
    QString sourceUuid;
    QStringList outputs;
    RovaUpnpWorker::Done done;
};

struct RovaUpnpWorker::Private
{
    Listener* listener = nullptr;
    QString interfaceName;
    int timeoutMs = 10000;
    GMainContext* context = nullptr;

    std::mutex mutex;
    bool stopping = false;
    std::vector<std::function<void()>> jobs;

    // Worker thread only from here on.
    GUPnPContextManager* manager = nullptr;
    GUPnPContext* ownContext = nullptr;
    std::vector<GUPnPControlPoint*> controlPoints;
    struct Server
    {
        GUPnPServiceProxy* directory = nullptr;
        GUPnPDeviceProxy* device = nullptr;
    };
    std::map<QString, Server> servers;
    std::set<RovaUpnpWorkerCall*> calls;

    void run();
    void start();
    void stop();
    void addControlPoint(GUPnPContext* upnpContext);
    void rebuildControlPoints();
    void deviceAvailable(GUPnPDeviceProxy* device);
    void deviceUnavailable(GUPnPDeviceProxy* device);
    void call(const QString& udn, GUPnPServiceProxyAction* action, const QString& sourceUuid,
              const QStringList& outputs, Done done);
    void finish(RovaUpnpWorkerCall* call, GAsyncResult* result);

    void enqueue(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            jobs.push_back(std::move(job));
        }
        g_main_context_wakeup(context);
    }
};

namespace {

void onDeviceAvailable(GUPnPControlPoint*, GUPnPDeviceProxy* device, gpointer data)
{
    static_cast<RovaUpnpWorker::Private*>(data)->deviceAvailable(device);
}

void onDeviceUnavailable(GUPnPControlPoint*, GUPnPDeviceProxy* device, gpointer data)
{
    static_cast<RovaUpnpWorker::Private*>(data)->deviceUnavailable(device);
}

void onContextAvailable(GUPnPContextManager*, GUPnPContext* upnpContext, gpointer data)
{
    static_cast<RovaUpnpWorker::Private*>(data)->addControlPoint(upnpContext);
}

void onActionDone(GObject* proxy, GAsyncResult* result, gpointer data)
{
    auto* call = static_cast<RovaUpnpWorkerCall*>(data);
    (void)proxy;
    call->worker->finish(call, result);
}

gboolean onTimeout(gpointer data)
{
    auto* call = static_cast<RovaUpnpWorkerCall*>(data);
    call->timedOut = true;
    g_cancellable_cancel(call->cancellable);
    call->timer = nullptr;
    return G_SOURCE_REMOVE;
}

} // namespace

void RovaUpnpWorker::Private::addControlPoint(GUPnPContext* upnpContext)
{
    GUPnPControlPoint* point = gupnp_control_point_new(upnpContext, mediaServerType);
    g_signal_connect(point, "device-proxy-available", G_CALLBACK(onDeviceAvailable), this);
    g_signal_connect(point, "device-proxy-unavailable", G_CALLBACK(onDeviceUnavailable), this);
    gssdp_resource_browser_set_active(GSSDP_RESOURCE_BROWSER(point), TRUE);
    controlPoints.push_back(point);
}

void RovaUpnpWorker::Private::rebuildControlPoints()
{
    std::vector<GUPnPContext*> contexts;
    for (GUPnPControlPoint* point : controlPoints) {
        contexts.push_back(GUPNP_CONTEXT(g_object_ref(gupnp_control_point_get_context(point))));
        g_signal_handlers_disconnect_by_data(point, this);
        g_object_unref(point);
    }
    controlPoints.clear();
    for (GUPnPContext* upnpContext : contexts) {
        addControlPoint(upnpContext);
        g_object_unref(upnpContext);
    }
}

void RovaUpnpWorker::Private::deviceAvailable(GUPnPDeviceProxy* device)
{
    const QString udn = text(gupnp_device_info_get_udn(GUPNP_DEVICE_INFO(device)));
    if (udn.isEmpty())
        return;
    GUPnPServiceInfo* service = gupnp_device_info_get_service(GUPNP_DEVICE_INFO(device), directoryType);
    if (!service)
        return;
    const auto known = servers.find(udn);
    if (known != servers.end()) {
        // Found again (another interface, or a fresh search): the newest proxies serve.
        g_object_unref(known->second.directory);
        g_object_unref(known->second.device);
        known->second = Server{GUPNP_SERVICE_PROXY(service), GUPNP_DEVICE_PROXY(g_object_ref(device))};
        return;
    }
    char* friendly = gupnp_device_info_get_friendly_name(GUPNP_DEVICE_INFO(device));
    QString name = text(friendly).left(256);
    g_free(friendly);
    if (name.isEmpty())
        name = udn;
    servers[udn] = Server{GUPNP_SERVICE_PROXY(service), GUPNP_DEVICE_PROXY(g_object_ref(device))};
    Listener* const target = listener;
    listener->post([target, udn, name] { target->serverAppeared(udn, name); });
}

void RovaUpnpWorker::Private::deviceUnavailable(GUPnPDeviceProxy* device)
{
    const QString udn = text(gupnp_device_info_get_udn(GUPNP_DEVICE_INFO(device)));
    const auto it = servers.find(udn);
    if (it == servers.end() || it->second.device != device)
        return;
    g_object_unref(it->second.directory);
    g_object_unref(it->second.device);
    servers.erase(it);
    Listener* const target = listener;
    listener->post([target, udn] { target->serverGone(udn); });
}

void RovaUpnpWorker::Private::call(const QString& udn, GUPnPServiceProxyAction* action, const QString& sourceUuid,
                                   const QStringList& outputs, Done done)
{
    const auto it = servers.find(udn);
    if (it == servers.end() || stopping) {
        gupnp_service_proxy_action_unref(action);
        Page page;
        page.failed = page.unreachable = true;
        page.error = QStringLiteral("The media server is gone");
        done(page);
        return;
    }
    auto* pending = new RovaUpnpWorkerCall;
    pending->worker = this;
    pending->action = action;
    pending->cancellable = g_cancellable_new();
    pending->sourceUuid = sourceUuid;
    pending->outputs = outputs;
    pending->done = std::move(done);
    pending->timer = g_timeout_source_new(guint(timeoutMs));
    g_source_set_callback(pending->timer, onTimeout, pending, nullptr);
    g_source_attach(pending->timer, context);
    g_source_unref(pending->timer);
    calls.insert(pending);
    gupnp_service_proxy_call_action_async(it->second.directory, action, pending->cancellable, onActionDone, pending);
}

void RovaUpnpWorker::Private::finish(RovaUpnpWorkerCall* pending, GAsyncResult* result)
{
    if (pending->timer)
        g_source_destroy(pending->timer);
    calls.erase(pending);
    Page page;
    GError* error = nullptr;
    // The action returned here is the one we made; it is not ours to free twice.
    GObject* proxy = g_async_result_get_source_object(result);
    GUPnPServiceProxyAction* action = gupnp_service_proxy_call_action_finish(GUPNP_SERVICE_PROXY(proxy), result, &error);
    if (proxy)
        g_object_unref(proxy);
    std::vector<char*> values(size_t(pending->outputs.size()), nullptr);
    if (action && !error) {
        // Values of our own, initialised to the type we want: the hash only fills them.
        std::vector<QByteArray> keys;
        for (const QString& output : pending->outputs)
            keys.push_back(output.toUtf8());
        std::vector<GValue> read(keys.size(), G_VALUE_INIT);
        GHashTable* hash = g_hash_table_new(g_str_hash, g_str_equal);
        for (size_t i = 0; i < keys.size(); ++i) {
            g_value_init(&read[i], G_TYPE_STRING);
            g_hash_table_insert(hash, const_cast<char*>(keys[i].constData()), &read[i]);
        }
        if (gupnp_service_proxy_action_get_result_hash(action, hash, &error)) {
            for (size_t i = 0; i < keys.size(); ++i)
                values[i] = g_value_dup_string(&read[i]);
        }
        g_hash_table_unref(hash);
        for (GValue& value : read)
            g_value_unset(&value);
    }
    if (error) {
        page.failed = true;
        // A fault the server reports, or an answer it garbles, is the server's word; anything else means it is not there.
        const bool network = error->domain != GUPNP_CONTROL_ERROR && error->domain != GUPNP_SERVER_ERROR;
        page.unreachable = pending->timedOut || (network && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED));
        page.error = pending->timedOut ? QStringLiteral("The media server did not answer in time")
                                       : QStringLiteral("The media server's answer failed: %1").arg(text(error->message));
        g_clear_error(&error);
    } else if (pending->outputs.size() == 3) {
        // Result, NumberReturned, TotalMatches
        page.numberReturned = QByteArray(values[1]).trimmed().toUInt();
        page.totalMatches = QByteArray(values[2]).trimmed().toUInt();
        // An empty DIDL-Lite document is no error: check the count before reading.
        if (page.numberReturned > 0 || (values[0] && (strstr(values[0], "<item") || strstr(values[0], "<container")))) {
            Page parsed = RovaUpnpWorker::parseDidl(pending->sourceUuid, values[0]);
            if (!parsed.failed && parsed.objects != page.numberReturned)
                qWarning("RovaUpnpSource: a media server gave %u object(s) where it counted %u", parsed.objects, page.numberReturned);
            parsed.numberReturned = page.numberReturned;
            parsed.totalMatches = page.totalMatches;
            page = std::move(parsed);
        }
    } else if (!values.empty()) {
        page.value = text(values[0]);
    }
    for (char* value : values)
        g_free(value);
    gupnp_service_proxy_action_unref(pending->action);
    g_object_unref(pending->cancellable);
    pending->done(page);
    delete pending;
}

void RovaUpnpWorker::Private::start()
{
    if (interfaceName.isEmpty()) {
        manager = gupnp_context_manager_create_full(GSSDP_UDA_VERSION_1_0, G_SOCKET_FAMILY_IPV4, 0);
        g_signal_connect(manager, "context-available", G_CALLBACK(onContextAvailable), this);
        return;
    }
    GError* error = nullptr;
    ownContext = gupnp_context_new_full(interfaceName.toUtf8().constData(), nullptr, 0, GSSDP_UDA_VERSION_1_0, &error);
    if (!ownContext) {
        qWarning() << "RovaUpnpSource: cannot listen on the network interface" << interfaceName << ":"
                   << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    addControlPoint(ownContext);
}

void RovaUpnpWorker::Private::stop()
{
    // Calls still out end as cancelled; their callbacks must run before the context goes.
    for (RovaUpnpWorkerCall* pending : calls)
        g_cancellable_cancel(pending->cancellable);
    while (!calls.empty())
        g_main_context_iteration(context, TRUE);
    for (GUPnPControlPoint* point : controlPoints) {
        g_signal_handlers_disconnect_by_data(point, this);
        g_object_unref(point);
    }
    controlPoints.clear();
    for (auto& server : servers) {
        g_object_unref(server.second.directory);
        g_object_unref(server.second.device);
    }
    servers.clear();
    if (manager) {
        g_signal_handlers_disconnect_by_data(manager, this);
        g_object_unref(manager);
    }
    if (ownContext)
        g_object_unref(ownContext);
    while (g_main_context_iteration(context, FALSE)) {
    }
}

void RovaUpnpWorker::Private::run()
{
    pthread_setname_np(pthread_self(), "qrova-upnp");
    g_main_context_push_thread_default(context);
    start();
    for (;;) {
        std::vector<std::function<void()>> todo;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                break;
            todo.swap(jobs);
        }
        for (auto& job : todo)
            job();
        if (todo.empty())
            g_main_context_iteration(context, TRUE);
    }
    stop();
    g_main_context_pop_thread_default(context);
}

RovaUpnpWorker::RovaUpnpWorker(Listener* listener, const QString& interfaceName, int timeoutMs)
    : d(new Private)
{
    d->listener = listener;
    d->interfaceName = interfaceName;
    d->timeoutMs = qMax(1, timeoutMs);
    d->context = g_main_context_new();
    m_thread = std::thread([this] { d->run(); });
}

RovaUpnpWorker::~RovaUpnpWorker()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    g_main_context_wakeup(d->context);
    m_thread.join();
    // Jobs never run still hold their answers' callbacks: they are dropped unanswered.
    d->jobs.clear();
    g_main_context_unref(d->context);
}

namespace {

GUPnPServiceProxyAction* directoryAction(const char* name, const QList<std::pair<const char*, QString>>& arguments)
{
    GList* names = nullptr;
    GList* values = nullptr;
    std::vector<QByteArray> texts;
    texts.reserve(size_t(arguments.size()));
    for (const auto& argument : arguments)
        texts.push_back(argument.second.toUtf8());
    for (size_t i = 0; i < texts.size(); ++i) {
        names = g_list_append(names, const_cast<char*>(arguments.at(qsizetype(i)).first));
        auto* value = g_new0(GValue, 1);
        g_value_init(value, G_TYPE_STRING);
        g_value_set_string(value, texts[i].constData());
        values = g_list_append(values, value);
    }
    GUPnPServiceProxyAction* action = gupnp_service_proxy_action_new_from_list(name, names, values);
    g_list_free(names);
    for (GList* it = values; it; it = it->next) {
        g_value_unset(static_cast<GValue*>(it->data));
        g_free(it->data);
    }
    g_list_free(values);
    return action;
}

} // namespace

void RovaUpnpWorker::browse(const QString& udn, const QString& sourceUuid, const QString& objectId, bool metadata,
                            uint start, uint count, Done done)
{
    Private* const p = d.get();
    p->enqueue([p, udn, sourceUuid, objectId, metadata, start, count, done = std::move(done)]() mutable {
        GUPnPServiceProxyAction* action = directoryAction(
            "Browse", {{"ObjectID", objectId},
                       {"BrowseFlag", metadata ? QStringLiteral("BrowseMetadata") : QStringLiteral("BrowseDirectChildren")},
                       {"Filter", QStringLiteral("*")},
                       {"StartingIndex", QString::number(start)},
                       {"RequestedCount", QString::number(count)},
                       {"SortCriteria", QString()}});
        p->call(udn, action, sourceUuid,
                {QStringLiteral("Result"), QStringLiteral("NumberReturned"), QStringLiteral("TotalMatches")}, std::move(done));
    });
}

void RovaUpnpWorker::search(const QString& udn, const QString& sourceUuid, const QString& containerId,
                            const QString& criteria, uint start, uint count, Done done)
{
    Private* const p = d.get();
    p->enqueue([p, udn, sourceUuid, containerId, criteria, start, count, done = std::move(done)]() mutable {
        GUPnPServiceProxyAction* action = directoryAction(
            "Search", {{"ContainerID", containerId},
                       {"SearchCriteria", criteria},
                       {"Filter", QStringLiteral("*")},
                       {"StartingIndex", QString::number(start)},
                       {"RequestedCount", QString::number(count)},
                       {"SortCriteria", QString()}});
        p->call(udn, action, sourceUuid,
                {QStringLiteral("Result"), QStringLiteral("NumberReturned"), QStringLiteral("TotalMatches")}, std::move(done));
    });
}

void RovaUpnpWorker::searchCapabilities(const QString& udn, Done done)
{
    Private* const p = d.get();
    p->enqueue([p, udn, done = std::move(done)]() mutable {
        p->call(udn, directoryAction("GetSearchCapabilities", {}), QString(), {QStringLiteral("SearchCaps")}, std::move(done));
    });
}

void RovaUpnpWorker::forget(const QString& udn)
{
    Private* const p = d.get();
    p->enqueue([p, udn] {
        const auto it = p->servers.find(udn);
        if (it == p->servers.end())
            return;
        g_object_unref(it->second.directory);
        g_object_unref(it->second.device);
        p->servers.erase(it);
        // A fresh search: whatever still answers is found again, this server once it is back.
        p->rebuildControlPoints();
    });
}
