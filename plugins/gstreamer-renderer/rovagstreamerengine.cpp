// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovagstreamerengine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QFile>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QWaitCondition>
#include <QtEndian>

#include <gst/gst.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRovaGStreamer, "qrova.gstreamer")

// What the streaming threads and the engine's thread share, under mutex. The
// bus handler and the about-to-finish handler keep it alive through their own
// references, so it outlives the engine while a call of theirs still runs.
struct RovaGStreamerShared
{
    QMutex mutex;
    QWaitCondition hintChanged;
    QObject* target = nullptr; // the engine; null once it is being destroyed
    GstElement* pipeline = nullptr; // set once before any handler runs
    quint64 generation = 1; // one pipeline run; events of older runs are dropped
    quint64 releases = 0; // bumped to release a waiting about-to-finish
    // A run is on: false from the moment a teardown begins, so that an
    // about-to-finish that comes late returns at once instead of waiting for a
    // hint while the teardown waits for its thread.
    bool running = false;
    bool seeking = false; // a flushing seek waits for the streaming threads
    // Streaming threads inside playbin's handling of a drained stream, where it
    // may change the state of the elements of the item it moves to.
    int draining = 0;
    QWaitCondition drainingDone;
    QList<quint32> seeks; // the sequence numbers of the last seeks the engine sent
    QByteArray nextUri;
    bool nextExpected = false;
    bool expectAfterNext = false;
    QList<QByteArray> handedOver; // given to the pipeline, not started yet
    // The hinted URI that cannot be read: reported once the current stream has ended.
    QByteArray failedUri;
    RovaError failure;
};

namespace {

using SharedRef = std::shared_ptr<RovaGStreamerShared>;

// playbin's "flags": audio only, software volume.
const guint playFlagAudio = 0x2;
const guint playFlagSoftVolume = 0x10;

enum EventKind { BusMessage, NextTaken, Confirmation, Stopped, StartFailed, Failure };

// Whether \a uri can be handed to playbin: a local file must be a regular file
// that can be read. Only stat() and access(): opening a FIFO would block.
bool checkUri(const QByteArray& uri, RovaError* problem)
{
    const QUrl url = QUrl::fromEncoded(uri);
    if (!url.isLocalFile())
        return true;
    const QByteArray path = QFile::encodeName(url.toLocalFile());
    struct stat status;
    if (::stat(path.constData(), &status) != 0 || (S_ISREG(status.st_mode) && ::access(path.constData(), R_OK) != 0)) {
        const int code = errno;
        *problem = RovaError(code == ENOENT ? RovaError::RendererMediaNotFound : RovaError::RendererUriNotAvailable,
                             QString::fromLocal8Bit(std::strerror(code)));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *problem = RovaError(RovaError::RendererUriNotAvailable, QStringLiteral("not a regular file"));
        return false;
    }
    return true;
}

QEvent::Type engineEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class EngineEvent : public QEvent
{
public:
    EngineEvent(EventKind kind, quint64 generation, GstMessage* message = nullptr, QByteArray uri = {})
        : QEvent(engineEventType())
        , kind(kind)
        , generation(generation)
        , message(message)
        , uri(std::move(uri))
    {
    }
    EngineEvent(quint64 generation, RovaError::Code code, QString text)
        : EngineEvent(Failure, generation)
    {
        error = RovaError(code, std::move(text));
    }
    ~EngineEvent() override
    {
        if (message)
            gst_message_unref(message);
    }
    Q_DISABLE_COPY(EngineEvent)

    const EventKind kind;
    const quint64 generation;
    GstMessage* const message;
    const QByteArray uri;
    RovaError error;
};

// Runs on whatever thread posts: hands the messages the engine needs to its
// thread as Qt events and drops everything from the bus.
GstBusSyncReply busSyncHandler(GstBus*, GstMessage* message, gpointer data)
{
    RovaGStreamerShared& shared = **static_cast<SharedRef*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(shared.pipeline))
            return GST_BUS_DROP;
        break;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_STREAM_START:
        break;
    default:
        return GST_BUS_DROP;
    }
    QMutexLocker lock(&shared.mutex);
    if (shared.target)
        QCoreApplication::postEvent(shared.target,
                                    new EngineEvent(BusMessage, shared.generation, gst_message_ref(message)));
    return GST_BUS_DROP;
}

// A streaming thread: the current stream is drained. Hand the hinted URI to
// playbin so that it plays on without a gap; wait for a hint that is on its way.
void aboutToFinish(GstElement* playbin, gpointer data)
{
    RovaGStreamerShared& shared = **static_cast<SharedRef*>(data);
    QMutexLocker lock(&shared.mutex);
    const quint64 releases = shared.releases;
    const auto released = [&] { return !shared.running || shared.seeking || shared.releases != releases; };
    QDeadlineTimer deadline(RovaGStreamerEngine::hintWaitMs);
    while (shared.nextUri.isEmpty() && shared.nextExpected && !released()) {
        if (!shared.hintChanged.wait(&shared.mutex, deadline))
            break;
    }
    if (shared.nextUri.isEmpty() || released())
        return; // the stream ends with end of stream
    const QByteArray uri = std::exchange(shared.nextUri, QByteArray());
    lock.unlock();
    RovaError problem;
    const bool readable = checkUri(uri, &problem);
    lock.relock();
    if (released())
        return;
    if (!readable) { // the current stream plays to its end; the failure is reported then
        shared.failedUri = uri;
        shared.failure = problem;
        shared.nextExpected = false;
        return;
    }
    shared.handedOver.append(uri);
    shared.nextExpected = shared.expectAfterNext;
    if (shared.target)
        QCoreApplication::postEvent(shared.target, new EngineEvent(NextTaken, shared.generation, nullptr, uri));
    lock.unlock();
    g_object_set(playbin, "uri", uri.constData(), nullptr);
}

void deleteSharedRef(gpointer data, GClosure* = nullptr)
{
    delete static_cast<SharedRef*>(data);
}

// A streaming thread: a uridecodebin has played out its stream. Our handler runs
// before playbin's, which moves on to the next item and may change the state of
// its elements; that must not overlap a teardown, which takes those elements'
// state locks and then waits for this thread's stream lock. Once a teardown has
// begun, playbin's handler is not run at all; until then, the teardown waits
// for the handlers that have begun (drainedLeft() counts them out).
void drainedEntered(GstElement* uridecodebin, gpointer data)
{
    RovaGStreamerShared& shared = **static_cast<SharedRef*>(data);
    QMutexLocker lock(&shared.mutex);
    if (!shared.running) {
        g_signal_stop_emission_by_name(uridecodebin, "drained");
        return;
    }
    ++shared.draining;
}

void drainedLeft(GstElement*, gpointer data)
{
    RovaGStreamerShared& shared = **static_cast<SharedRef*>(data);
    QMutexLocker lock(&shared.mutex);
    if (shared.draining > 0 && --shared.draining == 0)
        shared.drainingDone.wakeAll();
}

// How a stream that leaves a uridecodebin begins. A demuxer that reads over the
// network may look ahead as a stream begins: an Ogg demuxer reads near the end
// for the duration, seeks back to the start and flushes; now and then some of
// what it read near the end gets out before that flush. Once playbin has linked
// a next stream to the sink while the current one plays out, both would reach
// the sink: the data from the end is played, and the flush drops what the
// current stream has left in the sink (a file sink even truncates its file).
// So a flush that does not come from a seek of the engine's stops here (the
// demuxer has flushed its own elements), and so does data that begins a stream
// well after the start of its segment, until the stream has really begun.
struct RovaStreamStart
{
    SharedRef shared;
    GstSegment segment;
    bool started = false;
    int dropped = 0;
};

// A streaming thread: data or an event leaves a uridecodebin.
GstPadProbeReturn streamData(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    static const GstClockTime leeway = 200 * GST_MSECOND;
    static const int dropLimit = 64; // buffers: a stream that does begin late is played after all
    auto& stream = *static_cast<RovaStreamStart*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        if (stream.started || stream.segment.format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(pts)
            || pts <= stream.segment.start + leeway || ++stream.dropped > dropLimit) {
            stream.started = true;
            return GST_PAD_PROBE_OK;
        }
        return GST_PAD_PROBE_DROP;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_STREAM_START:
        stream.started = false;
        stream.dropped = 0;
        gst_segment_init(&stream.segment, GST_FORMAT_UNDEFINED);
        return GST_PAD_PROBE_OK;
    case GST_EVENT_SEGMENT:
        gst_event_copy_segment(event, &stream.segment);
        return GST_PAD_PROBE_OK;
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP: {
        QMutexLocker lock(&stream.shared->mutex);
        return stream.shared->seeks.contains(gst_event_get_seqnum(event)) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    }
    default:
        return GST_PAD_PROBE_OK;
    }
}

void decodedPadAdded(GstElement*, GstPad* pad, gpointer data)
{
    if (!GST_PAD_IS_SRC(pad))
        return;
    auto* stream = new RovaStreamStart{*static_cast<SharedRef*>(data), {}, false, 0};
    gst_segment_init(&stream->segment, GST_FORMAT_UNDEFINED);
    gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM
                                           | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      streamData, stream, [](gpointer stream) { delete static_cast<RovaStreamStart*>(stream); });
}

// Any thread: playbin adds its uridecodebins before it connects its own
// handlers to them (each time it reuses one), so ours run first.
void elementAdded(GstBin*, GstBin*, GstElement* element, gpointer data)
{
    static const GQuark watched = g_quark_from_static_string("qrova-drained-watched");
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || qstrcmp(GST_OBJECT_NAME(factory), "uridecodebin") != 0
        || g_object_get_qdata(G_OBJECT(element), watched))
        return;
    g_object_set_qdata(G_OBJECT(element), watched, element);
    const SharedRef& shared = *static_cast<SharedRef*>(data);
    g_signal_connect_data(element, "drained", G_CALLBACK(drainedEntered), new SharedRef(shared), deleteSharedRef,
                          GConnectFlags(0));
    g_signal_connect_data(element, "drained", G_CALLBACK(drainedLeft), new SharedRef(shared), deleteSharedRef,
                          G_CONNECT_AFTER);
    g_signal_connect_data(element, "pad-added", G_CALLBACK(decodedPadAdded), new SharedRef(shared), deleteSharedRef,
                          GConnectFlags(0));
}

QString takeErrorMessage(GError* error)
{
    const QString text = error ? QString::fromUtf8(error->message) : QString();
    if (error)
        g_error_free(error);
    return text;
}

// The audio sink bin for \a description, owned by the caller; null with \a errorMessage set.
GstElement* makeSink(const QString& description, QString* errorMessage)
{
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
    if (sink)
        gst_object_ref_sink(sink);
    if (error && sink) { // a partial bin: some part could not be made
        gst_object_unref(sink);
        sink = nullptr;
    }
    *errorMessage = takeErrorMessage(error);
    return sink;
}

bool hasProperty(GstElement* element, const char* name)
{
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

// The file that \a encoder writes into: the location of the sink it feeds, through
// elements with one "src" pad each; empty when there is none.
QString fileWrittenBy(GstElement* encoder)
{
    GstElement* element = GST_ELEMENT(gst_object_ref(encoder));
    QString location;
    for (int step = 0; step < 8 && element && location.isEmpty(); ++step) {
        GstPad* src = gst_element_get_static_pad(element, "src");
        GstPad* peer = src ? gst_pad_get_peer(src) : nullptr;
        gst_object_unref(element);
        element = peer ? gst_pad_get_parent_element(peer) : nullptr;
        if (element && GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SINK) && hasProperty(element, "location")) {
            gchar* value = nullptr;
            g_object_get(element, "location", &value, nullptr);
            location = QFile::decodeName(value);
            g_free(value);
        }
        if (peer)
            gst_object_unref(peer);
        if (src)
            gst_object_unref(src);
    }
    if (element)
        gst_object_unref(element);
    return location;
}

// Prepares the sinks in \a bin and returns the WAV files it writes. A sink that
// does not follow the clock (a file) beside one that does (the pace of a
// recording in real time) need not preroll: otherwise a pause could never
// complete, since the paced branch holds back the data the other waits for.
QStringList prepareSink(GstElement* bin)
{
    QList<GstElement*> elements;
    GstIterator* iterator = gst_bin_iterate_recurse(GST_BIN(bin));
    gst_iterator_foreach(iterator, [](const GValue* value, gpointer list) {
        static_cast<QList<GstElement*>*>(list)->append(GST_ELEMENT(g_value_get_object(value)));
    }, &elements);
    gst_iterator_free(iterator);
    QList<GstElement*> synced, unsynced;
    QStringList wavFiles;
    for (GstElement* element : std::as_const(elements)) {
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && qstrcmp(GST_OBJECT_NAME(factory), "wavenc") == 0) {
            const QString file = fileWrittenBy(element);
            if (!file.isEmpty())
                wavFiles << file;
        }
        if (GST_IS_BIN(element) || !GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SINK)
            || !hasProperty(element, "sync") || !hasProperty(element, "async"))
            continue;
        gboolean sync = FALSE;
        g_object_get(element, "sync", &sync, nullptr);
        (sync ? synced : unsynced).append(element);
    }
    if (!synced.isEmpty()) {
        for (GstElement* element : std::as_const(unsynced))
            g_object_set(element, "async", FALSE, nullptr);
    }
    return wavFiles;
}

// Makes the RIFF and data sizes of the WAV file at \a path match its length.
// wavenc writes them at end of stream, which a run that is stopped, fails or is
// destroyed never reaches.
void closeWavFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return;
    const qint64 size = file.size();
    const QByteArray head = file.read(65536);
    const auto u32 = [&head](qint64 at) { return qFromLittleEndian<quint32>(head.constData() + at); };
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return;
    qint64 blockAlign = 1;
    for (qint64 at = 12; at + 8 <= head.size(); at += 8 + qint64(u32(at + 4)) + (u32(at + 4) & 1)) {
        const QByteArray id = head.mid(at, 4);
        if (id == "fmt " && at + 22 <= head.size())
            blockAlign = qMax<qint64>(1, qFromLittleEndian<quint16>(head.constData() + at + 20));
        if (id != "data")
            continue;
        const qint64 data = at + 8;
        if (u32(4) == size - 8 && data + u32(at + 4) <= size)
            return; // closed by wavenc, maybe with chunks after the data
        const qint64 bytes = qMin<qint64>(size - data, 0xffffffffLL - data) / blockAlign * blockAlign;
        const auto put = [&file](qint64 at, qint64 value) {
            const quint32 little = qToLittleEndian<quint32>(quint32(value));
            return file.seek(at) && file.write(reinterpret_cast<const char*>(&little), 4) == 4;
        };
        if (!put(4, data + bytes - 8) || !put(at + 4, bytes) || !file.resize(data + bytes))
            qCWarning(lcRovaGStreamer).noquote() << "Cannot close" << path << file.errorString();
        return;
    }
}

enum class Origin { Elsewhere, Source, Sink };

// The library's code for a GStreamer error raised in \a origin.
RovaError::Code errorCode(const GError* error, Origin origin)
{
    if (origin == Origin::Sink)
        return RovaError::RendererDeviceUnavailable;
    if (error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_NOT_FOUND)
        return RovaError::RendererMediaNotFound;
    if (origin == Origin::Source) // the URI could not be read, whatever the reason
        return RovaError::RendererUriNotAvailable;
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_WRITE:
        case GST_RESOURCE_ERROR_BUSY:
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            return RovaError::RendererDeviceUnavailable;
        default:
            return RovaError::RendererUriNotAvailable;
        }
    }
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
            return RovaError::RendererUnsupportedType;
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return RovaError::RendererCodecNotFound;
        case GST_STREAM_ERROR_DECODE:
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_FORMAT:
            return RovaError::RendererCorruptedFile;
        default:
            return RovaError::RendererPlaybackError;
        }
    }
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN)
        return RovaError::RendererCodecNotFound;
    return RovaError::RendererPlaybackError;
}

} // namespace

const QString RovaGStreamerEngine::DEFAULT_AUDIO_SINK = QStringLiteral("autoaudiosink");
const int RovaGStreamerEngine::hintWaitMs = 5000;
const int RovaGStreamerEngine::drainCheckMs = 100;
const int RovaGStreamerEngine::drainedWaitMs = 5000;

RovaGStreamerEngine::RovaGStreamerEngine(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<RovaGStreamerShared>())
    , m_sinkDescription(DEFAULT_AUDIO_SINK)
{
    m_drainCheck.setInterval(drainCheckMs);
    connect(&m_drainCheck, &QTimer::timeout, this, &RovaGStreamerEngine::checkDrained);
    m_pipeline = gst_element_factory_make("playbin", nullptr);
    if (!m_pipeline) {
        qCWarning(lcRovaGStreamer) << "GStreamer has no playbin: nothing can be played";
        return;
    }
    gst_object_ref_sink(m_pipeline);
    g_object_set(m_pipeline, "flags", playFlagAudio | playFlagSoftVolume, nullptr);
    m_shared->pipeline = m_pipeline;
    m_shared->target = this;
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, busSyncHandler, new SharedRef(m_shared), [](gpointer data) { deleteSharedRef(data); });
    gst_object_unref(bus);
    g_signal_connect_data(m_pipeline, "about-to-finish", G_CALLBACK(aboutToFinish), new SharedRef(m_shared),
                          deleteSharedRef, GConnectFlags(0));
    g_signal_connect_data(m_pipeline, "deep-element-added", G_CALLBACK(elementAdded), new SharedRef(m_shared),
                          deleteSharedRef, GConnectFlags(0));
}

RovaGStreamerEngine::~RovaGStreamerEngine()
{
    if (!m_pipeline)
        return;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->target = nullptr;
        m_shared->running = false;
        ++m_shared->releases;
        m_shared->hintChanged.wakeAll();
        waitForDrainedHandlers();
    }
    // Joins the streaming threads; none of them waits for this thread.
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    for (const QString& file : std::as_const(m_wavFiles))
        closeWavFile(file);
    g_signal_handlers_disconnect_matched(m_pipeline, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(aboutToFinish), nullptr);
    g_signal_handlers_disconnect_matched(m_pipeline, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(elementAdded), nullptr);
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(m_pipeline);
}

bool RovaGStreamerEngine::isValid() const
{
    return m_pipeline != nullptr;
}

quint64 RovaGStreamerEngine::generation() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->generation;
}

void RovaGStreamerEngine::postToSelf(int kind)
{
    QCoreApplication::postEvent(this, new EngineEvent(EventKind(kind), generation()));
}

// Called with the shared mutex held, once the run is off.
void RovaGStreamerEngine::waitForDrainedHandlers()
{
    QDeadlineTimer deadline(drainedWaitMs);
    while (m_shared->draining > 0 && m_shared->drainingDone.wait(&m_shared->mutex, deadline)) {
    }
    if (m_shared->draining > 0)
        qCWarning(lcRovaGStreamer) << "A streaming thread is still moving to the next item after" << drainedWaitMs
                                   << "ms: stopping anyway";
    m_shared->draining = 0;
}

void RovaGStreamerEngine::resetPipeline()
{
    m_drainCheck.stop();
    m_failedNext.clear();
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->running = false;
        ++m_shared->releases;
        m_shared->nextUri.clear();
        m_shared->nextExpected = false;
        m_shared->handedOver.clear();
        m_shared->failedUri.clear();
        m_shared->hintChanged.wakeAll();
        waitForDrainedHandlers();
    }
    if (m_pipeline) {
        const bool ran = GST_STATE(m_pipeline) != GST_STATE_NULL;
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        for (const QString& file : ran ? std::as_const(m_wavFiles) : QStringList())
            closeWavFile(file);
    }
    {
        QMutexLocker lock(&m_shared->mutex);
        ++m_shared->generation;
    }
    m_confirm = Confirm::Nothing;
    m_start = Start::Idle;
    m_seekPending = false;
    m_started = false;
    m_atEos = false;
}

void RovaGStreamerEngine::play(const QUrl& uri, qint64 startMs, bool startPaused, bool hintExpected)
{
    resetPipeline();
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->nextExpected = hintExpected;
        m_shared->expectAfterNext = false;
    }
    startStream(uri, startMs, startPaused, CurrentItem);
}

void RovaGStreamerEngine::startStream(const QUrl& uri, qint64 startMs, bool startPaused, Item item)
{
    m_currentUri = uri;
    m_item = item;
    if (!m_pipeline) {
        fail(RovaError::RendererCannotPlay, QStringLiteral("GStreamer has no playbin"), uri);
        return;
    }
    const QByteArray encoded = uri.toEncoded();
    if (!uri.isValid() || uri.scheme().isEmpty()
        || !gst_uri_protocol_is_supported(GST_URI_SRC, uri.scheme().toLatin1().constData())) {
        fail(RovaError::RendererInvalidUri, QStringLiteral("no way to read this URI"), uri);
        return;
    }
    RovaError problem;
    if (!checkUri(encoded, &problem)) {
        fail(problem.code(), problem.message(), uri);
        return;
    }
    if (m_sinkChanged) {
        QString message;
        GstElement* sink = makeSink(m_sinkDescription, &message);
        if (!sink) {
            fail(RovaError::RendererDeviceUnavailable,
                 QStringLiteral("audio sink \"%1\": %2").arg(m_sinkDescription, message), uri);
            return;
        }
        m_wavFiles = prepareSink(sink);
        g_object_set(m_pipeline, "audio-sink", sink, nullptr);
        gst_object_unref(sink);
        m_sinkChanged = false;
    }
    g_object_set(m_pipeline, "uri", encoded.constData(), nullptr);
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->running = true;
    }
    m_startMs = qMax<qint64>(0, startMs);
    if (m_startMs > 0) {
        m_start = Start::Prerolling;
        m_target = startPaused ? GST_STATE_PAUSED : GST_STATE_PLAYING;
        m_confirm = startPaused ? Confirm::Paused : Confirm::Playing;
        if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
            postToSelf(StartFailed);
        return;
    }
    setTarget(startPaused ? GST_STATE_PAUSED : GST_STATE_PLAYING, startPaused ? Confirm::Paused : Confirm::Playing);
}

void RovaGStreamerEngine::setTarget(int state, Confirm confirm)
{
    m_target = state;
    m_confirm = confirm;
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(m_pipeline, &current, &pending, 0);
    if (current == state && pending == GST_STATE_VOID_PENDING) {
        postToSelf(Confirmation); // already there: no state change message will come
        return;
    }
    if (gst_element_set_state(m_pipeline, GstState(state)) == GST_STATE_CHANGE_FAILURE)
        postToSelf(StartFailed); // after the error message this call has posted, if any
}

void RovaGStreamerEngine::pause()
{
    if (!m_pipeline || GST_STATE_TARGET(m_pipeline) < GST_STATE_PAUSED) {
        m_confirm = Confirm::Paused; // nothing runs, so nothing plays
        postToSelf(Confirmation);
        return;
    }
    if (m_start != Start::Idle) {
        m_target = GST_STATE_PAUSED;
        m_confirm = Confirm::Paused;
        return;
    }
    setTarget(GST_STATE_PAUSED, Confirm::Paused);
}

void RovaGStreamerEngine::resume()
{
    if (!m_pipeline || GST_STATE_TARGET(m_pipeline) < GST_STATE_PAUSED) {
        postToSelf(Stopped); // nothing to resume
        return;
    }
    if (m_start != Start::Idle) {
        m_target = GST_STATE_PLAYING;
        m_confirm = Confirm::Resumed;
        return;
    }
    m_atEos = false;
    setTarget(GST_STATE_PLAYING, Confirm::Resumed);
}

void RovaGStreamerEngine::stop()
{
    resetPipeline();
    m_currentUri.clear();
    postToSelf(Stopped);
}

void RovaGStreamerEngine::seek(qint64 ms, bool keyFrame)
{
    if (!m_pipeline)
        return;
    const qint64 length = duration();
    ms = qMax<qint64>(0, length >= 0 ? qMin(ms, length) : ms);
    if (m_start == Start::Prerolling) {
        m_startMs = ms; // the start seek will go there
        m_seekPending = true;
        return;
    }
    {
        // A flushing seek needs the streaming thread: release a waiting about-to-finish.
        QMutexLocker lock(&m_shared->mutex);
        m_shared->seeking = true;
        m_shared->hintChanged.wakeAll();
    }
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH
                                    | (keyFrame ? GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_NEAREST
                                                : GST_SEEK_FLAG_ACCURATE));
    const bool sought = seekPipeline(ms, flags);
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->seeking = false;
    }
    if (!sought) {
        Q_EMIT failed(RovaError::RendererCannotSetPosition,
                      QStringLiteral("Cannot seek in %1").arg(QString::fromUtf8(m_currentUri.toEncoded())));
        return;
    }
    m_atEos = false;
    m_seekPending = true;
}

// Seeks the pipeline; the flushes of this seek pass on to the sink (streamData()).
bool RovaGStreamerEngine::seekPipeline(qint64 ms, int flags)
{
    GstEvent* event = gst_event_new_seek(1.0, GST_FORMAT_TIME, GstSeekFlags(flags), GST_SEEK_TYPE_SET, ms * GST_MSECOND,
                                         GST_SEEK_TYPE_NONE, -1);
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->seeks.append(gst_event_get_seqnum(event));
        if (m_shared->seeks.size() > 8)
            m_shared->seeks.removeFirst();
    }
    return gst_element_send_event(m_pipeline, event);
}

void RovaGStreamerEngine::setNextUri(const QUrl& uri, bool expectMoreAfter)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->nextUri = uri.toEncoded();
        m_shared->expectAfterNext = expectMoreAfter;
        m_shared->hintChanged.wakeAll();
    }
    if (m_atEos) // too late to play on without a gap: start the next stream now
        handleEndOfStream();
}

bool RovaGStreamerEngine::clearNextUri(bool hintExpected)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->nextUri.clear();
    m_shared->nextExpected = hintExpected;
    m_shared->hintChanged.wakeAll();
    return m_shared->handedOver.isEmpty();
}

qint64 RovaGStreamerEngine::position() const
{
    gint64 value = -1;
    if (!m_pipeline || !gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &value) || value < 0)
        return -1;
    return value / GST_MSECOND;
}

qint64 RovaGStreamerEngine::duration() const
{
    gint64 value = -1;
    if (!m_pipeline || !gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &value) || value < 0)
        return -1;
    return value / GST_MSECOND;
}

bool RovaGStreamerEngine::setAudioSink(const QString& description, QString* errorMessage)
{
    const QString wanted = description.trimmed().isEmpty() ? DEFAULT_AUDIO_SINK : description.trimmed();
    QString message;
    GstElement* sink = makeSink(wanted, &message);
    if (!sink) {
        if (errorMessage)
            *errorMessage = message;
        return false;
    }
    gst_object_unref(sink);
    m_sinkChanged = m_sinkChanged || wanted != m_sinkDescription;
    m_sinkDescription = wanted;
    return true;
}

double RovaGStreamerEngine::volume() const
{
    gdouble value = 1.0;
    if (m_pipeline)
        g_object_get(m_pipeline, "volume", &value, nullptr);
    return value;
}

bool RovaGStreamerEngine::setVolume(double volume)
{
    if (!m_pipeline || !(volume >= 0.0 && volume <= 1.0))
        return false;
    g_object_set(m_pipeline, "volume", gdouble(volume), nullptr);
    return true;
}

bool RovaGStreamerEngine::event(QEvent* event)
{
    if (event->type() != engineEventType())
        return QObject::event(event);
    const auto* e = static_cast<EngineEvent*>(event);
    if (e->generation != generation())
        return true; // from a pipeline run that has ended
    switch (e->kind) {
    case BusMessage:
        handleMessage(e->message);
        break;
    case NextTaken:
        Q_EMIT nextUriTaken(QUrl::fromEncoded(e->uri));
        break;
    case Confirmation:
        if (m_confirm == Confirm::Paused) {
            m_confirm = Confirm::Nothing;
            Q_EMIT paused();
        } else if (m_confirm == Confirm::Resumed) {
            m_confirm = Confirm::Nothing;
            Q_EMIT resumed();
        } else if (m_confirm == Confirm::Playing) {
            m_confirm = Confirm::Nothing;
            Q_EMIT playing(m_item);
        }
        break;
    case Stopped:
        Q_EMIT stopped();
        break;
    case StartFailed:
        fail(RovaError::RendererCannotPlay, QStringLiteral("the pipeline did not start"), m_currentUri);
        break;
    case Failure:
        Q_EMIT failed(e->error.code(), e->error.message());
        Q_EMIT stopped();
        break;
    }
    return true;
}

void RovaGStreamerEngine::handleMessage(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED:
        handleStateChanged(message);
        break;
    case GST_MESSAGE_ASYNC_DONE:
        handleAsyncDone();
        break;
    case GST_MESSAGE_STREAM_START:
        handleStreamStart();
        break;
    case GST_MESSAGE_EOS:
        handleEndOfStream();
        break;
    case GST_MESSAGE_ERROR:
        handleError(message);
        break;
    case GST_MESSAGE_WARNING: {
        GError* error = nullptr;
        gst_message_parse_warning(message, &error, nullptr);
        qCWarning(lcRovaGStreamer).noquote() << GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) << takeErrorMessage(error);
        break;
    }
    default:
        break;
    }
}

void RovaGStreamerEngine::handleStateChanged(GstMessage* message)
{
    GstState oldState, newState, pending;
    gst_message_parse_state_changed(message, &oldState, &newState, &pending);
    if (pending != GST_STATE_VOID_PENDING || newState != m_target || m_start != Start::Idle)
        return;
    const Confirm confirm = std::exchange(m_confirm, Confirm::Nothing);
    if (confirm == Confirm::Playing)
        Q_EMIT playing(m_item);
    else if (confirm == Confirm::Resumed && newState == GST_STATE_PLAYING)
        Q_EMIT resumed();
    else if (confirm == Confirm::Paused && newState == GST_STATE_PAUSED)
        Q_EMIT paused();
}

void RovaGStreamerEngine::handleAsyncDone()
{
    if (m_start == Start::Prerolling) {
        m_start = Start::Seeking;
        if (seekPipeline(m_startMs, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE))
            return;
        qCWarning(lcRovaGStreamer) << "Cannot start" << m_currentUri << "at" << m_startMs << "ms: playing from the start";
    }
    if (m_start == Start::Seeking) {
        m_start = Start::Idle;
        setTarget(m_target, m_confirm);
    }
    if (std::exchange(m_seekPending, false))
        Q_EMIT seeked();
}

void RovaGStreamerEngine::handleStreamStart()
{
    if (!m_started) {
        m_started = true; // the first stream of this run: playing() follows with the state
        return;
    }
    QByteArray uri;
    {
        QMutexLocker lock(&m_shared->mutex);
        if (m_shared->handedOver.isEmpty())
            return;
        uri = m_shared->handedOver.takeFirst();
    }
    m_currentUri = QUrl::fromEncoded(uri);
    Q_EMIT playing(NextItem);
}

void RovaGStreamerEngine::handleEndOfStream()
{
    QByteArray next;
    QByteArray failedUri;
    RovaError failure;
    {
        QMutexLocker lock(&m_shared->mutex);
        failedUri = std::exchange(m_shared->failedUri, QByteArray());
        failure = m_shared->failure;
        next = std::exchange(m_shared->nextUri, QByteArray());
        if (!next.isEmpty()) {
            m_shared->nextExpected = m_shared->expectAfterNext;
            m_shared->expectAfterNext = false;
        }
    }
    if (!m_failedNext.isEmpty()) {
        failDrainedNext();
        return;
    }
    if (!failedUri.isEmpty()) { // the current stream has played to its end
        fail(failure.code(), failure.message(), QUrl::fromEncoded(failedUri));
        return;
    }
    if (next.isEmpty()) {
        const bool alreadyAtEos = std::exchange(m_atEos, true);
        if (!alreadyAtEos)
            Q_EMIT endOfStream();
        return;
    }
    // The hint came too late for about-to-finish: play it now, with a gap.
    const bool expected = [this] {
        QMutexLocker lock(&m_shared->mutex);
        return m_shared->nextExpected;
    }();
    const bool keepPaused = m_target == GST_STATE_PAUSED;
    resetPipeline();
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->nextExpected = expected;
    }
    startStream(QUrl::fromEncoded(next), 0, keepPaused, NextItem);
}

void RovaGStreamerEngine::handleError(GstMessage* message)
{
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    const auto raisedIn = [this, message](const char* property) {
        GstElement* element = nullptr;
        g_object_get(m_pipeline, property, &element, nullptr);
        const bool inside = element && gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(element));
        if (element)
            gst_object_unref(element);
        return inside;
    };
    const Origin origin = raisedIn("audio-sink") ? Origin::Sink : raisedIn("source") ? Origin::Source : Origin::Elsewhere;
    const RovaError::Code code = errorCode(error, origin);
    qCDebug(lcRovaGStreamer) << "error from" << GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) << debug;
    g_free(debug);
    QUrl uri = m_currentUri;
    bool nextFailed = false;
    {
        // A failing next stream has been handed over but has not started.
        QMutexLocker lock(&m_shared->mutex);
        if (!m_shared->handedOver.isEmpty()) {
            uri = QUrl::fromEncoded(m_shared->handedOver.first());
            nextFailed = true;
        }
    }
    if (!nextFailed) {
        fail(code, takeErrorMessage(error), uri);
        return;
    }
    // The current stream still plays what it has: fail once it has rendered
    // all of it (its end of stream never comes, as the next one was to follow).
    if (m_failedNext.isEmpty()) {
        m_failedNext = uri;
        m_nextFailure = RovaError(code, takeErrorMessage(error));
        m_drainedAt = -2;
        m_stalledChecks = 0;
        m_drainCheck.start();
    } else if (error) {
        g_error_free(error);
    }
}

void RovaGStreamerEngine::checkDrained()
{
    // At its end, or still: once that has lasted a second, every branch of the
    // sink has had the time to write out what it holds.
    const qint64 now = position();
    const qint64 length = duration();
    const bool atEnd = now == m_drainedAt || (length > 0 && now >= length);
    m_drainedAt = now;
    m_stalledChecks = GST_STATE(m_pipeline) == GST_STATE_PLAYING && atEnd ? m_stalledChecks + 1 : 0;
    if (m_stalledChecks >= 10)
        failDrainedNext();
}

void RovaGStreamerEngine::failDrainedNext()
{
    const QUrl uri = m_failedNext;
    const RovaError failure = m_nextFailure;
    fail(failure.code(), failure.message(), uri);
}

void RovaGStreamerEngine::fail(RovaError::Code code, const QString& detail, const QUrl& uri)
{
    resetPipeline();
    m_currentUri.clear();
    QCoreApplication::postEvent(this, new EngineEvent(generation(), code,
                                                      QStringLiteral("Cannot play %1: %2")
                                                          .arg(QString::fromUtf8(uri.toEncoded()), detail)));
}
