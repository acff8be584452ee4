// SPDX-License-Identifier: LGPL-2.1-or-later
// The GStreamer renderer in real time, rendering into a clock-synchronised
// fake sink: samples lost or inserted at each item boundary with the next-item
// hint against stop-then-play, the time from play() to the first rendered
// buffer, the time from the renderer's ready-for-next moment (its
// rendererPlaying()) to the hint reaching the pipeline, and the longest stop()
// in bursts of starts whose next-item hint never comes.
#include "rovagstreamerengine.h"
#include "rovagstreamerrenderer.h"
#include "rovatrackerfixture.h"

#include <rovageneralsourceplaylist.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QLoggingCategory>
#include <QMutex>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTest>

#include <gst/gst.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const int rate = 44100;
const int itemFrames = 22050; // 0.5 s
const int itemCount = 4;

qint64 now()
{
    return qint64(g_get_monotonic_time()) * 1000; // ns, the system clock's time base
}

bool runPipeline(const QString& description)
{
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstMessage* end = gst_bus_timed_pop_filtered(GST_ELEMENT_BUS(pipeline), 30 * GST_SECOND,
                                                 GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end)
        gst_message_unref(end);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

// One rendered stream: when its first sample and the end of its last were due on the clock.
struct Stream
{
    QByteArray id;
    qint64 start = -1;
    qint64 end = -1;
    qint64 firstRenderedAt = -1; // monotonic time of the first handoff
};

// The renderer with timestamps where the benchmark needs them.
class MeasuredRenderer : public RovaGStreamerRenderer
{
public:
    MeasuredRenderer()
    {
        connect(this, &RovaBasicRenderer::rendererPlaying, this, [this] { readyAt = now(); });
    }

    QMutex mutex;
    QList<Stream> streams;
    qint64 readyAt = -1;
    QList<qint64> hintDelays; // ns from ready-for-next to the hint stored for about-to-finish

protected:
    using RovaGStreamerRenderer::doNextHint;
    using RovaGStreamerRenderer::doPlay;
    void doPlay(const RovaMediaInfo& mediaInfo) override
    {
        RovaGStreamerRenderer::doPlay(mediaInfo);
        GstElement* bin = nullptr;
        g_object_get(engine()->pipeline(), "audio-sink", &bin, nullptr);
        GstElement* sink = bin ? gst_bin_get_by_name(GST_BIN(bin), "benchsink") : nullptr;
        if (sink && !g_signal_handler_find(sink, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this))
            g_signal_connect(sink, "handoff", G_CALLBACK(handoff), this);
        if (sink)
            gst_object_unref(sink);
        if (bin)
            gst_object_unref(bin);
    }
    bool doNextHint(const RovaMediaInfo& mediaInfo) override
    {
        const bool result = RovaGStreamerRenderer::doNextHint(mediaInfo);
        if (!mediaInfo.firstMetaData(u"uri"_s).toString().isEmpty() && readyAt >= 0)
            hintDelays << now() - std::exchange(readyAt, -1);
        return result;
    }

private:
    // A streaming thread, once the buffer's time has come.
    static void handoff(GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer data)
    {
        auto* self = static_cast<MeasuredRenderer*>(data);
        GstEvent* started = gst_pad_get_sticky_event(pad, GST_EVENT_STREAM_START, 0);
        GstEvent* segmentEvent = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
        const gchar* id = nullptr;
        const GstSegment* segment = nullptr;
        gst_event_parse_stream_start(started, &id);
        gst_event_parse_segment(segmentEvent, &segment);
        const qint64 base = qint64(gst_element_get_base_time(sink));
        const qint64 start = base + qint64(gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer)));
        const qint64 end = start + qint64(GST_BUFFER_DURATION(buffer));
        {
            QMutexLocker lock(&self->mutex);
            if (self->streams.isEmpty() || self->streams.last().id != id)
                self->streams.append({QByteArray(id), start, end, now()});
            self->streams.last().end = end;
        }
        gst_event_unref(started);
        gst_event_unref(segmentEvent);
    }
};

} // namespace

class bench_RovaGStreamerRenderer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RovaTrackerFixture> m_store;
    QStringListModel m_model;
    std::unique_ptr<RovaGeneralSourcePlaylist> m_playlist;
    std::unique_ptr<MeasuredRenderer> m_renderer;

    void useFormat(const QString& format)
    {
        QStringList ids;
        for (int i = 0; i < itemCount; ++i)
            ids << u"urn:bench:%1:%2"_s.arg(format).arg(i);
        m_model.setStringList(ids);
        m_renderer->assignPlaylist(m_playlist.get());
    }

    bool rendered()
    {
        QMutexLocker lock(&m_renderer->mutex);
        return !m_renderer->streams.isEmpty();
    }

    QList<Stream> takeStreams()
    {
        QMutexLocker lock(&m_renderer->mutex);
        return std::exchange(m_renderer->streams, {});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(u"*.debug=false"_s);
        gst_init(nullptr, nullptr);
        QString insert = u"INSERT DATA {"_s;
        for (const QString& format : {u"wav"_s, u"flac"_s}) {
            for (int i = 0; i < itemCount; ++i) {
                const QString path = m_dir.filePath(u"tone%1.%2"_s.arg(i).arg(format));
                QVERIFY(runPipeline(u"audiotestsrc freq=%1 samplesperbuffer=441 num-buffers=%2 ! "
                                    "audio/x-raw,format=S16LE,rate=%3,channels=1 ! %4enc ! filesink location=\"%5\""_s
                                    .arg(440 + 110 * i).arg(itemFrames / 441).arg(rate).arg(format, path)));
                insert += u"<urn:bench:%1:%2> a nfo:FileDataObject ; nie:url \"%3\" ."_s
                              .arg(format).arg(i).arg(QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded()));
            }
        }
        m_store = std::make_unique<RovaTrackerFixture>(0);
        QVERIFY(m_store->isValid());
        m_store->makeDefault();
        QSparqlConnection connection(u"QTRACKER"_s);
        std::unique_ptr<QSparqlResult> result(
            connection.syncExec(QSparqlQuery(insert + u"}"_s, QSparqlQuery::InsertStatement)));
        QVERIFY(!result->hasError());

        m_renderer = std::make_unique<MeasuredRenderer>();
        m_playlist = std::make_unique<RovaGeneralSourcePlaylist>(RovaPlaylist::getNewPlaylistId(), u"bench"_s,
                                                                 RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
        m_playlist->setUnderlyingModel(&m_model);
        QVERIFY(m_renderer->engine()->setAudioSink(u"fakesink sync=true signal-handoffs=true name=benchsink"_s));
    }

    void cleanupTestCase()
    {
        m_renderer.reset();
    }

    // Samples between the end of one item and the start of the next on the
    // clock: 0 is gapless, more is silence inserted, less is audio lost.
    void boundarySamples_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("hints");
        QTest::newRow("WAV, next-item hint") << u"wav"_s << true;
        QTest::newRow("WAV, stop then play the next") << u"wav"_s << false;
        QTest::newRow("FLAC, next-item hint") << u"flac"_s << true;
        QTest::newRow("FLAC, stop then play the next") << u"flac"_s << false;
    }
    void boundarySamples()
    {
        QFETCH(QString, format);
        QFETCH(bool, hints);
        m_renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, hints);
        useFormat(format);
        QSignalSpy completed(m_renderer.get(), &RovaRenderer::playbackCompleted);
        takeStreams();
        m_renderer->play();
        for (int item = 0; item < (hints ? 1 : itemCount); ++item) {
            QVERIFY(completed.wait(10000));
            if (item + 1 < itemCount && !hints) {
                m_renderer->stop();
                m_renderer->next();
                m_renderer->play();
            }
        }
        const QList<Stream> streams = takeStreams();
        QCOMPARE(streams.size(), itemCount);
        QStringList gaps;
        qint64 total = 0;
        for (int i = 1; i < streams.size(); ++i) {
            const qint64 samples = qRound64(double(streams[i].start - streams[i - 1].end) * rate / GST_SECOND);
            gaps << QString::number(samples);
            total += qAbs(samples);
        }
        qInfo().noquote() << "samples at each boundary:" << gaps.join(u", "_s);
        QTest::setBenchmarkResult(qreal(total) / (itemCount - 1), QTest::Events);
    }

    // From play() to the first buffer rendered, over ten starts from Stopped.
    void playToFirstBuffer_data()
    {
        QTest::addColumn<bool>("playlist");
        QTest::newRow("playlist item, looked up in the store") << true;
        QTest::newRow("URI") << false;
    }
    void playToFirstBuffer()
    {
        QFETCH(bool, playlist);
        useFormat(u"wav"_s);
        QSignalSpy states(m_renderer.get(), &RovaRenderer::stateChanged);
        QList<qint64> delays;
        for (int run = 0; run < 10; ++run) {
            takeStreams();
            const qint64 start = now();
            if (playlist) {
                m_renderer->gotoIndex(0); // a fresh item: its URI is looked up again
                m_renderer->play();
            } else {
                m_renderer->play(QUrl::fromLocalFile(m_dir.filePath(u"tone0.wav"_s)));
            }
            QTRY_VERIFY_WITH_TIMEOUT(rendered(), 10000);
            delays << takeStreams().first().firstRenderedAt - start;
            m_renderer->stop();
            QTRY_VERIFY(states.last().at(0).toInt() == RovaRenderer::Stopped);
        }
        std::sort(delays.begin(), delays.end());
        qInfo("median %.2f ms, min %.2f ms, max %.2f ms", delays.at(delays.size() / 2) / 1e6, delays.first() / 1e6,
              delays.last() / 1e6);
        QTest::setBenchmarkResult(delays.at(delays.size() / 2) / 1e6, QTest::WalltimeMilliseconds);
    }

    // The longest stop() of 300 starts of a short item that expects a hint that
    // never comes: its about-to-finish waits for it, and a stop() must release
    // that wait whenever it comes, before or during the teardown.
    void stopWhileHintAwaited()
    {
        RovaGStreamerEngine engine;
        QVERIFY(engine.setAudioSink(u"fakesink sync=true"_s));
        const QUrl uri = QUrl::fromLocalFile(m_dir.filePath(u"tone0.wav"_s));
        QList<qint64> stops;
        for (int run = 0; run < 300; ++run) {
            engine.play(uri, 0, false, true);
            QTest::qWait(run % 7); // lets the start reach about-to-finish, or not
            const qint64 start = now();
            engine.stop();
            stops << now() - start;
        }
        std::sort(stops.begin(), stops.end());
        qInfo("median %.2f ms, max %.2f ms", stops.at(stops.size() / 2) / 1e6, stops.last() / 1e6);
        QTest::setBenchmarkResult(stops.last() / 1e6, QTest::WalltimeMilliseconds);
    }

    // From the renderer's rendererPlaying() (the base then looks the next item
    // up) to the next item's URI stored for about-to-finish; median of the
    // boundaries of four playlist runs.
    void readyForNextToHint()
    {
        m_renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true);
        useFormat(u"flac"_s);
        QSignalSpy completed(m_renderer.get(), &RovaRenderer::playbackCompleted);
        m_renderer->hintDelays.clear();
        for (int run = 0; run < 4; ++run) {
            m_renderer->play();
            QVERIFY(completed.wait(10000));
            m_renderer->stop();
            m_renderer->gotoIndex(0);
        }
        QList<qint64> delays = m_renderer->hintDelays;
        QCOMPARE(delays.size(), 4 * (itemCount - 1));
        std::sort(delays.begin(), delays.end());
        qInfo("median %.3f ms, min %.3f ms, max %.3f ms", delays.at(delays.size() / 2) / 1e6, delays.first() / 1e6,
              delays.last() / 1e6);
        QTest::setBenchmarkResult(delays.at(delays.size() / 2) / 1e6, QTest::WalltimeMilliseconds);
    }
};

QTEST_GUILESS_MAIN(bench_RovaGStreamerRenderer)
#include "bench_rovagstreamerrenderer.moc"
