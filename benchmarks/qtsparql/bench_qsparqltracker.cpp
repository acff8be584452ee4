// SPDX-License-Identifier: LGPL-2.1-or-later
// The renderer's metadata lookup for 10,000 different items, one after another
// (start the query, wait for its answer, read the row), through the QtSparql
// layer and through libtracker-sparql directly, on a local store and over a
// tracker3 endpoint on a private session bus.
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QEventLoop>
#include <QTest>

#include <libtracker-sparql/tracker-sparql.h>

#include <functional>
#include <memory>

namespace {
const int itemCount = 10000;
const QString metadataQuery = QStringLiteral(
    "SELECT ?url ?count ?duration WHERE { <%1> nie:url ?url .OPTIONAL { <%1> nie:usageCounter ?count. <%1> nfo:duration ?duration. }}");
const QString busName = QStringLiteral("org.rova.bench.Tracker");

// One lookup through libtracker-sparql's asynchronous API, driven by the
// default GLib main context as a GLib program would.
struct RawLookup
{
    TrackerSparqlConnection* connection = nullptr;
    TrackerSparqlCursor* cursor = nullptr;
    bool done = false;
    bool found = false;
    QString url, count, duration;

    static void nextReady(GObject* source, GAsyncResult* res, gpointer self)
    {
        auto* lookup = static_cast<RawLookup*>(self);
        auto* cursor = TRACKER_SPARQL_CURSOR(source);
        if (tracker_sparql_cursor_next_finish(cursor, res, nullptr)) {
            lookup->found = true;
            lookup->url = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 0, nullptr));
            lookup->count = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 1, nullptr));
            lookup->duration = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 2, nullptr));
        }
        lookup->done = true;
    }

    static void queryReady(GObject* source, GAsyncResult* res, gpointer self)
    {
        auto* lookup = static_cast<RawLookup*>(self);
        lookup->cursor = tracker_sparql_connection_query_finish(TRACKER_SPARQL_CONNECTION(source), res, nullptr);
        if (!lookup->cursor) {
            lookup->done = true;
            return;
        }
        tracker_sparql_cursor_next_async(lookup->cursor, nullptr, &RawLookup::nextReady, lookup);
    }

    bool run(const QByteArray& query)
    {
        done = found = false;
        cursor = nullptr;
        tracker_sparql_connection_query_async(connection, query.constData(), nullptr, &RawLookup::queryReady, this);
        while (!done)
            g_main_context_iteration(nullptr, TRUE);
        if (cursor)
            g_object_unref(cursor);
        return found && !url.isEmpty();
    }
};

bool rawSyncLookup(TrackerSparqlConnection* connection, const QByteArray& query)
{
    TrackerSparqlCursor* cursor = tracker_sparql_connection_query(connection, query.constData(), nullptr, nullptr);
    if (!cursor)
        return false;
    bool found = false;
    if (tracker_sparql_cursor_next(cursor, nullptr, nullptr)) {
        const QString url = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 0, nullptr));
        const QString count = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 1, nullptr));
        const QString duration = QString::fromUtf8(tracker_sparql_cursor_get_string(cursor, 2, nullptr));
        found = !url.isEmpty();
        Q_UNUSED(count);
        Q_UNUSED(duration);
    }
    g_object_unref(cursor);
    return found;
}

// Lookups one after another the way the renderer makes them: the next query
// starts from the slot that read the previous answer, under one event loop.
int layerLookups(QSparqlConnection& connection, const QStringList& queries)
{
    int found = 0;
    int next = 0;
    QEventLoop loop;
    std::function<void()> startNext = [&] {
        if (next == queries.size()) {
            loop.quit();
            return;
        }
        QSparqlResult* result = connection.exec(QSparqlQuery(queries.at(next++)));
        QObject::connect(result, &QSparqlResult::finished, &loop, [&, result] {
            if (result->first()) {
                const QString url = result->stringValue(0);
                const QString count = result->stringValue(1);
                const QString duration = result->stringValue(2);
                Q_UNUSED(count);
                Q_UNUSED(duration);
                found += !url.isEmpty();
            }
            delete result;
            startNext();
        });
    };
    startNext();
    loop.exec();
    return found;
}
} // namespace

class bench_QSparqlTracker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void lookup_data();
    void lookup();

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    RovaTrackerEndpoint m_endpoint;
    QStringList m_queries;
    QList<QByteArray> m_rawQueries;
};

void bench_QSparqlTracker::initTestCase()
{
    for (int i = 0; i < itemCount; ++i) {
        m_queries << metadataQuery.arg(RovaTrackerFixture::item(i).objectId);
        m_rawQueries << m_queries.last().toUtf8();
    }
    m_store = std::make_unique<RovaTrackerFixture>(itemCount);
    QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));

    QVERIFY2(m_endpoint.start(busName), qPrintable(m_endpoint.errorString()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), busName);
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    QString error;
    QVERIFY2(RovaTrackerFixture::seed(connection, itemCount, &error), qPrintable(error));
}

void bench_QSparqlTracker::cleanupTestCase()
{
    m_endpoint.stop();
}

void bench_QSparqlTracker::lookup_data()
{
    QTest::addColumn<bool>("overBus");
    QTest::addColumn<QString>("api");
    for (const bool bus : { false, true }) {
        for (const char* api : { "layer", "raw-async", "raw-sync" }) {
            QTest::addRow("%s %s", bus ? "bus" : "local", api) << bus << QString::fromLatin1(api);
        }
    }
}

void bench_QSparqlTracker::lookup()
{
    QFETCH(bool, overBus);
    QFETCH(QString, api);

    int found = 0;
    if (api == QLatin1String("layer")) {
        QSparqlConnectionOptions options;
        if (overBus)
            options.setOption(QStringLiteral("busName"), busName);
        else
            options.setOption(QStringLiteral("databasePath"), m_store->databasePath());
        QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
        QCOMPARE(layerLookups(connection, m_queries.mid(0, 1)), 1); // opens the store
        QBENCHMARK {
            found = layerLookups(connection, m_queries);
        }
    } else {
        GError* error = nullptr;
        TrackerSparqlConnection* connection = nullptr;
        if (overBus) {
            connection = tracker_sparql_connection_bus_new(busName.toUtf8().constData(), nullptr, nullptr, &error);
        } else {
            GFile* store = g_file_new_for_path(QFile::encodeName(m_store->databasePath()).constData());
            GFile* ontology = tracker_sparql_get_ontology_nepomuk();
            connection = tracker_sparql_connection_new(TRACKER_SPARQL_CONNECTION_FLAGS_NONE, store, ontology, nullptr, &error);
            g_object_unref(ontology);
            g_object_unref(store);
        }
        QVERIFY2(connection, error ? error->message : "no connection");
        RawLookup raw;
        raw.connection = connection;
        const bool async = api == QLatin1String("raw-async");
        QBENCHMARK {
            found = 0;
            for (const QByteArray& query : std::as_const(m_rawQueries))
                found += async ? raw.run(query) : rawSyncLookup(connection, query);
        }
        tracker_sparql_connection_close(connection);
        g_object_unref(connection);
    }
    QCOMPARE(found, itemCount);
}

QTEST_GUILESS_MAIN(bench_QSparqlTracker)
#include "bench_qsparqltracker.moc"
