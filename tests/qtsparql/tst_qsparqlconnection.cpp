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
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

#include <glib.h>

#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString busName = QStringLiteral("org.rova.test.Tracker");

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
    return spy.wait(30000) && spy.count() == 1 && result->isFinished();
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

// The pid of this process's own child that serves \a name as an endpoint, or 0:
// only that process is ever stopped.
pid_t endpointChild(const QString& name)
{
    const QString tasks = QStringLiteral("/proc/self/task/");
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks + task + QStringLiteral("/children"));
        const QList<QByteArray> pids = children.open(QIODevice::ReadOnly) ? children.readAll().split(' ') : QList<QByteArray>();
        for (const QByteArray& pid : pids) {
            QFile command(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)));
            const QList<QByteArray> args = command.open(QIODevice::ReadOnly) ? command.readAll().split('\0') : QList<QByteArray>();
            if (args.contains("--dbus-service") && args.contains(name.toUtf8()))
                return pid.toInt();
        }
    }
    return 0;
}

} // namespace

class tst_QSparqlConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldCompareErrorsAndStoreOptionsByName();
    void shouldFinishInvalidDriverResultsLaterWithError();

    void shouldAnswerMetadataLookup_data();
    void shouldAnswerMetadataLookup();
    void shouldGiveCellsAsTextAndAsTypedValues_data();
    void shouldGiveCellsAsTextAndAsTypedValues();
    void shouldMoveThroughRows();
    void shouldAnswerAskQueries();
    void shouldFinishLiveResultsOnceInExecOrder();
    void shouldReportStatementErrors_data();
    void shouldReportStatementErrors();

    void shouldOpenTheStoreOptionsOrEnvironmentName_data();
    void shouldOpenTheStoreOptionsOrEnvironmentName();
    void shouldCreateShareAndUpdateOneDatabase();
    void shouldOpenDatabasesWithoutWaitingForOthers();
    void shouldFinishOutstandingResultsWhenConnectionDeleted_data();
    void shouldFinishOutstandingResultsWhenConnectionDeleted();
    void shouldLetGoAtOnceOfEndpointHangingInOpen();
    void shouldReportEndpointNotThereOrGone();

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    std::unique_ptr<QSparqlConnection> m_connection; // the local store
    RovaTrackerEndpoint m_endpoint; // a real endpoint on a private session bus
    std::unique_ptr<QSparqlConnection> m_remote; // the endpoint
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

    QVERIFY2(m_endpoint.start(busName), qPrintable(m_endpoint.errorString()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
    // Default options, as the renderer makes its connection: the environment decides.
    qputenv("QSPARQL_TRACKER_BUS_NAME", busName.toUtf8());
    m_remote = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"));
    clearStoreVariables();
    QString error;
    QVERIFY2(RovaTrackerFixture::seed(*m_remote, 20, &error), qPrintable(error));
}

void tst_QSparqlConnection::cleanupTestCase()
{
    m_remote.reset();
    m_endpoint.stop();
    QVERIFY(!m_endpoint.isRunning());
}

void tst_QSparqlConnection::shouldCompareErrorsAndStoreOptionsByName()
{
    const QSparqlError error(QStringLiteral("m"), QSparqlError::StatementError, 5);
    QVERIFY(error.isValid());
    QVERIFY(!QSparqlError().isValid());
    QVERIFY(error != QSparqlError(QStringLiteral("n"), QSparqlError::StatementError, 5));
    QVERIFY(error != QSparqlError(QStringLiteral("m"), QSparqlError::BackendError, 5));
    QVERIFY(error != QSparqlError(QStringLiteral("m"), QSparqlError::StatementError, 6));

    QSparqlConnectionOptions options;
    QCOMPARE(options.port(), -1);
    options.setDatabaseName(QStringLiteral("db"));
    options.setUserName(QStringLiteral("me"));
    options.setPassword(QStringLiteral("secret"));
    options.setHostName(QStringLiteral("localhost"));
    options.setPath(QStringLiteral("/sparql"));
    options.setPort(8080);
    QStringList stored;
    for (const char* name : {"databaseName", "userName", "password", "hostName", "path", "port"})
        stored << options.option(QLatin1String(name)).toString();
    QCOMPARE(stored.join(QLatin1Char(',')), QStringLiteral("db,me,secret,localhost,/sparql,8080"));
    QCOMPARE(options.port(), 8080);
}

void tst_QSparqlConnection::shouldFinishInvalidDriverResultsLaterWithError()
{
    QCOMPARE(QSparqlConnection::drivers(), QStringList{ QStringLiteral("QTRACKER") });
    QTest::ignoreMessage(QtWarningMsg,
                         "QSparqlConnection: the driver \"QSPARQL_ENDPOINT\" is not available; available drivers: \"QTRACKER\"");
    QSparqlConnection connection(QStringLiteral("QSPARQL_ENDPOINT"));
    QVERIFY(!connection.isValid());
    for (int attempt = 0; attempt < 2; ++attempt) { // the connection keeps answering the same
        std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(QStringLiteral("ASK {}"))));
        QVERIFY(!result->hasError()); // not yet: the error comes with finished()
        QVERIFY(finishLater(result.get()));
        QCOMPARE(result->lastError(), QSparqlError(QStringLiteral("The driver \"QSPARQL_ENDPOINT\" is not available"),
                                                   QSparqlError::ConnectionError));
        QCOMPARE(result->size(), 0);
    }
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup_data()
{
    QTest::addColumn<bool>("remote");
    QTest::addColumn<int>("index");
    QTest::newRow("with usage counter and duration") << false << 0;
    QTest::newRow("usage counter zero") << false << 5;
    QTest::newRow("without the optional values") << false << 3;
    QTest::newRow("last item, without optional values") << false << 39;
    QTest::newRow("one past the seeded items") << false << 40;
    QTest::newRow("endpoint, with usage counter and duration") << true << 1;
    QTest::newRow("endpoint, without the optional values") << true << 7;
    QTest::newRow("endpoint, one past the seeded items") << true << 20;
}

void tst_QSparqlConnection::shouldAnswerMetadataLookup()
{
    QFETCH(bool, remote);
    QFETCH(int, index);
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);
    const bool seeded = index < (remote ? 20 : 40);
    std::unique_ptr<QSparqlResult> result((remote ? m_remote : m_connection)->exec(lookup(index)));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), seeded ? 1 : 0);
    QCOMPARE(result->first(), seeded);
    QCOMPARE(result->stringValue(0), seeded ? item.url : QString());
    const bool counts = seeded && item.hasCounts;
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
    QTest::newRow("date and time") << QStringLiteral("\"2020-01-02T03:04:05Z\"^^xsd:dateTime") << QStringLiteral("2020-01-02T03:04:05Z")
                                   << QVariant(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
}

void tst_QSparqlConnection::shouldGiveCellsAsTextAndAsTypedValues()
{
    QFETCH(QString, expression);
    QFETCH(QString, text);
    QFETCH(QVariant, value);

    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(
        QStringLiteral("SELECT ?x ?unbound WHERE { BIND(%1 AS ?x) OPTIONAL { <urn:none> nie:url ?unbound } }").arg(expression))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(result->next(), qPrintable(result->lastError().message()));
    QCOMPARE(result->stringValue(0), text);
    QCOMPARE(result->value(0).metaType(), value.metaType());
    QCOMPARE(result->value(0), value);
    // Columns that are not there read like unbound ones.
    QVERIFY(result->stringValue(1).isEmpty() && result->stringValue(2).isEmpty());
    QVERIFY(!result->value(1).isValid() && !result->value(-1).isValid());
}

void tst_QSparqlConnection::shouldMoveThroughRows()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(QStringLiteral(
        "SELECT ?url WHERE { ?s nie:url ?url } ORDER BY ?url LIMIT 3"))));
    // Nothing to move through before the rows are in.
    QCOMPARE(result->size(), -1);
    QVERIFY(!result->next());
    QVERIFY(!result->first());
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

void tst_QSparqlConnection::shouldFinishLiveResultsOnceInExecOrder()
{
    // finished() of each result that is still there, in exec order, an error in the middle too.
    QString order;
    std::vector<std::unique_ptr<QSparqlResult>> results;
    for (int i = 0; i < 6; ++i) {
        results.emplace_back(m_connection->exec(i == 3 ? QSparqlQuery(QStringLiteral("SELEC broken")) : lookup(i)));
        connect(results.back().get(), &QSparqlResult::finished, this, [&order, i] { order += QString::number(i); });
    }
    results[1].reset(); // most likely before its query ran
    // A blocking query behind them: when it returns, they have run as well, but
    // their answers wait for the event loop. It emits nothing itself.
    std::unique_ptr<QSparqlResult> blocking(m_connection->syncExec(lookup(4)));
    connect(blocking.get(), &QSparqlResult::finished, this, [&order] { order += QLatin1Char('b'); });
    QVERIFY(blocking->next());
    QCOMPARE(blocking->stringValue(0), RovaTrackerFixture::item(4).url);
    results[2].reset(); // after its query ran, before its answer arrived
    QVERIFY(!results[0]->isFinished());
    QCOMPARE(results[0]->size(), -1);
    results[0]->waitForFinished();
    QCOMPARE(order, QStringLiteral("0"));
    QVERIFY(results[0]->first());
    QCOMPARE(results[0]->stringValue(0), RovaTrackerFixture::item(0).url);

    // A result may also go in its own finished().
    QPointer<QSparqlResult> last = m_connection->exec(lookup(5));
    connect(last.data(), &QSparqlResult::finished, this, [&] {
        order += QStringLiteral("L");
        delete last.data();
    });
    QTRY_VERIFY_WITH_TIMEOUT(last.isNull(), 20000);
    results[0]->waitForFinished();
    QCoreApplication::processEvents();
    QCOMPARE(order, QStringLiteral("0345L")); // the answer posted for 0 meanwhile finishes nothing twice
    QVERIFY(results[3]->hasError());
    QVERIFY(!results[4]->hasError());
}

void tst_QSparqlConnection::shouldReportStatementErrors_data()
{
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSparqlQuery::StatementType>("type");
    QTest::addColumn<QString>("messageStart");

    const QString syntaxError = QStringLiteral("SELEC ?x WHERE { ?x ?y ?z }");
    const QSparqlQuery::StatementType select = QSparqlQuery::SelectStatement;
    const QSparqlQuery::StatementType insert = QSparqlQuery::InsertStatement;
    QTest::newRow("syntax error") << false << syntaxError << select << QStringLiteral("Parser error at byte 0");
    QTest::newRow("empty query") << false << QString() << select << QStringLiteral("Parser error at byte 0");
    QTest::newRow("unknown property") << false << QStringLiteral("SELECT ?x WHERE { ?x nie:noSuchThing ?y }") << select
                                      << QStringLiteral("Unknown property '");
    QTest::newRow("query sent as update") << false << QStringLiteral("SELECT ?x WHERE { ?x nie:url ?y }") << insert
                                          << QStringLiteral("Parser error");
    QTest::newRow("update against the ontology") << false << QStringLiteral("INSERT DATA { <urn:rova:untyped> nie:url \"file:///x\" }")
                                                 << insert << QStringLiteral("Subject urn:rova:untyped is not");
    QTest::newRow("syntax error at the endpoint") << true << syntaxError << select << QStringLiteral("Parser error at byte 0");
}

void tst_QSparqlConnection::shouldReportStatementErrors()
{
    QFETCH(bool, remote);
    QFETCH(QString, text);
    QFETCH(QSparqlQuery::StatementType, type);
    QFETCH(QString, messageStart);

    QSparqlConnection& connection = remote ? *m_remote : *m_connection;
    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(text, type)));
    QVERIFY(finishLater(result.get()));
    QCOMPARE(result->lastError().type(), QSparqlError::StatementError);
    QVERIFY2(result->lastError().message().startsWith(messageStart), qPrintable(result->lastError().message()));
    QVERIFY(result->lastError().number() >= 0);
    QCOMPARE(result->size(), 0);
    // The connection goes on.
    std::unique_ptr<QSparqlResult> next(connection.syncExec(lookup(0)));
    QCOMPARE(next->size(), 1);
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
    options.setOption(QStringLiteral("databasePath"), databaseOption.isEmpty() ? QVariant() : databaseOption);
    options.setOption(QStringLiteral("busName"), busOption.isEmpty() ? QVariant() : busOption);
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
    // How many rows a connection has for the item inserted below, or -1 on an error.
    const auto rows = [](QSparqlConnection& connection) {
        const std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:shared")))));
        return result->hasError() ? -1 : result->size();
    };

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
    auto reader = std::make_unique<QSparqlConnection>(
        QStringLiteral("QTRACKER"), databaseOptions(m_scratch.filePath(QStringLiteral("new/../new/nested/store/"))));
    std::unique_ptr<QSparqlResult> read(reader->exec(QSparqlQuery(metadataQuery.arg(QStringLiteral("urn:rova:shared")))));
    QVERIFY(finishLater(read.get()));
    QVERIFY(read->first());
    QCOMPARE(QStringList({ read->stringValue(0), read->stringValue(1), read->stringValue(2) }),
             QStringList({ QStringLiteral("file:///shared.flac"), QStringLiteral("9"), QStringLiteral("300") }));

    // Closed in the order they were opened, then opened again.
    writer.reset();
    QCOMPARE(rows(*reader), 1);
    reader.reset();
    QSparqlConnection reopened(QStringLiteral("QTRACKER"), databaseOptions(path));
    QCOMPARE(rows(reopened), 1);
    std::unique_ptr<QSparqlResult> remove(reopened.exec(QSparqlQuery(
        QStringLiteral("DELETE DATA { <urn:rova:shared> a rdfs:Resource }"), QSparqlQuery::DeleteStatement)));
    QCOMPARE(rows(reopened), 0);
    QVERIFY2(!remove->hasError(), qPrintable(remove->lastError().message()));
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
        QCOMPARE(result->lastError(), abandonment);
        QCOMPARE(result->size(), 0);
    }
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 4);
}

void tst_QSparqlConnection::shouldLetGoAtOnceOfEndpointHangingInOpen()
{
    const pid_t endpoint = endpointChild(busName);
    QVERIFY(endpoint > 0);
    QCOMPARE(::kill(endpoint, SIGSTOP), 0);
    const auto resume = qScopeGuard([endpoint] { ::kill(endpoint, SIGCONT); }); // reaped by the fixture

    // A bus monitor shows when the open's first call is on its way to the endpoint.
    QProcess monitor;
    QByteArray seen;
    const auto saw = [&](const char* what) { return (seen += monitor.readAllStandardOutput()).contains(what); };
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--address"), m_endpoint.busAddress(), QStringLiteral("destination='%1'").arg(busName)});
    const auto endMonitor = qScopeGuard([&monitor] { monitor.kill(), monitor.waitForFinished(); });
    QTRY_VERIFY(saw("NameLost")); // monitoring

    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), busName);
    auto connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), options);
    std::unique_ptr<QSparqlResult> result(connection->exec(lookup(0)));
    QTRY_VERIFY(saw("method call"));
    QVERIFY(!result->isFinished());

    // Far below the quarter of a minute a D-Bus call waits for its answer.
    QElapsedTimer deleting;
    deleting.start();
    connection.reset();
    QVERIFY2(deleting.elapsed() < 10000, qPrintable(QString::number(deleting.elapsed())));
    QVERIFY(finishLater(result.get()));
    QCOMPARE(result->lastError(), abandonment);
}

void tst_QSparqlConnection::shouldReportEndpointNotThereOrGone()
{
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), QStringLiteral("org.rova.test.Nobody"));
    QSparqlConnection nobody(QStringLiteral("QTRACKER"), options);
    m_endpoint.stopEndpoint();
    const std::pair<QSparqlConnection*, QString> attempts[] = {
        {&nobody, QStringLiteral("Could not reach the Tracker endpoint \"org.rova.test.Nobody\" on the session bus: ")},
        {m_remote.get(), QStringLiteral("The Tracker endpoint \"org.rova.test.Tracker\" failed: ")},
        {m_remote.get(), QStringLiteral("The Tracker endpoint \"org.rova.test.Tracker\" failed: ")}};
    for (const auto& [connection, messageStart] : attempts) {
        std::unique_ptr<QSparqlResult> result(connection->exec(lookup(0)));
        QVERIFY(finishLater(result.get()));
        QCOMPARE(result->lastError().type(), QSparqlError::ConnectionError);
        QVERIFY2(result->lastError().message().startsWith(messageStart), qPrintable(result->lastError().message()));
    }
}

QTEST_GUILESS_MAIN(tst_QSparqlConnection)
#include "tst_qsparqlconnection.moc"
