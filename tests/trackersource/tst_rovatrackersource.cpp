// SPDX-License-Identifier: LGPL-2.1-or-later
// The Tracker source against a local store and against a tracker3 endpoint on a
// private bus, both filled by the player's indexer as the desktop's miner would.
#include "rovamusicindexer.h"
#include "rovatrackerfixture.h"
#include "rovatrackersource.h"

#include <rovacontent.h>
#include <rovaerror.h>
#include <rovaregistry.h>
#include <rovarendererplaylisthandler.h>

#include <QtSparql/QtSparql>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {
const QString busName = QStringLiteral("org.rova.test.TrackerSource");
const QString injection = QStringLiteral("x\") } DELETE WHERE { ?s ?p ?o } #");

QString fileUrl(const QString& name) { return QString::fromLatin1(QUrl::fromLocalFile(QStringLiteral("/music/") + name).toEncoded()); }

QList<RovaMusicIndexer::Track> library()
{
    struct Row { const char* file; QString title; const char* artist; const char* album; int track; };
    const Row rows[] = {
        { "a1.flac", QStringLiteral("Dawn"), "Alpha Band", "First Light", 1 },
        { "a2.flac", QStringLiteral("Noon \"High\""), "Alpha Band", "First Light", 2 },
        { "a 3.flac", QStringLiteral("Dusk"), "Alpha Band", "First Light", 3 },
        { "b1.flac", QStringLiteral("Ça va"), "Bêta & Co", "Ünïcode ♫", 1 },
        { "b2 {x}.flac", QStringLiteral("Back\\slash {x} <y>"), "Bêta & Co", "Ünïcode ♫", 2 },
        { "c1.flac", injection, "O'Brien", "First Light", 1 },
        { "d1.flac", QStringLiteral("Lonely"), "", "", 0 },
    };
    QList<RovaMusicIndexer::Track> tracks;
    for (const Row& row : rows) {
        tracks.append({ fileUrl(QString::fromUtf8(row.file)), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC), row.title,
                        QString::fromUtf8(row.artist), QString(), QString::fromUtf8(row.album), row.track, 60 + row.track });
    }
    return tracks;
}
} // namespace

class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers; // one line per answer
    QList<RovaContent> contents;
public Q_SLOTS:
    void browseResults(const QList<RovaContent>& items, uint)
    {
        QStringList titles;
        for (const RovaContent& item : items) {
            const QVariant count = item.metaData(RovaTrackerSource::ROVA_KEY_CHILD_COUNT);
            titles += item.metaData(RovaTrackerSource::ROVA_KEY_TITLE).toString() + (count.isValid() ? QStringLiteral("(%1)").arg(count.toInt()) : QString());
        }
        answers += titles.join(QLatin1Char('|'));
    }
    void listResults(const QList<RovaContent>& items) { browseResults(items, 0); }
    void metadataResult(const RovaContent& content) { contents += content; }
    void errorResult(const RovaError& error) { answers += QStringLiteral("error %1").arg(int(error.code())); }
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
        QVERIFY2(RovaMusicIndexer(m_dir.filePath(QStringLiteral("store"))).write(library(), &error), qPrintable(error));
        QVERIFY2(RovaMusicIndexer(QString()).write(library(), &error), qPrintable(error)); // the endpoint, through the environment
        m_options[0].setOption(QStringLiteral("databasePath"), m_dir.filePath(QStringLiteral("store")));
        m_options[1].setOption(QStringLiteral("busName"), busName);
        m_options[2].setOption(QStringLiteral("busName"), QStringLiteral("org.rova.test.Nobody"));
        for (int i = 0; i < 3; ++i)
            m_sources[i] = std::make_unique<RovaTrackerSource>(nullptr, m_options[i]);
    }
    void cleanupTestCase() { m_endpoint.stop(); }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldBrowseAndSearch_data()
    {
        QTest::addColumn<int>("store");
        QTest::addColumn<bool>("search");
        QTest::addColumn<QString>("text"); // object id or search text
        QTest::addColumn<QString>("sort");
        QTest::addColumn<uint>("offset");
        QTest::addColumn<uint>("count");
        QTest::addColumn<QString>("expected");
        const QString alphaSongs = QStringLiteral("Dawn|Noon \"High\"|Dusk");
        const QString betaSongs = QStringLiteral("Ça va|Back\\slash {x} <y>");
        const QString allSongs = QStringLiteral("Lonely|") + alphaSongs + QLatin1Char('|') + betaSongs + QLatin1Char('|') + injection;
        forEachStore("root", false, QString(), QString(), 0u, 0u, QStringLiteral("Artists|Albums|Songs"));
        forEachStore("root by item id, a slice", false, QStringLiteral("RovaTrackerSource::"), QString(), 1u, 1u, QStringLiteral("Albums"));
        forEachStore("artists", false, QStringLiteral("/Artists"), QString(), 0u, 0u, QStringLiteral("Alpha Band(3)|Bêta & Co(2)|O'Brien(1)"));
        forEachStore("albums", false, QStringLiteral("/Albums"), QString(), 0u, 0u, QStringLiteral("First Light(3)|First Light(1)|Ünïcode ♫(2)"));
        forEachStore("songs", false, QStringLiteral("RovaTrackerSource::/Songs"), QString(), 0u, 0u, allSongs);
        forEachStore("songs, a slice", false, QStringLiteral("/Songs"), QString(), 2u, 2u, QStringLiteral("Noon \"High\"|Dusk"));
        forEachStore("one artist", false, QStringLiteral("/Artists/urn:artist:Alpha%20Band"), QString(), 0u, 0u, alphaSongs);
        forEachStore("one album", false, QStringLiteral("/Albums/urn:album:%C3%9Cn%C3%AFcode%20%E2%99%AB:B%C3%AAta%20%26%20Co"),
                     QString(), 0u, 0u, betaSongs);
        forEachStore("unknown artist", false, QStringLiteral("/Artists/urn:artist:Nobody"), QString(), 0u, 0u, QString());
        forEachStore("search title, any case", true, QStringLiteral("NOON"), QString(), 0u, 0u, QStringLiteral("Noon \"High\""));
        forEachStore("search artist, descending track", true, QStringLiteral("alpha"), QStringLiteral("-track-number"), 0u, 0u,
                     QStringLiteral("Dusk|Noon \"High\"|Dawn"));
        forEachStore("search album, by title", true, QStringLiteral("first light"), QStringLiteral("+title"), 0u, 0u,
                     QStringLiteral("Dawn|Dusk|Noon \"High\"|") + injection);
        forEachStore("search accents", true, QStringLiteral("bêta"), QStringLiteral("album, -title"), 0u, 0u, betaSongs);
        forEachStore("search injection text", true, QStringLiteral("\") } DELETE WHERE { ?s ?p ?o } #"), QString(), 0u, 0u, injection);
        forEachStore("search backslash", true, QStringLiteral("\\"), QString(), 0u, 0u, QStringLiteral("Back\\slash {x} <y>"));
        forEachStore("search without match", true, QStringLiteral("zzz"), QString(), 0u, 0u, QString());
        QTest::newRow("no store: songs") << 2 << false << QStringLiteral("/Songs") << QString() << 0u << 0u << QStringLiteral("error 406");
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
        RovaTrackerSource& source = *m_sources[store];
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
        QTest::newRow("local") << 0;
        QTest::newRow("bus") << 1;
    }
    void shouldAnswerMetadataThatTheRendererCanPlay()
    {
        QFETCH(int, store);
        const QString objectId = QStringLiteral("RovaTrackerSource::") + fileUrl(QStringLiteral("b2 {x}.flac"));
        Receiver receiver;
        RovaTrackerSource& source = *m_sources[store];
        QVERIFY(source.getMetadata(objectId, {}, &receiver, SLOT(metadataResult(RovaContent)), SLOT(errorResult(RovaError))));
        QVERIFY(source.getMetadata(objectId, { QStringLiteral("uri") }, &receiver, SLOT(metadataResult(RovaContent)), nullptr));
        QVERIFY(source.getMetadata(fileUrl(QStringLiteral("none.flac")), {}, &receiver, SLOT(metadataResult(RovaContent)),
                                   SLOT(errorResult(RovaError))));
        QTRY_COMPARE(receiver.answers, QStringList{ QStringLiteral("error 401") });
        QCOMPARE(receiver.contents.size(), 2);
        const QUrl url = QUrl::fromEncoded(fileUrl(QStringLiteral("b2 {x}.flac")).toLatin1());
        QCOMPARE(receiver.contents[0].uuid(), objectId);
        QCOMPARE(receiver.contents[0].metaData(), (QVariantMap{ { QStringLiteral("title"), QStringLiteral("Back\\slash {x} <y>") },
                                                                { QStringLiteral("artist"), QStringLiteral("Bêta & Co") },
                                                                { QStringLiteral("album"), QStringLiteral("Ünïcode ♫") },
                                                                { QStringLiteral("duration"), 62 }, { QStringLiteral("track-number"), 2 },
                                                                { QStringLiteral("uri"), url }, { QStringLiteral("type"), QStringLiteral("audio") } }));
        QCOMPARE(receiver.contents[1].metaData(), (QVariantMap{ { QStringLiteral("uri"), url } }));

        // The renderer's own lookup, with the object part of the id.
        QSparqlConnection connection(QStringLiteral("QTRACKER"), m_options[store]);
        const QString objectPart = objectId.mid(objectId.indexOf(QLatin1String("::")) + 2);
        std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(RovaRendererPlaylistHandler::basicMetadataQuery.arg(objectPart))));
        QVERIFY(result->next());
        QCOMPARE(QUrl::fromEncoded(result->stringValue(0).toLatin1()), url);
    }

    void shouldRefuseWhatCannotBeAsked_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("warning");
        QTest::newRow("IRI breaking out of <>") << "browse" << QStringLiteral("/Artists/x> } DELETE WHERE { ?s ?p ?o } #") << "not a container";
        QTest::newRow("a song is no container") << "browse" << fileUrl(QStringLiteral("a1.flac")) << "not a container";
        QTest::newRow("IRI with a space") << "metadata" << QStringLiteral("file:///a b.flac") << "not a valid object id";
        QTest::newRow("IRI in brackets") << "metadata" << QStringLiteral("<file:///a1.flac>") << "not a valid object id";
        QTest::newRow("unsupported key") << "key" << QStringLiteral("colour") << "unsupported key";
        QTest::newRow("control character") << "query" << QStringLiteral("a\u0001b") << "control characters";
        QTest::newRow("unknown sort key") << "sort" << QStringLiteral("title,colour") << "unknown sort key";
        QTest::newRow("slot of another kind") << "slot" << QStringLiteral("1metadataResult(RovaContent)") << "does not fit";
        QTest::newRow("slot that is not there") << "slot" << QStringLiteral("1nothing(QList<RovaContent>)") << "Invalid slot";
        QTest::newRow("error slot of another kind") << "errorslot" << QStringLiteral("1metadataResult(RovaContent)") << "does not fit";
        QTest::newRow("destroy") << "destroy" << QStringLiteral("/Songs") << "read-only";
    }
    void shouldRefuseWhatCannotBeAsked()
    {
        QFETCH(QString, call);
        QFETCH(QString, argument);
        QFETCH(QString, warning);
        RovaTrackerSource& source = *m_sources[0];
        Receiver receiver;
        const QByteArray text = argument.toUtf8();
        const char* browseSlot = call == QLatin1String("slot") ? text.constData() : SLOT(browseResults(QList<RovaContent>, uint));
        const char* errorSlot = call == QLatin1String("errorslot") ? text.constData() : nullptr;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
        const auto is = [&call](const char* name) { return call == QLatin1String(name); };
        bool accepted = false;
        if (is("metadata") || is("key"))
            accepted = source.getMetadata(is("key") ? QStringLiteral("/Songs") : argument, { is("key") ? argument : QStringLiteral("title") },
                                          &receiver, SLOT(metadataResult(RovaContent)), nullptr);
        else if (is("query") || is("sort"))
            accepted = source.query(is("query") ? argument : QString(), is("sort") ? argument : QString(), &receiver, browseSlot, nullptr);
        else if (is("destroy"))
            accepted = source.destroyObject(argument, &receiver, SLOT(metadataResult(RovaContent)), nullptr);
        else
            accepted = source.browse(is("browse") ? argument : QString(), 0, 0, &receiver, browseSlot, errorSlot);
        QVERIFY(!accepted);
        QCOMPARE(source.pendingRequests(), 0);
    }

    void shouldDropCancelledAnswers()
    {
        RovaTrackerSource& source = *m_sources[0];
        Receiver receiver;
        const uint browse = source.browse(QStringLiteral("/Songs"), 0u, 0u, &receiver, SLOT(browseResults(QList<RovaContent>, uint)), nullptr);
        const uint query = source.query(QString(), QString(), &receiver, SLOT(browseResults(QList<RovaContent>, uint)), nullptr);
        const uint root = source.browse(QString(), 0u, 0u, &receiver, SLOT(browseResults(QList<RovaContent>, uint)), nullptr);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("RovaTrackerSource: no query with id %1 is running.").arg(browse)));
        source.cancelQuery(browse); // not a query: the browse goes on
        source.cancelBrowse(browse);
        source.cancelQuery(query);
        source.cancelBrowse(root);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("RovaTrackerSource: no browse with id %1 is running.").arg(root)));
        source.cancelBrowse(root);
        QCOMPARE(source.pendingRequests(), 0);
        // Answers come in order: once a later one is in, the cancelled ones would have been too.
        QVERIFY(source.query(QStringLiteral("dawn"), QString(), &receiver, SLOT(listResults(QList<RovaContent>)), nullptr) > 0);
        QTRY_COMPARE(receiver.answers, QStringList{ QStringLiteral("Dawn") });
    }

    void pluginShouldRegisterTheSource()
    {
        QVERIFY(RovaRegistry::instance()->loadPlugin(QStringLiteral(QROVA_TRACKER_SOURCE_PLUGIN)));
        RovaSource* source = RovaRegistry::instance()->source(QStringLiteral("RovaTrackerSource"));
        QVERIFY(source);
        QCOMPARE(source->pluginName(), QStringLiteral("qrova-tracker-source"));
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
    std::unique_ptr<RovaTrackerSource> m_sources[3]; // local, bus, a bus name nobody has
};

QTEST_GUILESS_MAIN(tst_RovaTrackerSource)
#include "tst_rovatrackersource.moc"
