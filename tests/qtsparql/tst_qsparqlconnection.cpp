// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlConnectionOptions>
#include <QtSparql/QSparqlError>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

#include <glib.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The lookup the renderer runs for every item it plays.
const QString metadataQuery = QStringLiteral(
    "SELECT ?url ?count ?duration WHERE { <%1> nie:url ?url .OPTIONAL { <%1> nie:usageCounter ?count. <%1> nfo:duration ?duration. }}");

QSparqlQuery lookup(int index)
{
    return QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(index).objectId));
}

QSparqlConnectionOptions databaseOptions(const QString& path)
{
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), path);
    return options;
}

const QSparqlError abandonment(QStringLiteral("The connection was closed before the query finished"),
                               QSparqlError::ConnectionError);

// Waits for a result that must not be finished yet and must finish exactly once.
bool finishLater(QSparqlResult* result)
{
    if (result->isFinished())
        return false;
    QSignalSpy spy(result, &QSparqlResult::finished);
    return spy.wait(20000) && spy.count() == 1 && result->isFinished();
}

// Points the session bus somewhere else until the returned guard goes.
auto useSessionBus(const QByteArray& address)
{
    const QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return qScopeGuard([old] {
        if (old.isNull())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", old);
    });
}

void clearStoreVariables()
{
    qunsetenv("QSPARQL_TRACKER_DATABASE");
    qunsetenv("QSPARQL_TRACKER_BUS_NAME");
}

// The CPU time, in clock ticks, that the query threads of this process have used.
qint64 queryThreadTicks()
{
    qint64 ticks = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/stat")));
        const QByteArray stat = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' '); // from the state on
        if (stat.contains("(qtsparql-worker)"))
            ticks += fields.value(11).toLongLong() + fields.value(12).toLongLong(); // user, system
    }
    return ticks;
}

int timesOpenInThisProcess(const QString& path)
{
    int times = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        times += QFileInfo(fds.filePath(fd)).symLinkTarget() == path;
    return times;
}

// Takes the exclusive SQLite lock of \a database through a descriptor of its own
// until that is closed: Tracker, in this process too, waits for it while it opens the database.
int lockDatabase(const QString& database)
{
    const int fd = ::open(QFile::encodeName(database).constData(), O_RDWR | O_CLOEXEC);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_start = 0x40000000; // SQLite's lock bytes
    lock.l_len = 512;
    if (fd < 0 || ::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

class tst_QSparqlConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void updatesAreInsertAndDeleteOnly_data();
    void updatesAreInsertAndDeleteOnly();
    void shouldCompareErrorsByAllParts();
    void shouldStoreOptionsUnderTheirNames();
    void shouldFinishInvalidDriverResultsLaterWithError();

    void shouldAnswerMetadataLookup_data();
    void shouldAnswerMetadataLookup();
    void shouldGiveCellsAsTextAndAsTypedValues_data();
    void shouldGiveCellsAsTextAndAsTypedValues();
    void shouldMoveThroughRows();
    void shouldAnswerAskQueries();

    void shouldFinishOnceAndNeverInsideExec();
    void shouldFinishInExecOrder();

    void shouldReportStatementErrors_data();
    void shouldReportStatementErrors();
    void shouldOpenTheStoreOptionsOrEnvironmentName_data();
    void shouldOpenTheStoreOptionsOrEnvironmentName();
    void shouldCreateShareAndUpdateOneDatabase();
    void shouldOpenDatabasesWithoutWaitingForOthers();

    void shouldAbandonQueryOfDeletedResult();
    void shouldFinishOutstandingResultsWhenConnectionDeleted_data();
    void shouldFinishOutstandingResultsWhenConnectionDeleted();

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    std::unique_ptr<QSparqlConnection> m_connection;
    QTemporaryDir m_scratch;
};

void tst_QSparqlConnection::initTestCase()
{
    // The second registration of this test must really run without GLib.
    const QByteArray dispatcher = QAbstractEventDispatcher::instance()->metaObject()->className();
    QCOMPARE(dispatcher.contains("Glib"), !qEnvironmentVariableIsSet("QT_NO_GLIB"));

    clearStoreVariables();
    m_store = std::make_unique<RovaTrackerFixture>(40);
    QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
    m_connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(m_store->databasePath()));
    QVERIFY(m_connection->isValid());
    QVERIFY(m_scratch.isValid());
}

void tst_QSparqlConnection::updatesAreInsertAndDeleteOnly_data()
{
    QTest::addColumn<QSparqlQuery::StatementType>("type");
    QTest::addColumn<bool>("update");
    QTest::newRow("select") << QSparqlQuery::SelectStatement << false;
    QTest::newRow("ask") << QSparqlQuery::AskStatement << false;
    QTest::newRow("construct") << QSparqlQuery::ConstructStatement << false;
    QTest::newRow("describe") << QSparqlQuery::DescribeStatement << false;
    QTest::newRow("insert") << QSparqlQuery::InsertStatement << true;
    QTest::newRow("delete") << QSparqlQuery::DeleteStatement << true;
}

void tst_QSparqlConnection::updatesAreInsertAndDeleteOnly()
{
    QFETCH(QSparqlQuery::StatementType, type);
    QFETCH(bool, update);
    QSparqlQuery query; // a select statement until told otherwise
    QVERIFY(!query.isUpdate());
    query.setType(type);
    query.setQuery(QStringLiteral("x"));
    QCOMPARE(query.isUpdate(), update);
    QCOMPARE(query.query(), QStringLiteral("x"));
    QCOMPARE(QSparqlQuery(QStringLiteral("x"), type).type(), type);
}

void tst_QSparqlConnection::shouldCompareErrorsByAllParts()
{
    const QSparqlError none;
    QCOMPARE(none.type(), QSparqlError::NoError);
    QCOMPARE(none.number(), -1);
    QVERIFY(none.message().isEmpty());
    QVERIFY(!none.isValid());

    const QSparqlError a(QStringLiteral("m"), QSparqlError::StatementError, 5);
    QVERIFY(a.isValid());
    QVERIFY(a != QSparqlError(QStringLiteral("n"), QSparqlError::StatementError, 5));
    QVERIFY(a != QSparqlError(QStringLiteral("m"), QSparqlError::BackendError, 5));
    QVERIFY(a != QSparqlError(QStringLiteral("m"), QSparqlError::StatementError, 6));
    QSparqlError b;
    b.setMessage(QStringLiteral("m"));
    b.setType(QSparqlError::StatementError);
    b.setNumber(5);
    QCOMPARE(b, a);
}

void tst_QSparqlConnection::shouldStoreOptionsUnderTheirNames()
{
    QSparqlConnectionOptions options;
    QVERIFY(options.isNull());
    QCOMPARE(options.port(), -1);
    options.setDatabaseName(QStringLiteral("db"));
    options.setUserName(QStringLiteral("me"));
    options.setPassword(QStringLiteral("secret"));
    options.setHostName(QStringLiteral("localhost"));
    options.setPath(QStringLiteral("/sparql"));
    options.setPort(8080);
    const QStringList names{ QStringLiteral("databaseName"), QStringLiteral("userName"), QStringLiteral("password"),
                             QStringLiteral("hostName"), QStringLiteral("path"), QStringLiteral("port") };
    QStringList stored;
    for (const QString& name : names)
        stored << options.option(name).toString();
    QCOMPARE(stored.join(QLatin1Char(',')), QStringLiteral("db,me,secret,localhost,/sparql,8080"));
    QCOMPARE(options.port(), 8080);

    // An invalid value removes the option.
    for (const QString& name : names)
        options.setOption(name, QVariant());
    QVERIFY(options.isNull());
    QVERIFY(!options.option(QStringLiteral("hostName")).isValid());
}

void tst_QSparqlConnection::shouldFinishInvalidDriverResultsLaterWithError()
{
    QCOMPARE(QSparqlConnection::drivers(), QStringList{ QStringLiteral("QTRACKER") });
    QTest::ignoreMessage(QtWarningMsg,
                         "QSparqlConnection: the driver \"QSPARQL_ENDPOINT\" is not available; available drivers: \"QTRACKER\"");
    QSparqlConnection connection(QStringLiteral("QSPARQL_ENDPOINT"));
    QVERIFY(!connection.isValid());
    QCOMPARE(connection.driverName(), QStringLiteral("QSPARQL_ENDPOINT"));

    for (int attempt = 0; attempt < 2; ++attempt) { // the connection keeps answering the same
        std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(QStringLiteral("ASK {}"))));
        QVERIFY(!result->hasError()); // not yet: the error comes with finished()
        QVERIFY(finishLater(result.get()));
        QCOMPARE(result->lastError(), QSparqlError(QStringLiteral("The driver \"QSPARQL_ENDPOINT\" is not available"),
                                                   QSparqlError::ConnectionError));
        QCOMPARE(result->size(), 0);
        QVERIFY(!result->next());
    }
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("with usage counter and duration") << 0;
    QTest::newRow("usage counter zero") << 5;
    QTest::newRow("without the optional values") << 3;
    QTest::newRow("last item, without optional values") << 39;
    QTest::newRow("one past the seeded items") << 40;
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup()
{
    QFETCH(int, index);
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);

    std::unique_ptr<QSparqlResult> result(m_connection->exec(lookup(index)));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), index < 40 ? 1 : 0);
    QCOMPARE(result->first(), index < 40);
    QCOMPARE(result->stringValue(0), index < 40 ? item.url : QString());
    const bool counts = index < 40 && item.hasCounts;
    QCOMPARE(result->stringValue(1), counts ? QString::number(item.playCount) : QString());
    QCOMPARE(result->stringValue(2), counts ? QString::number(item.duration) : QString());
    QCOMPARE(result->value(1), counts ? QVariant(qlonglong(item.playCount)) : QVariant());
    QCOMPARE(result->value(2), counts ? QVariant(qlonglong(item.duration)) : QVariant());
    QVERIFY(!result->next());
}

void tst_QSparqlConnection::shouldGiveCellsAsTextAndAsTypedValues_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("integer") << QStringLiteral("-7") << QStringLiteral("-7") << QVariant(qlonglong(-7));
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
    for (int i = 0; i < 5; ++i)
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

void tst_QSparqlConnection::shouldAnswerAskQueries()
{
    const QString ask = QStringLiteral("ASK { <urn:rova:media:%1> nie:url ?u }");
    std::unique_ptr<QSparqlResult> known(m_connection->exec(QSparqlQuery(ask.arg(7), QSparqlQuery::AskStatement)));
    std::unique_ptr<QSparqlResult> unknown(m_connection->exec(QSparqlQuery(ask.arg(700), QSparqlQuery::AskStatement)));
    QVERIFY(known->isBool() && !known->isTable());
    QVERIFY(!known->boolValue()); // not before it is finished
    QVERIFY(finishLater(unknown.get()));
    QVERIFY(!known->hasError() && !unknown->hasError());
    QVERIFY(known->boolValue());
    QVERIFY(!unknown->boolValue());
}

void tst_QSparqlConnection::shouldFinishOnceAndNeverInsideExec()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(lookup(1)));
    QSignalSpy spy(result.get(), &QSparqlResult::finished);
    // A blocking query behind it on the same connection: when it returns, the
    // first query has run as well, but its answer waits for the event loop.
    std::unique_ptr<QSparqlResult> blocking(m_connection->syncExec(lookup(4)));
    QVERIFY(blocking->isFinished());
    QSignalSpy blockingSpy(blocking.get(), &QSparqlResult::finished);
    QVERIFY(blocking->next());
    QCOMPARE(blocking->stringValue(0), RovaTrackerFixture::item(4).url);
    QVERIFY(!result->isFinished());
    QCOMPARE(result->size(), -1);
    QCOMPARE(spy.count(), 0);

    result->waitForFinished();
    QCOMPARE(spy.count(), 1);
    QVERIFY(result->first());
    QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(1).url);

    // The answer posted to the event loop meanwhile finishes nothing twice.
    std::unique_ptr<QSparqlResult> later(m_connection->exec(lookup(2)));
    QVERIFY(finishLater(later.get()));
    result->waitForFinished();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(blockingSpy.count(), 0);
}

void tst_QSparqlConnection::shouldFinishInExecOrder()
{
    QStringList order;
    std::vector<std::unique_ptr<QSparqlResult>> results;
    for (int i = 0; i < 6; ++i) {
        // An error in the middle keeps its place as well.
        results.emplace_back(m_connection->exec(i == 3 ? QSparqlQuery(QStringLiteral("SELEC broken")) : lookup(i)));
        connect(results.back().get(), &QSparqlResult::finished, this, [&order, i] { order << QString::number(i); });
    }
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 6, 20000);
    QCOMPARE(order.join(QLatin1Char(',')), QStringLiteral("0,1,2,3,4,5"));
    QVERIFY(results[3]->hasError());
    QVERIFY(!results[4]->hasError());
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
}

void tst_QSparqlConnection::shouldOpenTheStoreOptionsOrEnvironmentName_data()
{
    // Options first, then the environment; the database path before the bus
    // name. A store is told apart by its answer: the fixture gives the url,
    // anything else a connection error. There is no session bus.
    QTest::addColumn<QString>("databaseOption");
    QTest::addColumn<QString>("busOption");
    QTest::addColumn<QString>("databaseVariable");
    QTest::addColumn<QString>("busVariable");
    QTest::addColumn<QString>("answer");

    const QString fixture = m_store->databasePath();
    const QString url = RovaTrackerFixture::item(0).url;
    const QString bad = QStringLiteral("bad bus name");
    const QString badMessage = QStringLiteral("\"bad bus name\" is not a valid D-Bus name for a Tracker endpoint");
    const QString blocker = m_scratch.filePath(QStringLiteral("a-file"));
    const QString noDirectory = QStringLiteral("Could not create the Tracker database directory \"%1\": Not a directory");
    const QString noBus = QStringLiteral("Could not connect to the D-Bus session bus for the Tracker endpoint \"%1\": ");
    const QString none;

    QTest::newRow("database variable alone") << none << none << fixture << none << url;
    QTest::newRow("bus variable alone") << none << none << none << bad << badMessage;
    QTest::newRow("database variable beats bus variable") << none << none << fixture << bad << url;
    QTest::newRow("bus option beats database variable") << none << bad << fixture << none << badMessage;
    QTest::newRow("database option beats bus variable") << fixture << none << none << bad << url;
    QTest::newRow("database option beats bus option") << fixture << bad << none << none << url;
    QTest::newRow("database under a file") << blocker + QStringLiteral("/store") << none << none << none
                                           << noDirectory.arg(blocker + QStringLiteral("/store"));
    QTest::newRow("database path is a file") << blocker << none << none << none << noDirectory.arg(blocker);
    QTest::newRow("no session bus, default endpoint")
        << none << none << none << none << noBus.arg(QStringLiteral("org.freedesktop.Tracker3.Miner.Files"));
    QTest::newRow("no session bus, named endpoint")
        << none << QStringLiteral("org.example.Store") << none << none << noBus.arg(QStringLiteral("org.example.Store"));
}

void tst_QSparqlConnection::shouldOpenTheStoreOptionsOrEnvironmentName()
{
    QFETCH(QString, databaseOption);
    QFETCH(QString, busOption);
    QFETCH(QString, databaseVariable);
    QFETCH(QString, busVariable);
    QFETCH(QString, answer);

    QFile blocker(m_scratch.filePath(QStringLiteral("a-file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const auto restoreBus = useSessionBus("unix:path=" + QFile::encodeName(m_scratch.filePath(QStringLiteral("no-bus"))));
    const auto restoreStore = qScopeGuard(clearStoreVariables);
    QSparqlConnectionOptions options;
    if (!databaseOption.isEmpty())
        options.setOption(QStringLiteral("databasePath"), databaseOption);
    if (!busOption.isEmpty())
        options.setOption(QStringLiteral("busName"), busOption);
    if (!databaseVariable.isEmpty())
        qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databaseVariable));
    if (!busVariable.isEmpty())
        qputenv("QSPARQL_TRACKER_BUS_NAME", busVariable.toUtf8());
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);

    for (int attempt = 0; attempt < 2; ++attempt) { // and again: no hang, same answer
        std::unique_ptr<QSparqlResult> result(connection.exec(lookup(0)));
        QVERIFY(finishLater(result.get()));
        QCOMPARE(result->lastError().type(), result->hasError() ? QSparqlError::ConnectionError : QSparqlError::NoError);
        const QString got = result->hasError() ? result->lastError().message() : (result->first() ? result->stringValue(0) : QString());
        QVERIFY2(got.startsWith(answer) && !answer.isEmpty(), qPrintable(got));
        QCOMPARE(result->first(), !result->hasError());
    }
}

void tst_QSparqlConnection::shouldCreateShareAndUpdateOneDatabase()
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

    // A directory that is not there yet gets a store with the media ontology.
    const QString path = m_scratch.filePath(QStringLiteral("new/nested/store"));
    auto writer = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(path));
    std::unique_ptr<QSparqlResult> insert(writer->exec(QSparqlQuery(
        QStringLiteral("INSERT DATA { <urn:rova:shared> a nfo:FileDataObject, nmm:MusicPiece ; "
                       "nie:url \"file:///shared.flac\" ; nie:usageCounter 9 ; nfo:duration 300 }"),
        QSparqlQuery::InsertStatement)));
    QVERIFY(finishLater(insert.get()));
    QVERIFY2(!insert->hasError(), qPrintable(insert->lastError().message()));
    QCOMPARE(insert->size(), 0);
    QVERIFY(QFileInfo(path).isDir());

    // The same directory, spelt differently.
    const QSparqlQuery check(metadataQuery.arg(QStringLiteral("urn:rova:shared")));
    auto reader = std::make_unique<QSparqlConnection>(
        QStringLiteral("QTRACKER"), databaseOptions(m_scratch.filePath(QStringLiteral("new/../new/nested/store/"))));
    std::unique_ptr<QSparqlResult> read(reader->exec(check));
    QVERIFY(finishLater(read.get()));
    QVERIFY(read->first());
    QCOMPARE(QStringList({ read->stringValue(0), read->stringValue(1), read->stringValue(2) }),
             QStringList({ QStringLiteral("file:///shared.flac"), QStringLiteral("9"), QStringLiteral("300") }));

    // Closed in the order they were opened, then opened again.
    writer.reset();
    std::unique_ptr<QSparqlResult> again(reader->exec(check));
    QVERIFY(finishLater(again.get()));
    QCOMPARE(again->size(), 1);
    reader.reset();
    QSparqlConnection reopened(QStringLiteral("QTRACKER"), databaseOptions(path));
    std::unique_ptr<QSparqlResult> last(reopened.exec(check));
    QVERIFY(finishLater(last.get()));
    QCOMPARE(last->size(), 1);

    std::unique_ptr<QSparqlResult> remove(reopened.exec(QSparqlQuery(
        QStringLiteral("DELETE DATA { <urn:rova:shared> a rdfs:Resource }"), QSparqlQuery::DeleteStatement)));
    std::unique_ptr<QSparqlResult> afterDelete(reopened.exec(check));
    QVERIFY(finishLater(afterDelete.get()));
    QVERIFY2(!remove->hasError(), qPrintable(remove->lastError().message()));
    QCOMPARE(afterDelete->size(), 0);
    QCOMPARE(trackerMessages, 0);
}

void tst_QSparqlConnection::shouldOpenDatabasesWithoutWaitingForOthers()
{
    const QString locked = m_scratch.filePath(QStringLiteral("locked"));
    delete QSparqlConnection(QStringLiteral("QTRACKER"), databaseOptions(locked)).syncExec(lookup(0)); // created and closed
    const QString database = QFileInfo(locked + QStringLiteral("/meta.db")).canonicalFilePath();
    int lock = lockDatabase(database);
    QVERIFY(lock >= 0);
    // Connections start their thread with their first query; those made here go after the lock.
    auto other = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(m_scratch.filePath(QStringLiteral("other"))));
    QSparqlConnection hanging(QStringLiteral("QTRACKER"), databaseOptions(locked));
    const auto release = [&lock] {
        if (lock >= 0)
            ::close(lock);
        lock = -1;
    };
    const auto releaseFirst = qScopeGuard(release); // before the connection waits for its open
    std::unique_ptr<QSparqlResult> waiting(hanging.exec(lookup(0)));
    QTRY_VERIFY(timesOpenInThisProcess(database) >= 2); // the lock and the open, which has begun

    // Another database meanwhile: opened, used and closed.
    std::unique_ptr<QSparqlResult> answered(other->exec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
    QVERIFY(finishLater(answered.get()));
    QVERIFY2(!answered->hasError(), qPrintable(answered->lastError().message()));
    other.reset();
    // The same database: waits for that open, and lets go of it at once when deleted.
    auto second = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(locked));
    std::unique_ptr<QSparqlResult> abandoned(second->exec(lookup(0)));
    second.reset();
    QVERIFY(finishLater(abandoned.get()));
    QCOMPARE(abandoned->lastError(), abandonment);
    QVERIFY(!waiting->isFinished());

    release();
    QVERIFY(finishLater(waiting.get()));
    QVERIFY2(!waiting->hasError(), qPrintable(waiting->lastError().message()));
}

void tst_QSparqlConnection::shouldAbandonQueryOfDeletedResult()
{
    int lateSignals = 0;
    QObject observer;
    {
        // Deleted before it ran, deleted after it ran but before its answer
        // was delivered: neither may call back.
        QSparqlResult* early = m_connection->exec(lookup(1));
        connect(early, &QSparqlResult::finished, &observer, [&lateSignals] { ++lateSignals; });
        delete early;

        QSparqlResult* ran = m_connection->exec(lookup(2));
        connect(ran, &QSparqlResult::finished, &observer, [&lateSignals] { ++lateSignals; });
        std::unique_ptr<QSparqlResult> barrier(m_connection->syncExec(QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)));
        delete ran;
    }
    // The connection goes on; a result may also go in its own finished().
    QPointer<QSparqlResult> after = m_connection->exec(lookup(3));
    QString url;
    connect(after.data(), &QSparqlResult::finished, this, [&] {
        QSparqlResult* r = after.data();
        if (r->first())
            url = r->stringValue(0);
        delete r;
    });
    QTRY_VERIFY_WITH_TIMEOUT(after.isNull(), 20000);
    QCOMPARE(url, RovaTrackerFixture::item(3).url);
    QCOMPARE(lateSignals, 0);
}

void tst_QSparqlConnection::shouldFinishOutstandingResultsWhenConnectionDeleted_data()
{
    QTest::addColumn<bool>("local");
    QTest::newRow("session bus that never answers") << false;
    QTest::newRow("local database in the middle of a long query") << true;
}

void tst_QSparqlConnection::shouldFinishOutstandingResultsWhenConnectionDeleted()
{
    QFETCH(bool, local);
    // A "session bus" that accepts connections and never answers: the worker
    // hangs in the handshake while the connection is deleted. Or a local
    // database busy counting the rows of a five-way cross join.
    const QByteArray socketPath = QFile::encodeName(m_scratch.filePath(QStringLiteral("hung-bus")));
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(server >= 0);
    auto closeServer = qScopeGuard([server] { ::close(server); });
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path));
    ::unlink(socketPath.constData()); // left by the row before
    QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
    QVERIFY(::listen(server, 4) == 0);
    const auto restore = useSessionBus("unix:path=" + socketPath);

    QSparqlConnectionOptions options = databaseOptions(m_store->databasePath());
    if (!local) {
        options.setOption(QStringLiteral("databasePath"), QVariant());
        options.setOption(QStringLiteral("busName"), QStringLiteral("org.example.Hung"));
    }
    auto connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), options);
    const qint64 ticksBefore = queryThreadTicks();
    std::vector<std::unique_ptr<QSparqlResult>> results;
    QStringList finished;
    for (int i = 0; i < 4; ++i) {
        results.emplace_back(connection->exec(i > 0 || !local ? lookup(i) : QSparqlQuery(QStringLiteral(
            "SELECT (COUNT(*) AS ?n) { ?a nie:url ?u . ?b nie:url ?v . ?c nie:url ?w . ?d nie:url ?x . ?e nie:url ?y }"))));
        connect(results.back().get(), &QSparqlResult::finished, this, [&finished, i] { finished << QString::number(i); });
    }

    // The event loop keeps turning while the queries hang.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 20000);
    ticker.stop();
    if (local)
        QTRY_VERIFY(queryThreadTicks() >= ticksBefore + 5); // the count is under way
    QVERIFY(finished.isEmpty());

    connection.reset();

    QTRY_COMPARE_WITH_TIMEOUT(finished.join(QLatin1Char(',')), QStringLiteral("0,1,2,3"), 20000);
    for (const auto& result : results) {
        QVERIFY(result->isFinished());
        QCOMPARE(result->lastError(), abandonment);
        QCOMPARE(result->size(), 0);
    }
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 4);
}

QTEST_GUILESS_MAIN(tst_QSparqlConnection)
#include "tst_qsparqlconnection.moc"
