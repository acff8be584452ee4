// SPDX-License-Identifier: LGPL-2.1-or-later
// The GStreamer renderer plugin, loaded through the registry, playing tones made here with GStreamer from a playlist
// looked up in a local Tracker store.
#include "rovagstreamerengine.h"
#include "rovatrackerfixture.h"

#include <rovabasicrenderer.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovaplugincontrolinterface.h>

#include <QtSparql/QtSparql>

#include <QPointer>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>
#include <QtEndian>

#include <gst/gst.h>

#include <sys/stat.h>

#include <thread>

using namespace Qt::StringLiterals;

namespace {
struct Tone { int frequency; int frames; };
const QList<Tone> shortTones = {{440, 22050}, {660, 13230}, {880, 17640}}; // 0.5, 0.3, 0.4 s
const QList<Tone> longTones = {{440, 176400}, {660, 176400}, {880, 176400}}; // 4 s each
const QString sinkKey = u"audio-sink"_s;
const QString realTimeSink = u"fakesink sync=true"_s;
const QString fileSink = u"audioconvert ! audio/x-raw,format=S16LE,channels=1 ! filesink location=%1"_s; // raw S16 mono
const QString recordingSink = u"tee name=t t. ! queue ! fakesink sync=true t. ! queue ! wavenc ! filesink location=%1"_s;

// The frames in the WAV file at \a path; -1 when its RIFF or data size does not match its length.
qint64 wavFrames(const QString& path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto u32 = [&bytes](qsizetype at) { return qint64(qFromLittleEndian<quint32>(bytes.constData() + at)); };
    const qsizetype data = bytes.indexOf("data") + 8;
    if (bytes.size() < 44 || data < 44 || u32(4) != bytes.size() - 8 || data + u32(data - 4) > bytes.size())
        return -1;
    return u32(data - 4) / qFromLittleEndian<quint16>(bytes.constData() + 32);
}

// Per tone, the frequency in the samples of \a path (from the sign changes, 10 ms off each boundary); or their number
// when it is off by more than \a tolerance.
QString heard(const QString& path, const QList<Tone>& tones, int tolerance = 0)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto negative = [&bytes](qsizetype i) { return qFromLittleEndian<qint16>(bytes.constData() + 2 * i) < 0; };
    QStringList heard;
    qsizetype start = 0;
    for (const Tone& tone : tones) {
        int changes = 0;
        for (qsizetype i = start + 441; i < qMin(start + tone.frames - 441, bytes.size() / 2); ++i)
            changes += negative(i - 1) != negative(i);
        heard << QString::number(qRound(changes * 22050.0 / (tone.frames - 882) / 10) * 10);
        start += tone.frames;
    }
    return qAbs(bytes.size() / 2 - start) > tolerance ? u"%1 samples"_s.arg(bytes.size() / 2) : heard.join(u',');
}

QString joined(const QSignalSpy& spy)
{
    QStringList values;
    for (const QList<QVariant>& args : spy)
        values << QString::number(args.at(0).toInt());
    return values.join(u',');
}

int lastState(const QSignalSpy& states) { return states.isEmpty() ? -1 : states.last().at(0).toInt(); }
} // namespace

class tst_RovaGStreamerRenderer : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void statusResults(QString, uint, int state, QString) { m_answers << u"state %1"_s.arg(state); }
    void positionResults(uint seconds) { m_answers << u"position %1"_s.arg(seconds); }
    void mediaInfoResults(const RovaMediaInfo& info) { m_answers << u"duration %1"_s.arg(info.firstMetaData(u"duration"_s).toInt()); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RovaTrackerFixture> m_store;
    QPointer<RovaBasicRenderer> m_renderer;
    RovaPluginControlInterface* m_control = nullptr;
    QStringList m_answers;
    QStringListModel m_model; // the object ids of the playlist under test

    QString file(const QString& name) const { return m_dir.filePath(name); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(file(name)); }

    // An assigned playlist over the store items of \a format (current item 0).
    std::unique_ptr<RovaGeneralSourcePlaylist> playlist(const QString& format, const QString& second = {})
    {
        const QString tone = "urn:tone:"_L1 + format + ":%1"_L1;
        auto list = std::make_unique<RovaGeneralSourcePlaylist>(RovaPlaylist::getNewPlaylistId(), format,
                                                                RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
        m_model.setStringList({tone.arg(0), second.isEmpty() ? tone.arg(1) : second, tone.arg(2)});
        list->setUnderlyingModel(&m_model);
        m_renderer->assignPlaylist(list.get());
        return list;
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(proxy); // the unreachable URI is on this machine
        // Items that cannot be played: a file that is gone, a FIFO, a file that is no audio.
        QVERIFY(::mkfifo(QFile::encodeName(file(u"fifo.flac"_s)).constData(), 0644) == 0);
        QFile garbage(file(u"garbage.flac"_s));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(8192, '\x5a')) == 8192);
        QString insert = u"INSERT DATA {"_s;
        for (const QString& name : {u"missing"_s, u"fifo"_s, u"garbage"_s})
            insert += u"<urn:tone:%1> a nfo:FileDataObject ; nie:url \"%2\" ."_s.arg(name, QString::fromUtf8(url(name + u".flac"_s).toEncoded()));
        const QList<std::pair<QString, QString>> encoders = {
            {u"wav"_s, u"wavenc"_s}, {u"flac"_s, u"flacenc"_s}, {u"ogg"_s, u"audioconvert ! vorbisenc ! oggmux"_s}, {u"long"_s, u"wavenc"_s}};
        for (const auto& [format, encoder] : encoders) {
            for (int i = 0; i < 3; ++i) {
                const Tone tone = (format == "long"_L1 ? longTones : shortTones)[i];
                const QString name = u"tone%1.%2"_s.arg(i).arg(format);
                QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(
                             u"-q audiotestsrc freq=%1 samplesperbuffer=441 num-buffers=%2 ! audio/x-raw,format=S16LE,rate=44100,"
                             "channels=1 ! taginject tags=\"title=Tone-%3,artist=Rova,album=Tones,track-number=(uint)%3\" ! "
                             "%4 ! filesink location=%5"_s.arg(tone.frequency).arg(tone.frames / 441).arg(i + 1).arg(encoder, file(name)))), 0);
                insert += u"<urn:tone:%1:%2> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"%3\" ."_s
                              .arg(format).arg(i).arg(QString::fromUtf8(url(name).toEncoded()));
            }
        }
        m_store = std::make_unique<RovaTrackerFixture>(0);
        QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
        m_store->makeDefault();
        QSparqlConnection connection(u"QTRACKER"_s);
        std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(insert + u"}"_s, QSparqlQuery::InsertStatement)));
        QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));

        RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
        registry->loadPlugins();
        m_renderer = qobject_cast<RovaBasicRenderer*>(registry->renderer(u"RovaGStreamerRenderer"_s));
        m_control = registry->pluginControlInterface(u"qrova-gstreamer-renderer"_s);
        QVERIFY(m_renderer && m_control);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Invalid audio sink description"_s));
        QVERIFY(!m_control->setSetting(sinkKey, u"nosuchelement ! fakesink"_s));
        QCOMPARE(m_control->setting(sinkKey).toString(), u"autoaudiosink"_s); // unchanged
        QVERIFY(m_control->setSetting(u"volume"_s, 0.5)); // on the pipeline, read back from it
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
        QTRY_VERIFY_WITH_TIMEOUT(
            (m_renderer->getStatus(this, SLOT(statusResults(QString, uint, int, QString))), m_answers.endsWith(u"state 0"_s)), 20000);
    }

    // First: commands while playing in real time, each confirmed once GStreamer got there; also while recording in real
    // time, where the file branch cannot preroll on its own: pausing completes, and the file is closed when stopped.
    void shouldConfirmCommandsInOrder_data()
    {
        QTest::addColumn<QString>("sink");
        QTest::newRow("fake sink") << realTimeSink;
        QTest::newRow("recording") << recordingSink.arg(file(u"recording.wav"_s));
    }
    void shouldConfirmCommandsInOrder()
    {
        QFETCH(QString, sink);
        QVERIFY(m_control->setSetting(sinkKey, sink));
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        QSignalSpy media(m_renderer, &RovaRenderer::mediaChanged);
        QSignalSpy seeking(m_renderer, &RovaBasicRenderer::rendererSeeking);
        auto list = playlist(u"long"_s);
        QString seen;
        const auto step = [&](bool accepted, const QString& moreStates) {
            QVERIFY(accepted);
            seen += moreStates;
            // A renderer that never played reports Stopped first.
            QTRY_COMPARE_WITH_TIMEOUT(joined(states).remove(QRegularExpression(u"^0,"_s)), seen, 20000);
        };
        step(m_renderer->play(), u"3,1"_s);
        step(m_renderer->pause(), u",2"_s);
        if (sink != realTimeSink) {
            step(m_renderer->resume(), u",1"_s);
            step(m_renderer->pause(), u",2"_s);
            step(m_renderer->stop(), u",0"_s);
            QVERIFY(wavFrames(file(u"recording.wav"_s)) > 0);
            return;
        }
        for (int seconds : {-5, 3}) { // clamped to the item
            QVERIFY(m_renderer->setPosition(seconds, seconds < 0 ? RovaRenderer::SeekKeyFrame : RovaRenderer::SeekAccurate));
            QVERIFY(seeking.wait(20000));
            QVERIFY(m_renderer->getPosition(this, SLOT(positionResults(uint))));
        }
        QVERIFY(m_renderer->getCurrentMediaInfo(this, SLOT(mediaInfoResults(RovaMediaInfo)), u"duration"_s));
        QTRY_COMPARE(m_answers, QStringList({u"position 0"_s, u"position 3"_s, u"duration 4"_s}));
        step(m_renderer->resume(), u",1"_s);
        step(m_renderer->next(), u",3,1"_s);
        step(m_renderer->previous(), u",3,1"_s);
        step(m_renderer->stop(), u",0"_s);
        step(m_renderer->pauseAt(2), u",3,2"_s);
        QVERIFY(m_renderer->getPosition(this, SLOT(positionResults(uint))));
        QTRY_COMPARE(m_answers.last(), u"position 2"_s);
        QCOMPARE(joined(media), u"0,1,0"_s);
    }

    // Into a file: every item once, in order, no sample lost or added; without auto-advance each play() plays one item.
    void shouldPlayPlaylistWithoutGaps_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("tolerance"); // samples a lossy codec may add or drop
        QTest::addColumn<bool>("autoAdvance");
        QTest::newRow("WAV") << u"wav"_s << 0 << true;
        QTest::newRow("FLAC") << u"flac"_s << 0 << true;
        QTest::newRow("Ogg Vorbis") << u"ogg"_s << 2048 << true;
        QTest::newRow("FLAC, one item per play") << u"flac"_s << 0 << false;
    }
    void shouldPlayPlaylistWithoutGaps()
    {
        QFETCH(QString, format);
        QFETCH(int, tolerance);
        QFETCH(bool, autoAdvance);
        m_renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, autoAdvance);
        const QString out = file(format + u"%1.raw"_s.arg(autoAdvance));
        QVERIFY(m_control->setSetting(sinkKey, fileSink.arg(out)));
        QSignalSpy media(m_renderer, &RovaRenderer::mediaChanged);
        QSignalSpy completed(m_renderer, &RovaRenderer::playbackCompleted);
        auto list = playlist(format);
        QStringList played;
        for (int i = 0; i < (autoAdvance ? 1 : 3); ++i) {
            QVERIFY(i == 0 || m_renderer->next());
            QVERIFY(m_renderer->play());
            QVERIFY(completed.wait(20000));
            played << heard(out, autoAdvance ? shortTones : QList<Tone>{shortTones[i]}, tolerance);
        }
        QCOMPARE(played.join(u','), u"440,660,880"_s);
        QCOMPARE(joined(media), u"0,1,2"_s);
    }

    // A failure names the URI and the reason, ends in Stopped, and the next command plays. When the item after the one
    // that plays fails, that one plays to its last sample and stays the current item.
    void shouldReportErrorsAndStayUsable_data()
    {
        QTest::addColumn<QString>("uri"); // or "format/id": the store id of the item after tone0.format
        QTest::addColumn<QString>("sink");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("next item missing") << u"wav/missing"_s << recordingSink << int(RovaError::RendererMediaNotFound) << u"No such file"_s;
        QTest::newRow("next item a FIFO") << u"wav/fifo"_s << recordingSink << int(RovaError::RendererUriNotAvailable) << u"not a regular file"_s;
        QTest::newRow("next item not audio") << u"long/garbage"_s << recordingSink << int(RovaError::RendererUnsupportedType) << QString();
        QTest::newRow("missing file") << url(u"missing.flac"_s).toString() << realTimeSink << int(RovaError::RendererMediaNotFound) << u"No such file"_s;
        QTest::newRow("FIFO") << url(u"fifo.flac"_s).toString() << realTimeSink << int(RovaError::RendererUriNotAvailable) << u"not a regular file"_s;
        QTest::newRow("not media") << QUrl::fromLocalFile(QFileInfo(QString::fromUtf8(__FILE__)).absoluteFilePath()).toString() << realTimeSink << int(RovaError::RendererUnsupportedType) << QString();
        QTest::newRow("unreachable") << u"http://127.0.0.1:9/tone.ogg"_s << realTimeSink << int(RovaError::RendererUriNotAvailable) << QString();
        QTest::newRow("unknown scheme") << u"nosuchscheme://host/tone.ogg"_s << realTimeSink << int(RovaError::RendererInvalidUri) << QString();
        QTest::newRow("no audio device") << url(u"tone0.wav"_s).toString() << fileSink.arg(file(u"no/such/dir/out.raw"_s))
                                         << int(RovaError::RendererDeviceUnavailable) << u"for writing"_s;
    }
    void shouldReportErrorsAndStayUsable()
    {
        QFETCH(QString, uri);
        QFETCH(QString, sink);
        QFETCH(int, code);
        QFETCH(QString, reason);
        const QString out = file(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-') + u".wav"_s);
        QVERIFY(m_control->setSetting(sinkKey, sink.contains(u"%1"_s) ? sink.arg(out) : sink));
        QSignalSpy errors(m_renderer, &RovaRenderer::error);
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        const bool next = !uri.contains(u':');
        const QString format = uri.section(u'/', 0, 0), id = uri.section(u'/', 1);
        const auto list = next ? playlist(format, u"urn:tone:"_s + id) : nullptr;
        QVERIFY(next ? m_renderer->play() : m_renderer->play(QUrl(uri)));
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty() && lastState(states) == int(RovaRenderer::Stopped), 20000);
        const RovaError error = errors.at(0).at(0).value<RovaError>();
        QVERIFY2(int(error.code()) == code, qPrintable(error.message()));
        const QString named = next ? url(id + u".flac"_s).toString() : uri;
        QVERIFY2(error.message().startsWith(u"Cannot play "_s + named + u": "_s) && error.message().contains(reason),
                 qPrintable(error.message()));
        if (next) {
            QCOMPARE(wavFrames(out), (format == "long"_L1 ? longTones : shortTones)[0].frames);
            QCOMPARE(list->getCurrentIndex(), 0);
        }
        QVERIFY(m_control->setSetting(sinkKey, realTimeSink));
        m_renderer->play(url(u"tone0.long"_s));
        QTRY_COMPARE_WITH_TIMEOUT(lastState(states), int(RovaRenderer::Playing), 20000);
        QCOMPARE(errors.size(), 1);
    }

    // An about-to-finish that comes once a teardown has begun returns at once: it waits for no hint and takes none.
    void shouldNotWaitForHintsOnceStopped()
    {
        RovaGStreamerEngine engine;
        QVERIFY(engine.setAudioSink(realTimeSink));
        const QByteArray first = url(u"tone0.wav"_s).toEncoded();
        for (int trial = 0; trial < 20; ++trial) {
            engine.play(QUrl::fromEncoded(first), 0, true, true);
            engine.stop();
            std::thread late([&engine] { g_signal_emit_by_name(engine.pipeline(), "about-to-finish"); });
            engine.setNextUri(url(u"tone1.wav"_s), false);
            late.join();
            g_autofree gchar* uri = nullptr;
            g_object_get(engine.pipeline(), "uri", &uri, nullptr);
            QCOMPARE(QByteArray(uri), first);
        }
    }

    // Last: the renderer goes while its pipeline runs; the file it records is closed.
    void shouldBeDeletedWhilePlaying()
    {
        QVERIFY(m_control->setSetting(sinkKey, recordingSink.arg(file(u"deleted.wav"_s))));
        QSignalSpy states(m_renderer, &RovaRenderer::stateChanged);
        m_renderer->play(url(u"tone1.long"_s));
        QTRY_COMPARE_WITH_TIMEOUT(lastState(states), int(RovaRenderer::Playing), 20000);
        QTRY_VERIFY(QFileInfo(file(u"deleted.wav"_s)).size() > 44);
        delete m_renderer;
        QVERIFY(wavFrames(file(u"deleted.wav"_s)) > 0);
        QVERIFY(RovaInternalRegistry::internalInstance()->renderers().isEmpty());
        QCOMPARE(m_control->setting(sinkKey), QVariant());
    }
};

QTEST_GUILESS_MAIN(tst_RovaGStreamerRenderer)
#include "tst_rovagstreamerrenderer.moc"
