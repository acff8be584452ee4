// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlConnectionOptions>
#include <QtSparql/QSparqlError>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include <glib.h>

#include <csignal>

#include <fcntl.h>
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

// What a finished result says, as one text: "<error type>: <message>", the value of an
// ASK statement, "no rows", or the rows split by '|', each as its first three values
// "<type>:<value>" (an unbound or missing cell is "-:").
QString resultText(QSparqlResult& result)
{
    static const char* const errorTypes[] = {"NoError", "ConnectionError", "StatementError", "TransactionError",
                                             "UnknownError", "BackendError"};
    if (result.hasError())
        return QLatin1String(errorTypes[result.lastError().type()]) + QStringLiteral(": ") + result.lastError().message();
    if (result.isBool())
        return QLatin1String(result.boolValue() ? "true" : "false");
    QStringList rows;
    while (result.next()) {
        QStringList cells;
        for (int column = 0; column < 3; ++column) {
            const QVariant value = result.value(column);
            cells << QLatin1String(value.isValid() ? value.metaType().name() : "-") + QLatin1Char(':') + value.toString();
        }
        rows << cells.join(QLatin1Char(' '));
    }
    return rows.isEmpty() ? QStringLiteral("no rows") : rows.join(QLatin1Char('|'));
}

// What the metadata lookup of item \a index of the fixture answers.
QString lookupAnswer(int index)
{
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);
    return QStringLiteral("QString:") + item.url + QLatin1Char(' ')
            + (item.hasCounts ? QStringLiteral("qlonglong:%1 qlonglong:%2").arg(item.playCount).arg(item.duration) : QStringLiteral("-: -:"));
}

// What \a query gives on \a connection, run synchronously, as resultText().
QString syncAnswer(QSparqlConnection& connection, const QSparqlQuery& query)
{
    const std::unique_ptr<QSparqlResult> result(connection.syncExec(query));
    return resultText(*result);
}

void clearStoreVariables()
{
    qunsetenv("QSPARQL_TRACKER_DATABASE");
    qunsetenv("QSPARQL_TRACKER_BUS_NAME");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The /proc directories of this process's threads.
QStringList threadDirectories()
{
    QStringList threads = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (QString& thread : threads)
        thread.prepend(QStringLiteral("/proc/self/task/"));
    return threads;
}

// The CPU time, in clock ticks, that the query threads of this process have used.
qint64 queryThreadTicks()
{
    qint64 ticks = 0;
    for (const QString& thread : threadDirectories()) {
        const QByteArray stat = readFile(thread + QStringLiteral("/stat"));
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

// The pid of this process's own child started with \a argument, or 0: only that
// process is ever stopped.
pid_t childWith(const QByteArray& argument)
{
    for (const QString& thread : threadDirectories()) {
        for (const QByteArray& pid : readFile(thread + QStringLiteral("/children")).split(' ')) {
            if (readFile(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid))).split('\0').contains(argument))
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
    void initTestCase()
    {
        // The second registration of this test must really run without GLib.
        const QByteArray dispatcher = QAbstractEventDispatcher::instance()->metaObject()->className();
        QCOMPARE(dispatcher.contains("Glib"), !qEnvironmentVariableIsSet("QT_NO_GLIB"));

        // Tracker complains through GLib, for instance when two handles on one database
        // trip over each other: a warning here too.
        g_log_set_handler("Tracker", GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_FLAG_FATAL),
                          [](const gchar*, GLogLevelFlags, const gchar* message, gpointer) { qWarning("Tracker: %s", message); }, nullptr);
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

    void cleanupTestCase()
    {
        m_remote.reset();
        m_endpoint.stop();
        QVERIFY(!m_endpoint.isRunning());
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldCompareErrorsAndReadPortOption()
    {
        const QSparqlError error(QStringLiteral("m"), QSparqlError::StatementError, 5);
        QVERIFY(error.isValid());
        QVERIFY(!QSparqlError().isValid());
        QVERIFY(error != QSparqlError(QStringLiteral("n"), QSparqlError::StatementError, 5));
        QVERIFY(error != QSparqlError(QStringLiteral("m"), QSparqlError::BackendError, 5));
        QVERIFY(error != QSparqlError(QStringLiteral("m"), QSparqlError::StatementError, 6));

        // A port is a number or -1.
        QSparqlConnectionOptions options;
        options.setOption(QStringLiteral("port"), QStringLiteral("none"));
        QCOMPARE(options.port(), -1);
        options.setPort(8080);
        QCOMPARE(options.option(QStringLiteral("port")), QVariant(8080));
    }

    void shouldAnswerLaterWithRowsOrError_data()
    {
        QTest::addColumn<QString>("store"); // "local", "endpoint", "nobody" (a name nobody serves) or "no driver"
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSparqlQuery::StatementType>("type");
        QTest::addColumn<QString>("answer"); // as resultText(); of an error, the start
        const auto row = [](const char* title, const char* store, const QString& text, const QString& answer,
                            QSparqlQuery::StatementType type = QSparqlQuery::SelectStatement) {
            QTest::newRow(title) << QString::fromLatin1(store) << text << type << answer;
        };
        const auto lookupText = [](int index) { return lookup(index).query(); };
        const QString ask = QStringLiteral("ASK { <urn:rova:media:%1> nie:url ?u }");
        const QString syntaxError = QStringLiteral("SELEC ?x WHERE { ?x ?y ?z }");
        const QString parserError = QStringLiteral("StatementError: Parser error at byte 0");
        const QString noRows = QStringLiteral("no rows");

        row("lookup with usage counter and duration", "local", lookupText(0), lookupAnswer(0));
        row("lookup, usage counter zero", "local", lookupText(5), lookupAnswer(5));
        row("lookup without the optional values", "local", lookupText(3), lookupAnswer(3));
        row("lookup one past the seeded items", "local", lookupText(40), noRows);
        const QString bind = QStringLiteral("SELECT ?x ?unbound WHERE { BIND(%1 AS ?x) OPTIONAL { <urn:none> nie:url ?unbound } }");
        row("integer", "local", bind.arg(QStringLiteral("-7")), QStringLiteral("qlonglong:-7 -: -:"));
        row("double", "local", bind.arg(QStringLiteral("1.5")), QStringLiteral("double:1.5 -: -:"));
        row("boolean", "local", bind.arg(QStringLiteral("true")), QStringLiteral("bool:true -: -:"));
        row("string", "local", bind.arg(QStringLiteral("\"Z\\u00fcrich \\\"quoted\\\"\"")), QStringLiteral("QString:Z\u00fcrich \"quoted\" -: -:"));
        row("resource", "local", bind.arg(QStringLiteral("<urn:rova:media:1>")), QStringLiteral("QUrl:urn:rova:media:1 -: -:"));
        row("date and time", "local", bind.arg(QStringLiteral("\"2020-01-02T03:04:05Z\"^^xsd:dateTime")),
            QStringLiteral("QDateTime:2020-01-02T03:04:05.000Z -: -:"));
        row("ask, known item", "local", ask.arg(7), QStringLiteral("true"), QSparqlQuery::AskStatement);
        row("ask, unknown item", "local", ask.arg(700), QStringLiteral("false"), QSparqlQuery::AskStatement);
        row("syntax error", "local", syntaxError, parserError);
        row("empty query", "local", QString(), parserError);
        row("unknown property", "local", QStringLiteral("SELECT ?x WHERE { ?x nie:noSuchThing ?y }"),
            QStringLiteral("StatementError: Unknown property '"));
        row("query sent as update", "local", QStringLiteral("SELECT ?x WHERE { ?x nie:url ?y }"),
            QStringLiteral("StatementError: Parser error"), QSparqlQuery::InsertStatement);
        row("update against the ontology", "local", QStringLiteral("INSERT DATA { <urn:rova:untyped> nie:url \"file:///x\" }"),
            QStringLiteral("StatementError: Subject urn:rova:untyped is not"), QSparqlQuery::InsertStatement);
        row("endpoint lookup with usage counter and duration", "endpoint", lookupText(1), lookupAnswer(1));
        row("endpoint lookup without the optional values", "endpoint", lookupText(7), lookupAnswer(7));
        row("syntax error at the endpoint", "endpoint", syntaxError, parserError);
        row("endpoint nobody serves", "nobody", lookupText(0),
            QStringLiteral("ConnectionError: Could not reach the Tracker endpoint \"org.rova.test.Nobody\" on the session bus: "));
        row("driver that is not there", "no driver", lookupText(0),
            QStringLiteral("ConnectionError: The driver \"QSPARQL_ENDPOINT\" is not available"));
    }

    void shouldAnswerLaterWithRowsOrError()
    {
        QFETCH(QString, store);
        QFETCH(QString, text);
        QFETCH(QSparqlQuery::StatementType, type);
        QFETCH(QString, answer);

        const bool noDriver = store == QLatin1String("no driver");
        if (noDriver) {
            QTest::ignoreMessage(QtWarningMsg,
                                 "QSparqlConnection: the driver \"QSPARQL_ENDPOINT\" is not available; available drivers: \"QTRACKER\"");
        }
        QSparqlConnectionOptions nobody;
        nobody.setOption(QStringLiteral("busName"), QStringLiteral("org.rova.test.Nobody"));
        QSparqlConnection other(noDriver ? QStringLiteral("QSPARQL_ENDPOINT") : QStringLiteral("QTRACKER"), nobody);
        QSparqlConnection& connection = store == QLatin1String("local") ? *m_connection : store == QLatin1String("endpoint") ? *m_remote : other;
        QCOMPARE(connection.isValid(), !noDriver);

        for (int attempt = 0; attempt < 2; ++attempt) { // and again: the connection goes on answering
            std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(text, type)));
            QVERIFY(!result->hasError() && !result->boolValue()); // not before it is finished
            QVERIFY(finishLater(result.get()));
            const QString got = resultText(*result);
            QCOMPARE(result->hasError() ? got.left(answer.size()) : got, answer);
            if (result->hasError())
                QCOMPARE(result->size(), 0);
        }
    }

    void shouldMoveThroughRows()
    {
        std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(QStringLiteral(
            "SELECT ?url WHERE { ?s nie:url ?url } ORDER BY ?url LIMIT 3"))));
        QVERIFY(!result->next() && !result->first()); // nothing to move through before the rows are in
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
        QVERIFY(!result->value(-1).isValid() && result->stringValue(1).isNull()); // columns that are not there
    }

    void shouldFinishLiveResultsOnceInExecOrder()
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
        QCOMPARE(resultText(*blocking), lookupAnswer(4));
        results[2].reset(); // after its query ran, before its answer arrived
        QVERIFY(!results[0]->isFinished());
        QCOMPARE(results[0]->size(), -1);
        results[0]->waitForFinished();
        QCOMPARE(order, QStringLiteral("0"));
        QCOMPARE(resultText(*results[0]), lookupAnswer(0));

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
        QVERIFY(results[3]->hasError() && !results[4]->hasError());
    }

    void shouldOpenTheStoreOptionsOrEnvironmentName_data()
    {
        // Options first, then the environment; the database path before the bus
        // name. A store is told apart by its answer: the fixture gives the item,
        // anything else a connection error. There is no session bus.
        QTest::addColumn<QString>("databaseOption");
        QTest::addColumn<QString>("busOption");
        QTest::addColumn<QString>("databaseVariable");
        QTest::addColumn<QString>("busVariable");
        QTest::addColumn<QString>("answer");

        const QString fixture = m_store->databasePath();
        const QString url = lookupAnswer(0);
        const QString bad = QStringLiteral("bad bus name");
        const QString badMessage = QStringLiteral("ConnectionError: \"bad bus name\" is not a valid D-Bus name for a Tracker endpoint");
        const QString blocker = m_scratch.filePath(QStringLiteral("a-file"));
        const QString noBus = QStringLiteral("ConnectionError: Could not connect to the D-Bus session bus for the Tracker endpoint \"%1\": ");
        const QString none;

        QTest::newRow("database variable alone") << none << none << fixture << none << url;
        QTest::newRow("bus variable alone") << none << none << none << bad << badMessage;
        QTest::newRow("database variable beats bus variable") << none << none << fixture << bad << url;
        QTest::newRow("bus option beats database variable") << none << bad << fixture << none << badMessage;
        QTest::newRow("database option beats bus variable") << fixture << none << none << bad << url;
        QTest::newRow("database option beats bus option") << fixture << bad << none << none << url;
        QTest::newRow("database path is a file") << blocker << none << none << none << QStringLiteral("ConnectionError: Could not create the Tracker database directory \"%1\": Not a directory").arg(blocker);
        QTest::newRow("no session bus, default endpoint")
            << none << none << none << none << noBus.arg(QStringLiteral("org.freedesktop.Tracker3.Miner.Files"));
        QTest::newRow("no session bus, named endpoint")
            << none << QStringLiteral("org.example.Store") << none << none << noBus.arg(QStringLiteral("org.example.Store"));
    }

    void shouldOpenTheStoreOptionsOrEnvironmentName()
    {
        QFETCH(QString, databaseOption);
        QFETCH(QString, busOption);
        QFETCH(QString, databaseVariable);
        QFETCH(QString, busVariable);
        QFETCH(QString, answer);

        QFile blocker(m_scratch.filePath(QStringLiteral("a-file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_scratch.filePath(QStringLiteral("no-bus"))));
        const auto restore = qScopeGuard([this] {
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
            clearStoreVariables();
        });
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
            QCOMPARE(resultText(*result).left(answer.size()), answer);
        }
    }

    void shouldCreateShareAndUpdateOneDatabase()
    {
        const QSparqlQuery check(metadataQuery.arg(QStringLiteral("urn:rova:shared")));
        const QString shared = QStringLiteral("QString:file:///shared.flac qlonglong:9 qlonglong:300");
        const QString none = QStringLiteral("no rows");

        // A directory that is not there yet gets a store with the media ontology.
        const QString path = m_scratch.filePath(QStringLiteral("new/nested/store"));
        auto writer = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), databaseOptions(path));
        QCOMPARE(syncAnswer(*writer, QSparqlQuery(QStringLiteral("INSERT DATA { <urn:rova:shared> a nfo:FileDataObject, nmm:MusicPiece ; "
                                                                "nie:url \"file:///shared.flac\" ; nie:usageCounter 9 ; nfo:duration 300 }"),
                                                  QSparqlQuery::InsertStatement)),
                 none);
        QVERIFY(QFileInfo(path).isDir());
        // The same directory, spelt differently.
        auto reader = std::make_unique<QSparqlConnection>(
            QStringLiteral("QTRACKER"), databaseOptions(m_scratch.filePath(QStringLiteral("new/../new/nested/store/"))));
        QCOMPARE(syncAnswer(*reader, check), shared);

        // Closed in the order they were opened, then opened again.
        writer.reset();
        QCOMPARE(syncAnswer(*reader, check), shared);
        reader.reset();
        QSparqlConnection reopened(QStringLiteral("QTRACKER"), databaseOptions(path));
        QCOMPARE(syncAnswer(reopened, check), shared);
        QCOMPARE(syncAnswer(reopened, QSparqlQuery(QStringLiteral("DELETE DATA { <urn:rova:shared> a rdfs:Resource }"),
                                                   QSparqlQuery::DeleteStatement)),
                 none);
        QCOMPARE(syncAnswer(reopened, check), none);
    }

    void shouldOpenDatabasesWithoutWaitingForOthers()
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
        QCOMPARE(syncAnswer(*other, QSparqlQuery(QStringLiteral("ASK {}"), QSparqlQuery::AskStatement)), QStringLiteral("true"));
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
        QCOMPARE(resultText(*waiting), QStringLiteral("no rows"));
    }

    void shouldFinishOutstandingResultsWhenConnectionDeleted_data()
    {
        QTest::addColumn<QString>("hang");
        QTest::newRow("session bus that never answers the handshake") << "bus";
        QTest::newRow("endpoint that never answers the open") << "endpoint";
        QTest::newRow("local database in the middle of a long query") << "query";
    }

    void shouldFinishOutstandingResultsWhenConnectionDeleted()
    {
        QFETCH(QString, hang);
        // The bus stopped: the worker hangs in the handshake while the connection is deleted.
        // Or the endpoint stopped: it hangs in the open. Or a local database busy counting
        // the rows of a five-way cross join.
        // A bus monitor shows when the open's first call is on its way to the stopped endpoint.
        QProcess monitor;
        QByteArray seen;
        const auto saw = [&](const char* what) { return (seen += monitor.readAllStandardOutput()).contains(what); };
        monitor.start(QStringLiteral("dbus-monitor"),
                      {QStringLiteral("--address"), m_endpoint.busAddress(), QStringLiteral("destination='%1'").arg(busName)});
        const auto endMonitor = qScopeGuard([&monitor] { monitor.kill(), monitor.waitForFinished(); });
        QTRY_VERIFY(saw("NameLost")); // monitoring
        const pid_t stopped = hang == QLatin1String("bus") ? childWith("--nofork") : hang == QLatin1String("endpoint") ? childWith(busName.toUtf8()) : 0;
        QCOMPARE(stopped > 0, hang != QLatin1String("query"));
        QVERIFY(!stopped || ::kill(stopped, SIGSTOP) == 0);
        const auto resume = qScopeGuard([stopped] {
            if (stopped)
                ::kill(stopped, SIGCONT); // reaped by the fixture
        });

        QSparqlConnectionOptions options;
        options.setOption(QStringLiteral("busName"), busName);
        if (hang == QLatin1String("query"))
            options = databaseOptions(m_store->databasePath());
        auto connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"), options);
        const qint64 ticksBefore = queryThreadTicks();
        std::vector<std::unique_ptr<QSparqlResult>> results;
        QStringList finished;
        for (int i = 0; i < 4; ++i) {
            results.emplace_back(connection->exec(i > 0 || hang != QLatin1String("query") ? lookup(i) : QSparqlQuery(QStringLiteral(
                "SELECT (COUNT(*) AS ?n) { ?a nie:url ?u . ?b nie:url ?v . ?c nie:url ?w . ?d nie:url ?x . ?e nie:url ?y }"))));
            connect(results.back().get(), &QSparqlResult::finished, this, [&finished, i] { finished << QString::number(i); });
        }

        // The event loop keeps turning while the queries hang.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(0);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 20000);
        if (hang == QLatin1String("query"))
            QTRY_VERIFY(queryThreadTicks() >= ticksBefore + 5); // the count is under way
        if (hang == QLatin1String("endpoint"))
            QTRY_VERIFY(saw("method call"));
        QVERIFY(finished.isEmpty());

        // Far below the quarter of a minute a D-Bus call waits for its answer.
        QElapsedTimer deleting;
        deleting.start();
        connection.reset();
        QVERIFY2(deleting.elapsed() < 10000, qPrintable(QString::number(deleting.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(finished.join(QLatin1Char(',')), QStringLiteral("0,1,2,3"), 20000);
        for (const auto& result : results)
            QCOMPARE(resultText(*result), QStringLiteral("ConnectionError: ") + abandonment.message());
        QCoreApplication::processEvents();
        QCOMPARE(finished.size(), 4);
    }

    void shouldReportEndpointGone()
    {
        m_endpoint.stopEndpoint();
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::unique_ptr<QSparqlResult> result(m_remote->exec(lookup(0)));
            QVERIFY(finishLater(result.get()));
            QVERIFY2(resultText(*result).startsWith(QLatin1String("ConnectionError: The Tracker endpoint \"org.rova.test.Tracker\" failed: ")),
                     qPrintable(resultText(*result)));
        }
    }

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    std::unique_ptr<QSparqlConnection> m_connection; // the local store
    RovaTrackerEndpoint m_endpoint; // a real endpoint on a private session bus
    std::unique_ptr<QSparqlConnection> m_remote; // the endpoint
    QTemporaryDir m_scratch;
};

QTEST_GUILESS_MAIN(tst_QSparqlConnection)
#include "tst_qsparqlconnection.moc"
