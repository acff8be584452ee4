// SPDX-License-Identifier: LGPL-2.1-or-later
// The GStreamer renderer plugin, loaded through the registry, playing tones
// made here with GStreamer from a playlist looked up in a local Tracker store.
#include "rovatrackerfixture.h"

#include <rovabasicrenderer.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovaplugincontrolinterface.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <gst/gst.h>

using namespace Qt::StringLiterals;

namespace {

struct Tone { int frequency; int frames; };
const QList<Tone> shortTones = {{440, 22050}, {660, 13230}, {880, 17640}}; // 0.5, 0.3, 0.4 s
const QList<Tone> longTones = {{440, 176400}, {660, 176400}, {880, 176400}}; // 4 s each
const QString sinkKey = u"audio-sink"_s;
const QString realTimeSink = u"fakesink sync=true"_s;

// An S16 mono file of what was played.
QString wavSink(const QString& path)
{
    return u"audioconvert ! audio/x-raw,format=S16LE,channels=1 ! wavenc ! filesink location=\"%1\""_s.arg(path);
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

// The samples of a mono S16 WAV file's data chunk.
QList<qint16> readWav(const QString& path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        if (bytes.mid(at, 4) == "data") {
            QList<qint16> samples(qMin<qsizetype>(size, bytes.size() - at - 8) / 2);
            memcpy(samples.data(), bytes.constData() + at + 8, samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// The frequency of samples [from, to), from the number of sign changes.
int frequency(const QList<qint16>& samples, qsizetype from, qsizetype to)
{
    int changes = 0;
    for (qsizetype i = qMax<qsizetype>(from, 1); i < qMin(to, samples.size()); ++i)
        changes += (samples[i - 1] < 0) != (samples[i] < 0);
    return int(qRound(changes / 2.0 * 44100 / qMax<qsizetype>(1, to - from) / 10.0) * 10);
}

} // namespace

class tst_RovaGStreamerRenderer : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void statusResults(QString, uint, int state, QString) { m_state = state; }
    void positionResults(uint seconds) { m_answers << u"position %1"_s.arg(seconds); }
    void mediaInfoResults(const RovaMediaInfo& info)
    {
        m_answers << u"duration %1"_s.arg(info.firstMetaData(u"duration"_s).toInt());
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RovaTrackerFixture> m_store;
    QPointer<RovaBasicRenderer> m_renderer;
    RovaPluginControlInterface* m_control = nullptr;
    QStringList m_answers;
    int m_state = -1;

    QString file(const QString& name) const { return m_dir.filePath(name); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(file(name)); }

    // A playlist over the store items of \a format (made current item 0 on assignment).
    std::unique_ptr<RovaGeneralSourcePlaylist> playlist(const QString& format, QStringListModel& model)
    {
        model.setStringList({"urn:tone:"_L1 + format + ":0"_L1, "urn:tone:"_L1 + format + ":1"_L1,
                             "urn:tone:"_L1 + format + ":2"_L1});
        auto list = std::make_unique<RovaGeneralSourcePlaylist>(RovaPlaylist::getNewPlaylistId(), format,
                                                                RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
        list->setUnderlyingModel(&model);
        return list;
    }

    // Each tone of \a tones where it belongs in \a samples.
    static QList<int> heardTones(const QList<qint16>& samples, const QList<Tone>& tones)
    {
        QList<int> heard;
        qsizetype start = 0;
        for (const Tone& tone : tones) {
            heard << frequency(samples, start + 441, start + tone.frames - 441); // 10 ms off each boundary
            start += tone.frames;
        }
        return heard;
    }

private Q_SLOTS:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        QVERIFY(m_dir.isValid());
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(proxy); // the unreachable URI is on this machine
        QString insert = u"INSERT DATA {"_s;
        const QStringList formats = {u"wav"_s, u"flac"_s, u"ogg"_s, u"long"_s};
        const QStringList encoders = {u"wavenc"_s, u"flacenc"_s, u"audioconvert ! vorbisenc ! oggmux"_s, u"wavenc"_s};
        for (int f = 0; f < formats.size(); ++f) {
            for (int i = 0; i < 3; ++i) {
                const Tone tone = (f == 3 ? longTones : shortTones)[i];
                const QString name = u"tone%1.%2"_s.arg(i).arg(formats[f]);
                QVERIFY(runPipeline(u"audiotestsrc freq=%1 samplesperbuffer=441 num-buffers=%2 ! "
                                    "audio/x-raw,format=S16LE,rate=44100,channels=1 ! taginject "
                                    "tags=\"title=Tone-%3,artist=Rova,album=Tones,track-number=(uint)%3\" ! %4 ! "
                                    "filesink location=\"%5\""_s.arg(tone.frequency).arg(tone.frames / 441)
                                    .arg(i + 1).arg(encoders[f], file(name))));
                insert += u"<urn:tone:%1:%2> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"%3\" ."_s
                              .arg(formats[f]).arg(i).arg(QString::fromUtf8(url(name).toEncoded()));
            }
        }
        insert += u"<urn:tone:broken> a nfo:FileDataObject ; nie:url \"%1\" ."_s
                      .arg(QString::fromUtf8(url(u"missing.wav"_s).toEncoded()));
        m_store = std::make_unique<RovaTrackerFixture>(0);
        QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
        m_store->makeDefault();
        QSparqlConnection connection(u"QTRACKER"_s);
        std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(insert + u"}"_s,
                                                                               QSparqlQuery::InsertStatement)));
        QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));

        RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
        registry->loadPlugins();
        m_renderer = qobject_cast<RovaBasicRenderer*>(registry->renderer(u"RovaGStreamerRenderer"_s));
        m_control = registry->pluginControlInterface(u"qrova-gstreamer-renderer"_s);
        QVERIFY(m_renderer && m_control);
        QCOMPARE(m_control->setting(sinkKey).toString(), u"autoaudiosink"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Invalid audio sink description"_s));
        QVERIFY(!m_control->setSetting(sinkKey, u"nosuchelement ! fakesink"_s));
        QVERIFY(m_control->setSetting(u"volume"_s, 0.5));
        QCOMPARE(m_control->setting(u"volume"_s).toDouble(), 0.5);
    }

    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        m_answers.clear();
        m_renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true);
    }

    void cleanup()
    {
        if (!m_renderer)
            return;
        m_renderer->stop(); // every case starts from a stopped renderer with nothing in flight
        m_state = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (m_renderer->getStatus(this, SLOT(statusResults(QString, uint, int, QString))), m_state == 0), 20000);
    }

    // The whole playlist into a file: every item once, in order, no sample lost or added.
    void shouldPlayPlaylistWithoutGaps_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("tolerance"); // samples a lossy codec may add or drop
        QTest::newRow("WAV") << u"wav"_s << 0;
        QTest::newRow("FLAC") << u"flac"_s << 0;
        QTest::newRow("Ogg Vorbis") << u"ogg"_s << 2048;
    }
    void shouldPlayPlaylistWithoutGaps()
    {
        QFETCH(QString, format);
        QFETCH(int, tolerance);
        QVERIFY(m_control->setSetting(sinkKey, wavSink(file(format + u"-out.wav"_s))));
        QStringListModel model;
        auto list = playlist(format, model);
        QSignalSpy media(m_renderer, &RovaRenderer::mediaChanged);
        QSignalSpy completed(m_renderer, &RovaRenderer::playbackCompleted);
        m_renderer->assignPlaylist(list.get());
        m_renderer->play();
        QVERIFY(completed.wait(20000));
        QStringList indexes;
        for (const QList<QVariant>& args : media)
            indexes << args.at(0).toString();
        QCOMPARE(indexes.join(u','), u"0,1,2"_s);
        const QList<qint16> samples = readWav(file(format + u"-out.wav"_s));
        QVERIFY2(qAbs(samples.size() - (22050 + 13230 + 17640)) <= tolerance, qPrintable(QString::number(samples.size())));
        QCOMPARE(heardTones(samples, shortTones), QList<int>({440, 660, 880}));
    }

    // Without auto-advance each play() plays one item and ends.
    void shouldPlayOneItemAtATimeWithoutAutoAdvance()
    {
        m_renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, false);
        QVERIFY(m_control->setSetting(sinkKey, wavSink(file(u"single.wav"_s))));
        QStringListModel model;
        auto list = playlist(u"flac"_s, model);
        QSignalSpy completed(m_renderer, &RovaRenderer::playbackCompleted);
        m_renderer->assignPlaylist(list.get());
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                m_renderer->next();
            m_renderer->play();
            QVERIFY(completed.wait(20000));
            const QList<qint16> samples = readWav(file(u"single.wav"_s));
            QCOMPARE(samples.size(), shortTones[i].frames);
            QCOMPARE(heardTones(samples, {shortTones[i]}), QList<int>({shortTones[i].frequency}));
        }
    }

    // Commands while playing in real time, each confirmed once GStreamer got there.
    void shouldConfirmCommandsInOrder()
    {
        QVERIFY(m_control->setSetting(sinkKey, realTimeSink));
        QStringListModel model;
        auto list = playlist(u"long"_s, model);
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        QSignalSpy media(m_renderer, &RovaRenderer::mediaChanged);
        QSignalSpy seeking(m_renderer, &RovaBasicRenderer::rendererSeeking);
        m_renderer->assignPlaylist(list.get());
        const auto reach = [&](RovaRenderer::State state) {
            QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && states.last().at(0).value<RovaRenderer::State>() == state, 20000);
        };
        m_renderer->play();
        reach(RovaRenderer::Playing);
        m_renderer->pause();
        reach(RovaRenderer::Paused);
        for (int seconds : {-5, 3}) { // clamped to the item
            m_renderer->setPosition(seconds, seconds < 0 ? RovaRenderer::SeekKeyFrame : RovaRenderer::SeekAccurate);
            QVERIFY(seeking.wait(20000));
            QVERIFY(m_renderer->getPosition(this, SLOT(positionResults(uint))));
        }
        QVERIFY(m_renderer->getCurrentMediaInfo(this, SLOT(mediaInfoResults(RovaMediaInfo)), u"duration"_s));
        QTRY_COMPARE(m_answers, QStringList({u"position 0"_s, u"position 3"_s, u"duration 4"_s}));
        m_renderer->resume();
        reach(RovaRenderer::Playing);
        m_renderer->next();
        QTRY_COMPARE_WITH_TIMEOUT(media.size(), 2, 20000);
        reach(RovaRenderer::Playing);
        m_renderer->previous();
        QTRY_COMPARE_WITH_TIMEOUT(media.size(), 3, 20000);
        reach(RovaRenderer::Playing);
        m_renderer->stop();
        reach(RovaRenderer::Stopped);
        m_renderer->pauseAt(2);
        reach(RovaRenderer::Paused);
        QVERIFY(m_renderer->getPosition(this, SLOT(positionResults(uint))));
        QTRY_COMPARE(m_answers.last(), u"position 2"_s);
        QStringList seen;
        for (const QList<QVariant>& args : states)
            seen << QString::number(args.at(0).toInt());
        QCOMPARE(seen.join(u','), u"3,1,2,1,3,1,3,1,0,3,2"_s);
        QCOMPARE(media.at(1).at(0).toInt(), 1);
        QCOMPARE(media.at(2).at(0).toInt(), 0);
    }

    // A failure names the URI, ends in Stopped, and the next command plays.
    void shouldReportErrorsAndStayUsable_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("sink");
        QTest::addColumn<int>("code");
        QTest::newRow("missing file") << url(u"missing.wav"_s).toString() << realTimeSink
                                      << int(RovaError::RendererMediaNotFound);
        QTest::newRow("not media") << url(u"tone0.txt"_s).toString() << realTimeSink
                                   << int(RovaError::RendererUnsupportedType);
        QTest::newRow("unreachable") << u"http://127.0.0.1:9/tone.ogg"_s << realTimeSink
                                     << int(RovaError::RendererUriNotAvailable);
        QTest::newRow("unknown scheme") << u"nosuchscheme://host/tone.ogg"_s << realTimeSink
                                        << int(RovaError::RendererInvalidUri);
        QTest::newRow("no audio device") << url(u"tone0.wav"_s).toString()
                                         << wavSink(file(u"no/such/dir/out.wav"_s))
                                         << int(RovaError::RendererDeviceUnavailable);
    }
    void shouldReportErrorsAndStayUsable()
    {
        QFETCH(QString, uri);
        QFETCH(QString, sink);
        QFETCH(int, code);
        QFile text(file(u"tone0.txt"_s));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a sound\n") > 0);
        text.close();
        QVERIFY(m_control->setSetting(sinkKey, sink));
        QSignalSpy errors(m_renderer, &RovaRenderer::error);
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        m_renderer->play(QUrl(uri));
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && states.last().at(0).toInt() == RovaRenderer::Stopped, 20000);
        QCOMPARE(errors.size(), 1);
        const RovaError error = errors.at(0).at(0).value<RovaError>();
        QCOMPARE(int(error.code()), code);
        QVERIFY2(error.message().contains(uri), qPrintable(error.message()));

        QVERIFY(m_control->setSetting(sinkKey, realTimeSink));
        m_renderer->play(url(u"tone0.long"_s));
        QTRY_VERIFY_WITH_TIMEOUT(states.last().at(0).toInt() == RovaRenderer::Playing, 20000);
        m_renderer->stop();
        QTRY_VERIFY_WITH_TIMEOUT(states.last().at(0).toInt() == RovaRenderer::Stopped, 20000);
        QCOMPARE(errors.size(), 1);
    }

    // A next item that cannot be played ends playback with an error naming it.
    void shouldNameTheNextItemThatFails()
    {
        QVERIFY(m_control->setSetting(sinkKey, wavSink(file(u"broken-out.wav"_s))));
        QStringListModel model;
        auto list = playlist(u"wav"_s, model);
        model.setData(model.index(1), u"urn:tone:broken"_s); // a file that is gone, between two that are there
        QSignalSpy errors(m_renderer, &RovaRenderer::error);
        m_renderer->assignPlaylist(list.get());
        m_renderer->play();
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 20000);
        const RovaError error = errors.at(0).at(0).value<RovaError>();
        QCOMPARE(int(error.code()), int(RovaError::RendererMediaNotFound));
        QVERIFY2(error.message().contains(url(u"missing.wav"_s).toString()), qPrintable(error.message()));
    }

    // Last: the renderer goes while its pipeline runs.
    void shouldBeDeletedWhilePlaying()
    {
        QVERIFY(m_control->setSetting(sinkKey, realTimeSink));
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        m_renderer->play(url(u"tone1.long"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && states.last().at(0).toInt() == RovaRenderer::Playing, 20000);
        delete m_renderer;
        QVERIFY(RovaInternalRegistry::internalInstance()->renderers().isEmpty());
        QCOMPARE(m_control->setting(sinkKey), QVariant());
    }
};

QTEST_GUILESS_MAIN(tst_RovaGStreamerRenderer)
#include "tst_rovagstreamerrenderer.moc"
