// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlError>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

#include <glib.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The lookup the renderer runs for every item it plays.
const QString metadataQuery = QStringLiteral(
    "SELECT ?url ?count ?duration WHERE { <%1> nie:url ?url .OPTIONAL { <%1> nie:usageCounter ?count. <%1> nfo:duration ?duration. }}");

const QString abandoned = QStringLiteral("The connection was closed before the query finished");

QSparqlConnectionOptions databaseOptions(const QString& path)
{
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), path);
    return options;
}

// Waits for a result that must not be finished yet and must finish exactly once.
bool finishLater(QSparqlResult* result)
{
    if (result->isFinished())
        return false;
    QSignalSpy spy(result, &QSparqlResult::finished);
    return spy.wait(20000) && spy.count() == 1 && result->isFinished();
}

// Restores the store variables a case changed.
class EnvironmentGuard
{
public:
    EnvironmentGuard() { clear(); }
    ~EnvironmentGuard() { clear(); }
    static void clear()
    {
        qunsetenv("QSPARQL_TRACKER_DATABASE");
        qunsetenv("QSPARQL_TRACKER_BUS_NAME");
    }
};

} // namespace

class tst_QSparqlConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldRunUnderTheDispatcherThisRunAsksFor();
    void shouldOfferTheTrackerDriverOnly();
    void shouldFinishInvalidDriverResultsLaterWithError();

    void shouldAnswerMetadataLookup_data();
    void shouldAnswerMetadataLookup();
    void shouldSeedTheWholeFixture();
    void shouldGiveCellsAsTextAndAsTypedValues_data();
    void shouldGiveCellsAsTextAndAsTypedValues();
    void shouldMoveThroughRows();
    void shouldAnswerAskQueries_data();
    void shouldAnswerAskQueries();
    void shouldApplyInsertAndDeleteUpdates();

    void shouldNotFinishInsideExecEvenWhenDone();
    void shouldFinishInExecOrder();
    void waitForFinishedShouldEmitFinishedOnce();
    void syncExecShouldReturnFinishedResultWithoutSignal();

    void shouldReportStatementErrors_data();
    void shouldReportStatementErrors();
    void shouldReportMissingStores_data();
    void shouldReportMissingStores();
    void shouldPreferOptionsOverEnvironment_data();
    void shouldPreferOptionsOverEnvironment();
    void shouldCreateMissingDatabaseDirectory();
    void shouldShareOneDatabaseBetweenConnections();

    void shouldAbandonQueryOfDeletedResult();
    void shouldAllowDeletingResultInFinishedSlot();
    void shouldFinishOutstandingResultsWhenConnectionDeleted();

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    std::unique_ptr<QSparqlConnection> m_connection;
    QTemporaryDir m_scratch;
};

void tst_QSparqlConnection::initTestCase()
{
    EnvironmentGuard::clear();
    m_store = std::make_unique<RovaTrackerFixture>(40);
    QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
    m_connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(m_store->databasePath()));
    QVERIFY(m_scratch.isValid());
}

void tst_QSparqlConnection::shouldRunUnderTheDispatcherThisRunAsksFor()
{
    const QByteArray dispatcher = QAbstractEventDispatcher::instance()->metaObject()->className();
    QCOMPARE(dispatcher.contains("Glib"), !qEnvironmentVariableIsSet("QT_NO_GLIB"));
}

void tst_QSparqlConnection::shouldOfferTheTrackerDriverOnly()
{
    QCOMPARE(QSparqlConnection::drivers(), QStringList{ QStringLiteral("QTRACKER") });
    QVERIFY(m_connection->isValid());
    QCOMPARE(m_connection->driverName(), QStringLiteral("QTRACKER"));
    QCOMPARE(m_connection->options().option(QStringLiteral("databasePath")).toString(), m_store->databasePath());
}

void tst_QSparqlConnection::shouldFinishInvalidDriverResultsLaterWithError()
{
    QTest::ignoreMessage(QtWarningMsg,
                         "QSparqlConnection: the driver \"QSPARQL_ENDPOINT\" is not available; available drivers: \"QTRACKER\"");
    QSparqlConnection connection(QStringLiteral("QSPARQL_ENDPOINT"));
    QVERIFY(!connection.isValid());
    QCOMPARE(connection.driverName(), QStringLiteral("QSPARQL_ENDPOINT"));

    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(QStringLiteral("ASK {}"))));
    QVERIFY(!result->hasError()); // not yet: the error comes with finished()
    QVERIFY(finishLater(result.get()));
    QVERIFY(result->hasError());
    QCOMPARE(result->lastError().type(), QSparqlError::ConnectionError);
    QCOMPARE(result->lastError().message(), QStringLiteral("The driver \"QSPARQL_ENDPOINT\" is not available"));
    QCOMPARE(result->size(), 0);
    QVERIFY(!result->next());

    // The same connection keeps answering, with the same error.
    std::unique_ptr<QSparqlResult> again(connection.exec(QSparqlQuery(QStringLiteral("ASK {}"))));
    QVERIFY(finishLater(again.get()));
    QCOMPARE(again->lastError(), result->lastError());
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("with usage counter and duration") << 0;
    QTest::newRow("usage counter zero") << 5;
    QTest::newRow("without the optional values") << 3;
    QTest::newRow("last item, without optional values") << 39;
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup()
{
    QFETCH(int, index);
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);

    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(metadataQuery.arg(item.objectId))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), 1);
    QVERIFY(result->first());
    QCOMPARE(result->stringValue(0), item.url);
    if (item.hasCounts) {
        QCOMPARE(result->stringValue(1), QString::number(item.playCount));
        QCOMPARE(result->stringValue(2), QString::number(item.duration));
        QCOMPARE(result->value(1), QVariant(qlonglong(item.playCount)));
        QCOMPARE(result->value(2), QVariant(qlonglong(item.duration)));
    } else {
        QVERIFY(result->stringValue(1).isEmpty());
        QVERIFY(result->stringValue(2).isEmpty());
        QVERIFY(!result->value(1).isValid());
        QVERIFY(!result->value(2).isValid());
    }
    QVERIFY(!result->next());
}

void tst_QSparqlConnection::shouldSeedTheWholeFixture()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(QStringLiteral(
        "SELECT ?s ?url WHERE { ?s a nfo:FileDataObject, nmm:MusicPiece ; nie:url ?url } ORDER BY ?url"))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), 40);
    QStringList urls;
    while (result->next())
        urls << result->stringValue(1);
    QStringList expected;
    for (int i = 0; i < 40; ++i)
        expected << RovaTrackerFixture::item(i).url;
    expected.sort();
    QCOMPARE(urls, expected);

    std::unique_ptr<QSparqlResult> unknown(m_connection->exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:media:40")))));
    QVERIFY(finishLater(unknown.get()));
    QVERIFY(!unknown->hasError());
    QCOMPARE(unknown->size(), 0);
    QVERIFY(!unknown->first());
    QVERIFY(unknown->stringValue(0).isEmpty());
}

void tst_QSparqlConnection::shouldGiveCellsAsTextAndAsTypedValues_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("integer") << QStringLiteral("42") << QStringLiteral("42") << QVariant(qlonglong(42));
    QTest::newRow("negative integer") << QStringLiteral("-7") << QStringLiteral("-7") << QVariant(qlonglong(-7));
    QTest::newRow("double") << QStringLiteral("1.5") << QStringLiteral("1.5") << QVariant(1.5);
    QTest::newRow("boolean") << QStringLiteral("true") << QStringLiteral("true") << QVariant(true);
    QTest::newRow("string") << QStringLiteral("\"Z\\u00fcrich \\\"quoted\\\"\"") << QStringLiteral("Z\u00fcrich \"quoted\"")
                            << QVariant(QStringLiteral("Z\u00fcrich \"quoted\""));
    QTest::newRow("resource") << QStringLiteral("<urn:rova:media:1>") << QStringLiteral("urn:rova:media:1")
                              << QVariant(QUrl(QStringLiteral("urn:rova:media:1")));
    QTest::newRow("date and time") << QStringLiteral("\"2020-01-02T03:04:05Z\"^^xsd:dateTime")
                                   << QStringLiteral("2020-01-02T03:04:05Z")
                                   << QVariant(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
}

void tst_QSparqlConnection::shouldGiveCellsAsTextAndAsTypedValues()
{
    QFETCH(QString, expression);
    QFETCH(QString, text);
    QFETCH(QVariant, value);

    std::unique_ptr<QSparqlResult> result(m_connection->exec(
        QSparqlQuery(QStringLiteral("SELECT ?x ?unbound WHERE { BIND(%1 AS ?x) OPTIONAL { <urn:none> nie:url ?unbound } }").arg(expression))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QVERIFY(result->next());
    QCOMPARE(result->stringValue(0), text);
    QCOMPARE(result->value(0).metaType(), value.metaType());
    QCOMPARE(result->value(0), value);

    QVERIFY(result->stringValue(1).isEmpty());
    QVERIFY(!result->value(1).isValid());
    // Columns that are not there read like unbound ones.
    QVERIFY(result->stringValue(2).isEmpty());
    QVERIFY(!result->value(-1).isValid());
}

void tst_QSparqlConnection::shouldMoveThroughRows()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(QStringLiteral(
        "SELECT ?url WHERE { ?s nie:url ?url } ORDER BY ?url LIMIT 3"))));
    // Nothing to move through before the rows are in.
    QCOMPARE(result->size(), -1);
    QCOMPARE(result->pos(), int(QSparql::BeforeFirstRow));
    QVERIFY(!result->next());
    QVERIFY(!result->first());
    QCOMPARE(result->pos(), int(QSparql::BeforeFirstRow));

    QVERIFY(finishLater(result.get()));
    QCOMPARE(result->size(), 3);
    QCOMPARE(result->pos(), int(QSparql::BeforeFirstRow));
    QVERIFY(!result->isValid());

    // Each step: what it returned, then where it left the result.
    QStringList path;
    auto step = [&](const char* name, bool moved) {
        path << QStringLiteral("%1:%2@%3").arg(QLatin1String(name)).arg(int(moved)).arg(result->pos());
    };
    step("next", result->next());
    step("next", result->next());
    step("next", result->next());
    step("next", result->next());
    step("next", result->next());
    step("previous", result->previous());
    step("previous", result->previous());
    step("last", result->last());
    step("first", result->first());
    step("previous", result->previous());
    step("previous", result->previous());
    step("setPos", result->setPos(1));
    step("setPos", result->setPos(3));
    step("setPos", result->setPos(-5));
    QCOMPARE(path.join(QLatin1Char(' ')),
             QStringLiteral("next:1@0 next:1@1 next:1@2 next:0@-2 next:0@-2 previous:1@2 previous:1@1 last:1@2 "
                            "first:1@0 previous:0@-1 previous:0@-1 setPos:1@1 setPos:0@-2 setPos:0@-1"));

    QVERIFY(result->setPos(2));
    QVERIFY(result->isValid());
    QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(10).url); // item0, item1, item10 in text order
}

void tst_QSparqlConnection::shouldAnswerAskQueries_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("answer");
    QTest::newRow("known item") << QStringLiteral("ASK { <urn:rova:media:7> nie:url ?u }") << true;
    QTest::newRow("unknown item") << QStringLiteral("ASK { <urn:rova:media:700> nie:url ?u }") << false;
}

void tst_QSparqlConnection::shouldAnswerAskQueries()
{
    QFETCH(QString, text);
    QFETCH(bool, answer);
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(text, QSparqlQuery::AskStatement)));
    QVERIFY(result->isBool());
    QVERIFY(!result->isTable());
    QVERIFY(!result->boolValue());
    QVERIFY(finishLater(result.get()));
    QVERIFY(!result->hasError());
    QCOMPARE(result->boolValue(), answer);
}

void tst_QSparqlConnection::shouldApplyInsertAndDeleteUpdates()
{
    const QString lookup = metadataQuery.arg(QStringLiteral("urn:rova:test:update"));

    std::unique_ptr<QSparqlResult> insert(m_connection->exec(QSparqlQuery(
        QStringLiteral("INSERT DATA { <urn:rova:test:update> a nfo:FileDataObject, nmm:MusicPiece ; "
                       "nie:url \"file:///update.ogg\" ; nie:usageCounter 9 ; nfo:duration 300 }"),
        QSparqlQuery::InsertStatement)));
    std::unique_ptr<QSparqlResult> afterInsert(m_connection->exec(QSparqlQuery(lookup)));
    QVERIFY(finishLater(afterInsert.get()));
    QVERIFY(insert->isFinished()); // finished first: same connection, same order
    QVERIFY2(!insert->hasError(), qPrintable(insert->lastError().message()));
    QCOMPARE(insert->size(), 0);
    QVERIFY(afterInsert->first());
    QCOMPARE(afterInsert->stringValue(0), QStringLiteral("file:///update.ogg"));
    QCOMPARE(afterInsert->stringValue(1), QStringLiteral("9"));
    QCOMPARE(afterInsert->stringValue(2), QStringLiteral("300"));

    std::unique_ptr<QSparqlResult> remove(m_connection->exec(QSparqlQuery(
        QStringLiteral("DELETE DATA { <urn:rova:test:update> a rdfs:Resource }"), QSparqlQuery::DeleteStatement)));
    std::unique_ptr<QSparqlResult> afterDelete(m_connection->exec(QSparqlQuery(lookup)));
    QVERIFY(finishLater(afterDelete.get()));
    QVERIFY2(!remove->hasError(), qPrintable(remove->lastError().message()));
    QCOMPARE(afterDelete->size(), 0);
}

void tst_QSparqlConnection::shouldNotFinishInsideExecEvenWhenDone()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(1).objectId))));
    QSignalSpy spy(result.get(), &QSparqlResult::finished);
    // A blocking query behind it on the same connection: when it returns, the
    // first query has run as well, but its answer waits for the event loop.
    std::unique_ptr<QSparqlResult> blocking(m_connection->syncExec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
    QVERIFY(blocking->isFinished());
    QVERIFY(!result->isFinished());
    QCOMPARE(result->size(), -1);
    QCOMPARE(spy.count(), 0);

    QVERIFY(spy.wait(20000));
    QCOMPARE(spy.count(), 1);
    QVERIFY(result->first());
    QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(1).url);
}

void tst_QSparqlConnection::shouldFinishInExecOrder()
{
    QStringList order;
    std::vector<std::unique_ptr<QSparqlResult>> results;
    for (int i = 0; i < 6; ++i) {
        // An error in the middle keeps its place as well.
        const QString text = i == 3 ? QStringLiteral("SELEC broken") : metadataQuery.arg(RovaTrackerFixture::item(i).objectId);
        results.emplace_back(m_connection->exec(QSparqlQuery(text)));
        connect(results.back().get(), &QSparqlResult::finished, this, [&order, i] { order << QString::number(i); });
    }
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 6, 20000);
    QCOMPARE(order.join(QLatin1Char(',')), QStringLiteral("0,1,2,3,4,5"));
    QVERIFY(results[3]->hasError());
    QVERIFY(!results[4]->hasError());
}

void tst_QSparqlConnection::waitForFinishedShouldEmitFinishedOnce()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(2).objectId))));
    QSignalSpy spy(result.get(), &QSparqlResult::finished);
    result->waitForFinished();
    QVERIFY(result->isFinished());
    QCOMPARE(spy.count(), 1);
    QVERIFY(result->first());
    QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(2).url);

    // The answer posted to the event loop meanwhile does not finish it twice.
    std::unique_ptr<QSparqlResult> later(m_connection->exec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
    QVERIFY(finishLater(later.get()));
    QCOMPARE(spy.count(), 1);
    result->waitForFinished();
    QCOMPARE(spy.count(), 1);
}

void tst_QSparqlConnection::syncExecShouldReturnFinishedResultWithoutSignal()
{
    std::unique_ptr<QSparqlResult> result(m_connection->syncExec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(4).objectId))));
    QVERIFY(result->isFinished());
    QSignalSpy spy(result.get(), &QSparqlResult::finished);
    QVERIFY(result->next());
    QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(4).url);

    std::unique_ptr<QSparqlResult> later(m_connection->exec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
    QVERIFY(finishLater(later.get()));
    QCOMPARE(spy.count(), 0);
}

void tst_QSparqlConnection::shouldReportStatementErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSparqlQuery::StatementType>("type");
    QTest::addColumn<QString>("messageStart");

    QTest::newRow("syntax error") << QStringLiteral("SELEC ?x WHERE { ?x ?y ?z }") << QSparqlQuery::SelectStatement
                                  << QStringLiteral("Parser error at byte 0");
    QTest::newRow("empty query") << QString() << QSparqlQuery::SelectStatement << QStringLiteral("Parser error at byte 0");
    QTest::newRow("unknown property") << QStringLiteral("SELECT ?x WHERE { ?x nie:noSuchThing ?y }")
                                      << QSparqlQuery::SelectStatement << QStringLiteral("Unknown property '");
    QTest::newRow("query sent as update") << QStringLiteral("SELECT ?x WHERE { ?x nie:url ?y }")
                                          << QSparqlQuery::InsertStatement << QStringLiteral("Parser error");
    QTest::newRow("update against the ontology")
        << QStringLiteral("INSERT DATA { <urn:rova:untyped> nie:url \"file:///x\" }") << QSparqlQuery::InsertStatement
        << QStringLiteral("Subject urn:rova:untyped is not");
}

void tst_QSparqlConnection::shouldReportStatementErrors()
{
    QFETCH(QString, text);
    QFETCH(QSparqlQuery::StatementType, type);
    QFETCH(QString, messageStart);

    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(text, type)));
    QVERIFY(finishLater(result.get()));
    QVERIFY(result->hasError());
    QCOMPARE(result->lastError().type(), QSparqlError::StatementError);
    QVERIFY2(result->lastError().message().startsWith(messageStart), qPrintable(result->lastError().message()));
    QVERIFY(result->lastError().number() >= 0);
    QCOMPARE(result->size(), 0);

    // The connection is unharmed.
    std::unique_ptr<QSparqlResult> next(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
    QVERIFY(finishLater(next.get()));
    QCOMPARE(next->size(), 1);
}

void tst_QSparqlConnection::shouldReportMissingStores_data()
{
    QTest::addColumn<QString>("databasePath");
    QTest::addColumn<QString>("busName");
    QTest::addColumn<QString>("message");

    const QString blocker = m_scratch.filePath(QStringLiteral("a-file"));
    QTest::newRow("database under a file") << blocker + QStringLiteral("/store") << QString()
                                           << QStringLiteral("Could not create the Tracker database directory \"%1/store\": Not a directory").arg(blocker);
    QTest::newRow("database path is a file") << blocker << QString()
                                             << QStringLiteral("Could not create the Tracker database directory \"%1\": Not a directory").arg(blocker);
    QTest::newRow("no session bus, default endpoint")
        << QString() << QString()
        << QStringLiteral("Could not connect to the D-Bus session bus for the Tracker endpoint \"org.freedesktop.Tracker3.Miner.Files\": ");
    QTest::newRow("no session bus, named endpoint")
        << QString() << QStringLiteral("org.example.Store")
        << QStringLiteral("Could not connect to the D-Bus session bus for the Tracker endpoint \"org.example.Store\": ");
    QTest::newRow("not a bus name") << QString() << QStringLiteral("not a bus name")
                                    << QStringLiteral("\"not a bus name\" is not a valid D-Bus name for a Tracker endpoint");
}

void tst_QSparqlConnection::shouldReportMissingStores()
{
    QFETCH(QString, databasePath);
    QFETCH(QString, busName);
    QFETCH(QString, message);

    QFile blocker(m_scratch.filePath(QStringLiteral("a-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A session bus that is not there.
    const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_scratch.filePath(QStringLiteral("no-bus"))));
    auto restore = qScopeGuard([&] {
        if (oldBus.isNull())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
    });

    QSparqlConnectionOptions options;
    if (!databasePath.isEmpty())
        options.setOption(QStringLiteral("databasePath"), databasePath);
    if (!busName.isEmpty())
        options.setOption(QStringLiteral("busName"), busName);
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    QVERIFY(connection.isValid());

    for (int attempt = 0; attempt < 2; ++attempt) { // and again: no hang, same answer
        std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:media:0")))));
        QVERIFY(finishLater(result.get()));
        QVERIFY(result->hasError());
        QCOMPARE(result->lastError().type(), QSparqlError::ConnectionError);
        QVERIFY2(result->lastError().message().startsWith(message), qPrintable(result->lastError().message()));
        QVERIFY(!result->next());
    }
}

void tst_QSparqlConnection::shouldPreferOptionsOverEnvironment_data()
{
    // A store is told apart by its answer: the fixture answers the lookup, an
    // invalid bus name fails without needing any bus.
    QTest::addColumn<bool>("databaseOption");
    QTest::addColumn<bool>("busOption");
    QTest::addColumn<bool>("databaseVariable");
    QTest::addColumn<bool>("busVariable");
    QTest::addColumn<bool>("answersFromFixture");

    QTest::newRow("database variable alone") << false << false << true << false << true;
    QTest::newRow("bus variable alone") << false << false << false << true << false;
    QTest::newRow("database variable beats bus variable") << false << false << true << true << true;
    QTest::newRow("bus option beats database variable") << false << true << true << false << false;
    QTest::newRow("database option beats bus variable") << true << false << false << true << true;
    QTest::newRow("database option beats bus option") << true << true << false << false << true;
}

void tst_QSparqlConnection::shouldPreferOptionsOverEnvironment()
{
    QFETCH(bool, databaseOption);
    QFETCH(bool, busOption);
    QFETCH(bool, databaseVariable);
    QFETCH(bool, busVariable);
    QFETCH(bool, answersFromFixture);

    EnvironmentGuard guard;
    const QString badBus = QStringLiteral("bad bus name");
    QSparqlConnectionOptions options;
    if (databaseOption)
        options.setOption(QStringLiteral("databasePath"), m_store->databasePath());
    if (busOption)
        options.setOption(QStringLiteral("busName"), badBus);
    if (databaseVariable)
        m_store->makeDefault();
    if (busVariable)
        qputenv("QSPARQL_TRACKER_BUS_NAME", badBus.toUtf8());

    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
    QVERIFY(finishLater(result.get()));
    if (answersFromFixture) {
        QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
        QVERIFY(result->first());
        QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(0).url);
    } else {
        QVERIFY(result->hasError());
        QVERIFY2(result->lastError().message().startsWith(QLatin1Char('"') + badBus), qPrintable(result->lastError().message()));
    }
}

void tst_QSparqlConnection::shouldCreateMissingDatabaseDirectory()
{
    const QString path = m_scratch.filePath(QStringLiteral("new/nested/store"));
    QSparqlConnection connection(QStringLiteral("QTRACKER"), databaseOptions(path));
    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(
        QStringLiteral("SELECT ?s WHERE { ?s a nmm:MusicPiece }"))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), 0); // an empty store with the media ontology
    QVERIFY(QFileInfo(path).isDir());
}

void tst_QSparqlConnection::shouldShareOneDatabaseBetweenConnections()
{
    // Tracker complains through GLib when two handles on one database trip
    // over each other; count what it says.
    int trackerMessages = 0;
    const guint handler = g_log_set_handler(
        "Tracker", GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
        [](const gchar*, GLogLevelFlags, const gchar* message, gpointer count) {
            qDebug("Tracker warned: %s", message);
            ++*static_cast<int*>(count);
        },
        &trackerMessages);
    auto removeHandler = qScopeGuard([handler] { g_log_remove_handler("Tracker", handler); });

    const QString path = m_scratch.filePath(QStringLiteral("shared-store"));
    auto writer = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(path));
    std::unique_ptr<QSparqlResult> insert(writer->exec(QSparqlQuery(
        QStringLiteral("INSERT DATA { <urn:rova:shared> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"file:///shared.flac\" }"),
        QSparqlQuery::InsertStatement)));
    QVERIFY(finishLater(insert.get()));
    QVERIFY2(!insert->hasError(), qPrintable(insert->lastError().message()));

    // The same directory, spelt differently.
    auto reader = std::make_unique<QSparqlConnection>(
        QStringLiteral("QTRACKER"), databaseOptions(m_scratch.filePath(QStringLiteral("new/../shared-store/"))));
    std::unique_ptr<QSparqlResult> read(reader->exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:shared")))));
    QVERIFY(finishLater(read.get()));
    QVERIFY(read->first());
    QCOMPARE(read->stringValue(0), QStringLiteral("file:///shared.flac"));

    // Closed in the order they were opened, then opened again.
    writer.reset();
    std::unique_ptr<QSparqlResult> again(reader->exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:shared")))));
    QVERIFY(finishLater(again.get()));
    QCOMPARE(again->size(), 1);
    reader.reset();
    QSparqlConnection reopened(QStringLiteral("QTRACKER"), databaseOptions(path));
    std::unique_ptr<QSparqlResult> last(reopened.exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:shared")))));
    QVERIFY(finishLater(last.get()));
    QCOMPARE(last->size(), 1);
    QCOMPARE(trackerMessages, 0);
}

void tst_QSparqlConnection::shouldAbandonQueryOfDeletedResult()
{
    int lateSignals = 0;
    QObject observer;
    {
        // Deleted before it ran, deleted after it ran but before its answer
        // was delivered: neither may call back.
        QSparqlResult* early = m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(1).objectId)));
        connect(early, &QSparqlResult::finished, &observer, [&lateSignals] { ++lateSignals; });
        delete early;

        QSparqlResult* ran = m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(2).objectId)));
        connect(ran, &QSparqlResult::finished, &observer, [&lateSignals] { ++lateSignals; });
        std::unique_ptr<QSparqlResult> barrier(m_connection->syncExec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
        delete ran;
    }
    std::unique_ptr<QSparqlResult> after(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(3).objectId))));
    QVERIFY(finishLater(after.get()));
    QVERIFY(after->first());
    QCOMPARE(after->stringValue(0), RovaTrackerFixture::item(3).url);
    QCOMPARE(lateSignals, 0);
}

void tst_QSparqlConnection::shouldAllowDeletingResultInFinishedSlot()
{
    QPointer<QSparqlResult> result = m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(6).objectId)));
    QString url;
    connect(result.data(), &QSparqlResult::finished, this, [&] {
        QSparqlResult* r = result.data();
        if (r->first())
            url = r->stringValue(0);
        delete r;
    });
    QTRY_VERIFY_WITH_TIMEOUT(result.isNull(), 20000);
    QCOMPARE(url, RovaTrackerFixture::item(6).url);
}

void tst_QSparqlConnection::shouldFinishOutstandingResultsWhenConnectionDeleted()
{
    // A "session bus" that accepts connections and never answers: the worker
    // hangs in the handshake while the connection is deleted.
    const QByteArray socketPath = QFile::encodeName(m_scratch.filePath(QStringLiteral("hung-bus")));
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(server >= 0);
    auto closeServer = qScopeGuard([server] { ::close(server); });
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path));
    QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
    QVERIFY(::listen(server, 4) == 0);

    const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socketPath);
    auto restore = qScopeGuard([&] {
        if (oldBus.isNull())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
    });

    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), QStringLiteral("org.example.Hung"));
    auto connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), options);
    std::vector<std::unique_ptr<QSparqlResult>> results;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int i = 0; i < 4; ++i) {
        results.emplace_back(connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(i).objectId))));
        spies.emplace_back(std::make_unique<QSignalSpy>(results.back().get(), &QSparqlResult::finished));
    }

    // The event loop keeps turning while the queries hang.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 20000);
    ticker.stop();
    for (const auto& result : results)
        QVERIFY(!result->isFinished());

    connection.reset();

    for (std::size_t i = 0; i < results.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(spies[i]->count(), 1, 20000);
        QVERIFY(results[i]->isFinished());
        QCOMPARE(results[i]->lastError(), QSparqlError(abandoned, QSparqlError::ConnectionError));
        QCOMPARE(results[i]->size(), 0);
    }
    QCoreApplication::processEvents();
    for (const auto& spy : spies)
        QCOMPARE(spy->count(), 1);
}

QTEST_GUILESS_MAIN(tst_QSparqlConnection)
#include "tst_qsparqlconnection.moc"
