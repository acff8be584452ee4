// SPDX-License-Identifier: LGPL-2.1-or-later
// The Tracker source against a local store and against a tracker3 endpoint on a
// private bus, both filled by the player's indexer as the desktop's miner would,
// and against the desktop's own miner; and the indexer over tones made with gst-launch-1.0.
#include "rovamusicindexer.h"
#include "rovatrackerfixture.h"
#include "rovatrackersource.h"

#include <rovacontent.h>
#include <rovaerror.h>
#include <rovaregistry.h>
#include <rovarendererplaylisthandler.h>

#include <QtSparql/QtSparql>

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {
const QString busName = u"org.rova.test.TrackerSource"_s;
const QString minerName = u"org.freedesktop.Tracker3.Miner.Files"_s;
const QString songs = u"un tagged 100%.v2|Tone"_s; // of the miner
const QString injection = u"x\") } DELETE WHERE { ?s ?p ?o } #"_s;
// Two-second tones at 8 kHz: 20 buffers of 800 samples, through the encoder %1 into the file %2.
const QString tone = u"-q audiotestsrc num-buffers=20 samplesperbuffer=800 ! audio/x-raw,rate=8000,channels=1 ! %1 ! filesink location=\"%2\""_s;

QString fileUrl(const QString& name) { return QString::fromLatin1(QUrl::fromLocalFile(u"/music/"_s + name).toEncoded()); }

QList<RovaMusicIndexer::Track> library()
{
    const auto track = [](const char* file, const QString& title, const char* artist, const char* album, int number) {
        return RovaMusicIndexer::Track{fileUrl(QString::fromUtf8(file)), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC), title,
                                       QString::fromUtf8(artist), QString(), QString::fromUtf8(album), number, 60 + number};
    };
    return {track("a1.flac", u"Dawn"_s, "Alpha Band", "First Light", 1),
            track("a2.flac", u"Noon \"High\""_s, "Alpha Band", "First Light", 2),
            track("a 3.flac", u"Dusk"_s, "Alpha Band", "First Light", 3),
            track("b1.flac", u"Ça va"_s, "Bêta & Co", "Ünïcode ♫", 1),
            track("b2 {x}.flac", u"Back\\slash {x} <y>"_s, "Bêta & Co", "Ünïcode ♫", 2),
            track("c1.flac", injection, "O'Brien", "First Light", 1),
            track("d1.flac", u"Lonely"_s, "", "", 0),
            track("no title 100%.v2.flac", QString(), "", "", 0)}; // called by its file name
}

// The file URL the renderer's own lookup finds for \a objectId.
QString rendererLookup(const QSparqlConnectionOptions& options, const QString& objectId)
{
    QSparqlConnection connection(u"QTRACKER"_s, options);
    std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(RovaRendererPlaylistHandler::basicMetadataQuery.arg(objectId))));
    return result->next() ? result->stringValue(0) : QString();
}
} // namespace

class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList keys{u"title"_s};
    QStringList answers; // one line per answer: each item's values of keys, and its child count
    QList<RovaContent> contents;
public Q_SLOTS:
    void browseResults(const QList<RovaContent>& items, uint)
    {
        QStringList lines;
        for (const RovaContent& item : items) {
            QStringList values;
            for (const QString& key : std::as_const(keys))
                values += item.metaData(key).toString();
            const QVariant count = item.metaData(RovaTrackerSource::ROVA_KEY_CHILD_COUNT);
            lines += values.join(u'/') + (count.isValid() ? u"(%1)"_s.arg(count.toInt()) : QString());
        }
        answers += lines.join(u'|');
        contents += items;
    }
    void listResults(const QList<RovaContent>& items) { browseResults(items, 0); }
    void metadataResult(const RovaContent& content) { contents += content; }
    void errorResult(const RovaError& error) { answers += u"error %1"_s.arg(int(error.code())); }
};

class tst_RovaTrackerSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_endpoint.start(busName), qPrintable(m_endpoint.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
        qputenv("QSPARQL_TRACKER_BUS_NAME", busName.toUtf8());
        QString error;
        QVERIFY2(RovaMusicIndexer(m_dir.filePath(u"store"_s)).write(library(), &error), qPrintable(error));
        QVERIFY2(RovaMusicIndexer(QString()).write(library(), &error), qPrintable(error)); // the endpoint, through the environment
        m_options[0].setOption(u"databasePath"_s, m_dir.filePath(u"store"_s));
        m_options[1].setOption(u"busName"_s, busName);
        m_options[2].setOption(u"busName"_s, u"org.rova.test.Nobody"_s);
        m_local = std::make_unique<RovaTrackerSource>(nullptr, m_options[0]);
        m_nobody = std::make_unique<RovaTrackerSource>(nullptr, m_options[2]);
        // The plugin's source, with default options, serves the endpoint named in the environment.
        QVERIFY(RovaRegistry::instance()->loadPlugin(QStringLiteral(QROVA_TRACKER_SOURCE_PLUGIN)));
        RovaSource* plugin = RovaRegistry::instance()->source(u"RovaTrackerSource"_s);
        QVERIFY(plugin && plugin->pluginName() == u"qrova-tracker-source"_s);
        m_sources = { m_local.get(), plugin, m_nobody.get() };
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldBrowseAndSearch_data()
    {
        QTest::addColumn<int>("store");
        QTest::addColumn<bool>("search");
        QTest::addColumn<QString>("text"); // object id or search text
        QTest::addColumn<QString>("sort");
        QTest::addColumn<uint>("offset");
        QTest::addColumn<uint>("count");
        QTest::addColumn<QString>("expected");
        const QString alphaSongs = u"Dawn|Noon \"High\"|Dusk"_s;
        const QString betaSongs = u"Ça va|Back\\slash {x} <y>"_s;
        forEachStore("root", false, QString(), QString(), 0u, 0u, u"Artists|Albums|Songs"_s);
        forEachStore("root by item id, a slice", false, u"RovaTrackerSource::"_s, QString(), 1u, 1u, u"Albums"_s);
        forEachStore("artists", false, u"/Artists"_s, QString(), 0u, 0u, u"Alpha Band(3)|Bêta & Co(2)|O'Brien(1)"_s);
        forEachStore("albums", false, u"/Albums"_s, QString(), 0u, 0u, u"First Light(3)|First Light(1)|Ünïcode ♫(2)"_s);
        forEachStore("songs", false, u"RovaTrackerSource::/Songs"_s, QString(), 0u, 0u,
                     u"no title 100%.v2|Lonely|"_s + alphaSongs + u'|' + betaSongs + u'|' + injection);
        forEachStore("songs, a slice", false, u"/Songs"_s, QString(), 2u, 1u, u"Dawn"_s);
        forEachStore("one artist", false, u"/Artists/urn:artist:Alpha%20Band"_s, QString(), 0u, 0u, alphaSongs);
        forEachStore("one album", false, u"/Albums/urn:album:%C3%9Cn%C3%AFcode%20%E2%99%AB:B%C3%AAta%20%26%20Co"_s,
                     QString(), 0u, 0u, betaSongs);
        forEachStore("unknown artist", false, u"/Artists/urn:artist:Nobody"_s, QString(), 0u, 0u, QString());
        forEachStore("search title, any case", true, u"NOON"_s, QString(), 0u, 0u, u"Noon \"High\""_s);
        forEachStore("search artist, descending track", true, u"alpha"_s, u"-track-number"_s, 0u, 0u, u"Dusk|Noon \"High\"|Dawn"_s);
        forEachStore("search album, by title", true, u"first light"_s, u"+title"_s, 0u, 0u, u"Dawn|Dusk|Noon \"High\"|"_s + injection);
        forEachStore("search accents", true, u"bêta"_s, u"album, -title"_s, 0u, 0u, betaSongs);
        forEachStore("search injection text", true, u"\") } DELETE WHERE { ?s ?p ?o } #"_s, QString(), 0u, 0u, injection);
        forEachStore("search backslash", true, u"\\"_s, QString(), 0u, 0u, u"Back\\slash {x} <y>"_s);
        forEachStore("search without match", true, u"zzz"_s, QString(), 0u, 0u, QString());
        QTest::newRow("no store: songs") << 2 << false << u"/Songs"_s << QString() << 0u << 0u << u"error 406"_s;
    }
    void shouldBrowseAndSearch()
    {
        QFETCH(int, store);
        QFETCH(bool, search);
        QFETCH(QString, text);
        QFETCH(QString, sort);
        QFETCH(uint, offset);
        QFETCH(uint, count);
        QFETCH(QString, expected);
        Receiver receiver;
        RovaSource& source = *m_sources[store];
        QSignalSpy completed(&source, &RovaSource::browseCompleted);
        QVERIFY(search ? source.query(text, sort, &receiver, SLOT(listResults(QList<RovaContent>)), nullptr)
                       : source.browse(text, offset, count, &receiver, SLOT(browseResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))));
        QVERIFY(receiver.answers.isEmpty()); // never inside the call
        QTRY_COMPARE(receiver.answers, QStringList{ expected });
        QCOMPARE(completed.count(), search || store == 2 ? 0 : 1);
    }

    void shouldAnswerMetadataThatTheRendererCanPlay_data()
    {
        QTest::addColumn<int>("store");
        forEachStore("metadata");
    }
    void shouldAnswerMetadataThatTheRendererCanPlay()
    {
        QFETCH(int, store);
        const QString url = fileUrl(u"b2 {x}.flac"_s);
        const QString objectId = u"RovaTrackerSource::"_s + url;
        Receiver receiver;
        RovaSource& source = *m_sources[store];
        QVERIFY(source.getMetadata(objectId, {}, &receiver, SLOT(metadataResult(RovaContent)), SLOT(errorResult(RovaError))));
        QVERIFY(source.getMetadata(objectId, { u"uri"_s }, &receiver, SLOT(metadataResult(RovaContent)), nullptr));
        QVERIFY(source.getMetadata(u"/Artists/urn:artist:Alpha%20Band"_s, {}, &receiver, SLOT(metadataResult(RovaContent)), nullptr));
        QVERIFY(source.getMetadata(fileUrl(u"none.flac"_s), {}, &receiver, SLOT(metadataResult(RovaContent)), SLOT(errorResult(RovaError))));
        QTRY_COMPARE(receiver.answers, QStringList{ u"error 401"_s });
        QCOMPARE(receiver.contents.size(), 3);
        QCOMPARE(receiver.contents[2].metaData(u"title"_s).toString(), u"Alpha Band"_s); // a container's name
        QCOMPARE(receiver.contents[0].uuid(), objectId);
        QCOMPARE(receiver.contents[0].metaData(), (QVariantMap{ { u"title"_s, u"Back\\slash {x} <y>"_s }, { u"artist"_s, u"Bêta & Co"_s },
                                                                { u"album"_s, u"Ünïcode ♫"_s }, { u"duration"_s, 62 }, { u"track-number"_s, 2 },
                                                                { u"uri"_s, QUrl::fromEncoded(url.toLatin1()) }, { u"type"_s, u"audio"_s } }));
        QCOMPARE(receiver.contents[1].metaData(), (QVariantMap{ { u"uri"_s, QUrl::fromEncoded(url.toLatin1()) } }));
        QCOMPARE(rendererLookup(m_options[store], url), url); // with the object part of the id
    }

    void shouldRefuseBadRequestsAndDropCancelledAnswers()
    {
        RovaTrackerSource& source = *m_local;
        Receiver r;
        const char* browseSlot = SLOT(browseResults(QList<RovaContent>, uint));
        const char* metadataSlot = SLOT(metadataResult(RovaContent));
        const auto refuses = [](const char* warning, const std::function<uint()>& call) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(QLatin1String(warning))));
            return call() == 0;
        };
        const QString breakingOut = u"/Artists/x> } DELETE WHERE { ?s ?p ?o } #"_s;
        QVERIFY(refuses("not a container", [&] { return source.browse(breakingOut, 0, 0, &r, browseSlot, nullptr); }));
        QVERIFY(refuses("not a container", [&] { return source.browse(fileUrl(u"a1.flac"_s), 0, 0, &r, browseSlot, nullptr); }));
        QVERIFY(refuses("not a valid object id", [&] { return source.getMetadata(u"file:///a b.flac"_s, {}, &r, metadataSlot, nullptr); }));
        QVERIFY(refuses("not a valid object id", [&] { return source.getMetadata(u"<file:///a1.flac>"_s, {}, &r, metadataSlot, nullptr); }));
        QVERIFY(refuses("unsupported key", [&] { return source.getMetadata(u"/Songs"_s, {u"colour"_s}, &r, metadataSlot, nullptr); }));
        // Refused queries also answer, later, through the error slot.
        QVERIFY(refuses("control characters", [&] { return source.query(u"a\u0001b"_s, QString(), &r, browseSlot, SLOT(errorResult(RovaError))); }));
        QVERIFY(refuses("unknown sort key", [&] { return source.query(QString(), u"title,colour"_s, &r, browseSlot, SLOT(errorResult(RovaError))); }));
        QVERIFY(refuses("does not fit", [&] { return source.browse(QString(), 0, 0, &r, metadataSlot, nullptr); }));
        QVERIFY(refuses("Invalid slot", [&] { return source.browse(QString(), 0, 0, &r, SLOT(nothing(QList<RovaContent>)), nullptr); }));
        QVERIFY(refuses("does not fit", [&] { return source.browse(QString(), 0, 0, &r, browseSlot, metadataSlot); })); // error slot
        QVERIFY(refuses("read-only", [&] { return source.destroyObject(u"/Songs"_s, &r, metadataSlot, nullptr); }));
        QVERIFY(r.answers.isEmpty());

        const uint browse = source.browse(u"/Songs"_s, 0u, 0u, &r, browseSlot, nullptr);
        const uint query = source.query(QString(), QString(), &r, browseSlot, nullptr);
        const uint root = source.browse(QString(), 0u, 0u, &r, browseSlot, nullptr);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"RovaTrackerSource: no query with id %1 is running."_s.arg(browse)));
        source.cancelQuery(browse); // not a query: the browse goes on
        source.cancelBrowse(browse);
        source.cancelQuery(query);
        source.cancelBrowse(root);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"RovaTrackerSource: no browse with id %1 is running."_s.arg(root)));
        source.cancelBrowse(root);
        QCOMPARE(source.pendingRequests(), 0);
        // Answers come in order: once a later one is in, the cancelled ones would have been too.
        QVERIFY(source.query(u"dawn"_s, QString(), &r, SLOT(listResults(QList<RovaContent>)), nullptr) > 0);
        QTRY_COMPARE(r.answers, (QStringList{u"error 402"_s, u"error 403"_s, u"Dawn"_s}));
    }

    // Files are read once, again when changed; what the source lists, the renderer finds.
    void indexerShouldStoreFilesOnceForSourceAndRenderer()
    {
        const QString music = m_dir.filePath(u"music"_s);
        QVERIFY(QDir(music).mkpath(u"Band"_s));
        const QString tags = u"taginject tags=\"title=Tone-%1,artist=Band,album=Tones,track-number=(uint)%1\" ! flacenc"_s;
        for (const auto& [encoder, file] : { std::pair(tags.arg(1), u"Band/t1.flac"_s), std::pair(tags.arg(2), u"Band/t2.flac"_s),
                                             std::pair(u"wavenc"_s, u"un tagged.wav"_s) })
            QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(tone.arg(encoder, music + u'/' + file))), 0);
        for (const QString& name : {u"/broken.mp3"_s, u"/notes.txt"_s}) { // notes are not looked at in a directory
            QFile file(music + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not audio at all") > 0);
        }

        const QString store = m_dir.filePath(u"indexed"_s);
        RovaMusicIndexer indexer(store);
        const QStringList paths{ music, music + u"/Band/t1.flac"_s, m_dir.filePath(u"gone"_s) };
        const auto run = [&]() -> QString {
            const RovaIndexResult result = indexer.index(paths);
            QStringList failed;
            for (const QString& line : result.failed)
                failed += line.section(u':', 0, 0).section(u'/', -1);
            return result.storeError + u"%1 indexed, %2 unchanged, failed: %3"_s.arg(result.indexed).arg(result.unchanged).arg(failed.join(u','));
        };
        QCOMPARE(run(), u"3 indexed, 0 unchanged, failed: gone,broken.mp3"_s);
        QCOMPARE(run(), u"0 indexed, 3 unchanged, failed: gone,broken.mp3"_s);
        QFile t2(music + u"/Band/t2.flac"_s);
        QVERIFY(t2.open(QIODevice::ReadWrite) && t2.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60), QFileDevice::FileModificationTime));
        QCOMPARE(run(), u"1 indexed, 2 unchanged, failed: gone,broken.mp3"_s);
        QVERIFY(!RovaMusicIndexer(store + u"/meta.db/x"_s).index(paths).storeError.isEmpty());

        QSparqlConnectionOptions options;
        options.setOption(u"databasePath"_s, store);
        RovaTrackerSource source(nullptr, options);
        Receiver receiver;
        receiver.keys = QStringList{ u"title"_s, u"artist"_s, u"album"_s, u"track-number"_s, u"duration"_s };
        QVERIFY(source.query(QString(), u"title"_s, &receiver, SLOT(listResults(QList<RovaContent>)), nullptr) > 0);
        QTRY_COMPARE(receiver.answers, QStringList{ u"Tone-1/Band/Tones/1/2|Tone-2/Band/Tones/2/2|un tagged///0/2"_s });
        for (const RovaContent& item : std::as_const(receiver.contents)) {
            const QUrl url = item.metaData(u"uri"_s).toUrl();
            QVERIFY(url.isLocalFile() && QFile::exists(url.toLocalFile()));
            QCOMPARE(rendererLookup(options, QString::fromLatin1(url.toEncoded())), QString::fromLatin1(url.toEncoded()));
        }
    }

    // The desktop's own miner and extractor, on a bus of their own, over a tagged and an untagged file:
    // songs by title or file name, also when the miner goes away during a query.
    void shouldListTheMinersSongsWhenItGoesAwayDuringAQuery_data()
    {
        QTest::addColumn<bool>("staysAway");
        QTest::addColumn<QString>("answer");
        QTest::newRow("started again by the bus") << false << songs;
        QTest::newRow("not started again") << true << u"error 406"_s;
    }
    void shouldListTheMinersSongsWhenItGoesAwayDuringAQuery()
    {
        QFETCH(bool, staysAway);
        QFETCH(QString, answer);
        if (!m_minerSource) {
            const QString music = m_dir.filePath(u"mined"_s);
            QVERIFY(QDir(music).mkpath(u"."_s));
            for (const auto& [encoder, file] : {std::pair(u"taginject tags=\"title=Tone\" ! flacenc"_s, u"t1.flac"_s),
                                                std::pair(u"wavenc"_s, u"un tagged 100%.v2.wav"_s)})
                QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(tone.arg(encoder, music + u'/' + file))), 0);
            QVERIFY2(m_miner.start(music), qPrintable(m_miner.errorString()));
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_miner.busAddress().toUtf8()); // the endpoint's bus is done with
            QSparqlConnectionOptions options;
            options.setOption(u"busName"_s, minerName);
            // The first query starts the miner, whose first start is slow on a busy machine.
            QSparqlConnection connection(u"QTRACKER"_s, options);
            const auto count = [&] {
                const std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(u"SELECT (COUNT(?s) AS ?n) { ?s a nmm:MusicPiece }"_s)));
                return result->first() ? result->stringValue(0) : result->lastError().message();
            };
            QTRY_COMPARE_WITH_TIMEOUT(count(), u"2"_s, 240000);
            m_minerSource = std::make_unique<RovaTrackerSource>(nullptr, options);
        }
        const qint64 miner = m_miner.processId();
        QVERIFY(miner > 0 && (!staysAway || m_miner.removeMinerService()));
        // The query waits in the stopped miner, which is then killed: the bus answers for it.
        QProcess monitor;
        QByteArray seen;
        const auto saw = [&](const char* what) { return (seen += monitor.readAllStandardOutput()).contains(what); };
        monitor.start(u"dbus-monitor"_s, {u"--address"_s, m_miner.busAddress(), u"destination='%1'"_s.arg(minerName)});
        const auto endMonitor = qScopeGuard([&monitor] { monitor.kill(), monitor.waitForFinished(); });
        QTRY_VERIFY(saw("NameLost")); // monitoring
        Receiver receiver;
        const auto ask = [&] { return m_minerSource->query(QString(), u"title"_s, &receiver, SLOT(listResults(QList<RovaContent>)), SLOT(errorResult(RovaError))); };
        QVERIFY(ask());
        QTRY_COMPARE(receiver.answers, QStringList{songs}); // and the source's connection is open
        QVERIFY(::kill(pid_t(miner), SIGSTOP) == 0 && ask());
        QTRY_VERIFY(saw("member=Query"));
        QVERIFY(::kill(pid_t(miner), SIGKILL) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(receiver.answers.size() == 2, 120000);
        QCOMPARE(receiver.answers.last(), answer);
    }

private:
    template <typename... Values>
    void forEachStore(const char* name, const Values&... values)
    {
        for (int store = 0; store < 2; ++store)
            ((QTest::addRow("%s: %s", store ? "bus" : "local", name) << store) << ... << values);
    }

    QTemporaryDir m_dir;
    RovaTrackerEndpoint m_endpoint;
    QSparqlConnectionOptions m_options[3];
    std::unique_ptr<RovaTrackerSource> m_local;
    std::unique_ptr<RovaTrackerSource> m_nobody; // a bus name nobody has
    std::array<RovaSource*, 3> m_sources; // local, bus, nobody
    RovaTrackerMiner m_miner;
    std::unique_ptr<RovaTrackerSource> m_minerSource;
};

QTEST_GUILESS_MAIN(tst_RovaTrackerSource)
#include "tst_rovatrackersource.moc"
