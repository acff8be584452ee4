// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <rovarendererplaylisthandler.h>

#include <QtSparql/QtSparql>

#include <QAbstractEventDispatcher>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <glib.h>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString busName = QStringLiteral("org.rova.test.Tracker");

QSparqlQuery lookup(int index)
{
    return QSparqlQuery(RovaRendererPlaylistHandler::basicMetadataQuery.arg(RovaTrackerFixture::item(index).objectId));
}

QSparqlConnectionOptions connectionOptions(const QString& path, const QString& option = u"databasePath"_s)
{
    QSparqlConnectionOptions options;
    options.setOption(option, path);
    return options;
}

const QSparqlError abandonment(u"The connection was closed before the query finished"_s, QSparqlError::ConnectionError);

// Waits for a result that must not be finished yet and must finish exactly once.
bool finishLater(QSparqlResult* result)
{
    QSignalSpy spy(result, &QSparqlResult::finished);
    return !result->isFinished() && spy.wait(30000) && spy.count() == 1 && result->isFinished();
}

// What a finished result says, as one text: "<error type>: <message>", the value of an
// ASK statement, "no rows", or the rows split by '|', each as its first three values
// "<type>:<value>" (an unbound or missing cell is "-:").
QString resultText(QSparqlResult& result)
{
    static const char* const errorTypes[] = {"NoError", "ConnectionError", "StatementError", "TransactionError", "UnknownError", "BackendError"};
    if (result.hasError())
        return QLatin1String(errorTypes[result.lastError().type()]) + QStringLiteral(": ") + result.lastError().message();
    if (result.isBool())
        return QLatin1String(result.boolValue() ? "true" : "false");
    QStringList rows;
    while (result.next()) {
        QStringList cells;
        for (const QVariant& value : {result.value(0), result.value(1), result.value(2)})
            cells << QLatin1String(value.isValid() ? value.metaType().name() : "-") + QLatin1Char(':') + value.toString();
        rows << cells.join(QLatin1Char(' '));
    }
    return rows.isEmpty() ? QStringLiteral("no rows") : rows.join(QLatin1Char('|'));
}

QString lookupAnswer(int index)
{
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);
    return QStringLiteral("QString:") + item.url + QLatin1Char(' ')
            + (item.hasCounts ? QStringLiteral("qlonglong:%1 qlonglong:%2").arg(item.playCount).arg(item.duration) : QStringLiteral("-: -:"));
}

QString syncAnswer(QSparqlConnection& connection, const QSparqlQuery& query)
{
    return resultText(*std::unique_ptr<QSparqlResult>(connection.syncExec(query)));
}

qint64 queryThreadTicks()
{
    qint64 ticks = 0;
    const QDir tasks(u"/proc/self/task"_s);
    for (const QString& thread : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(thread + u"/stat"_s));
        const QByteArray stat = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' '); // from the state on
        if (stat.contains("(qtsparql-worker)"))
            ticks += fields.value(11).toLongLong() + fields.value(12).toLongLong(); // user, system
    }
    return ticks;
}

// Takes the exclusive SQLite lock of \a database through a descriptor of its own
// until that is closed: Tracker, in this process too, waits for it while it opens the database.
int lockDatabase(const QString& database)
{
    const int fd = ::open(QFile::encodeName(database).constData(), O_RDWR | O_CLOEXEC);
    struct flock lock = {};
    lock.l_type = F_WRLCK, lock.l_start = 0x40000000, lock.l_len = 512; // SQLite's lock bytes
    return fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? fd : -1; // a test that gets no lock fails anyway
}

// Every file below \a path (and \a path) with its mode and a hash of its content. When this
// runs as root, \a toNobody gives them to "nobody", so that a child run as nobody meets the
// permissions a user would.
QStringList snapshot(const QString& path)
{
    QStringList files;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    for (QString file = path; !file.isEmpty(); file = it.hasNext() ? it.next() : QString()) {
        QFile f(file);
        const QByteArray content = QFileInfo(file).isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        files += u"%1 %2 %3"_s.arg(file).arg(int(f.permissions()), 0, 16).arg(QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
    }
    files.sort();
    return files;
}

} // namespace

class tst_QSparqlConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The second registration of this test must really run without GLib.
        QCOMPARE(QByteArray(QAbstractEventDispatcher::instance()->metaObject()->className()).contains("Glib"), !qEnvironmentVariableIsSet("QT_NO_GLIB"));

        // Tracker complains through GLib, for instance when two handles on one database
        // trip over each other: a warning here too.
        g_log_set_handler("Tracker", GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_FLAG_FATAL),
                          [](const gchar*, GLogLevelFlags, const gchar* message, gpointer) { qWarning("Tracker: %s", message); }, nullptr);
        qunsetenv("QSPARQL_TRACKER_DATABASE");
        m_store = std::make_unique<RovaTrackerFixture>(40);
        QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
        m_connection = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, connectionOptions(m_store->databasePath()));

        QVERIFY2(m_endpoint.start(busName), qPrintable(m_endpoint.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
        // Default options, as the renderer makes its connection: the environment decides.
        qputenv("QSPARQL_TRACKER_BUS_NAME", busName.toUtf8());
        m_remote = std::make_unique<QSparqlConnection>(u"QTRACKER"_s);
        qunsetenv("QSPARQL_TRACKER_BUS_NAME");
        QString error;
        QVERIFY2(RovaTrackerFixture::seed(*m_remote, 20, &error), qPrintable(error));
    }

    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldCompareErrorsByAllParts()
    {
        const QSparqlError error(u"m"_s, QSparqlError::StatementError, 5);
        QVERIFY(error.isValid() && !QSparqlError().isValid() && error != QSparqlError(u"n"_s, QSparqlError::StatementError, 5)
                && error != QSparqlError(u"m"_s, QSparqlError::BackendError, 5) && error != QSparqlError(u"m"_s, QSparqlError::StatementError, 6));
    }

    void shouldAnswerLaterWithRowsOrError_data()
    {
        // How the connection is made: "name=value" settings, options in lower case, environment
        // variables in upper case, and the driver.
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSparqlQuery::StatementType>("type");
        QTest::addColumn<QString>("answer"); // as resultText(); of an error, the start
        const auto row = [](const char* title, const QStringList& settings, const QString& text, const QString& answer,
                            QSparqlQuery::StatementType type = QSparqlQuery::SelectStatement) {
            QTest::newRow(title) << settings << text << type << answer;
        };
        const QString lookup0 = lookup(0).query();
        const QString ask = u"ASK { <urn:rova:media:%1> nie:url ?u }"_s;
        const QString syntaxError = u"SELEC ?x WHERE { ?x ?y ?z }"_s;
        const QString parserError = u"StatementError: Parser error at byte 0"_s;
        const QStringList local{u"databasePath="_s + m_store->databasePath()};
        const QStringList endpoint{u"busName="_s + busName};

        row("lookup with usage counter and duration", local, lookup0, lookupAnswer(0));
        row("lookup, usage counter zero", local, lookup(5).query(), lookupAnswer(5));
        row("lookup without the optional values", local, lookup(3).query(), lookupAnswer(3));
        row("lookup one past the seeded items", local, lookup(40).query(), u"no rows"_s);
        const QString bind = u"SELECT ?x ?unbound WHERE { BIND(%1 AS ?x) OPTIONAL { <urn:none> nie:url ?unbound } }"_s;
        row("integer", local, bind.arg(u"-7"_s), u"qlonglong:-7 -: -:"_s);
        row("double", local, bind.arg(u"1.5"_s), u"double:1.5 -: -:"_s);
        row("boolean", local, bind.arg(u"true"_s), u"bool:true -: -:"_s);
        row("string", local, bind.arg(u"\"Z\\u00fcrich \\\"quoted\\\"\""_s), u"QString:Z\u00fcrich \"quoted\" -: -:"_s);
        row("resource", local, bind.arg(u"<urn:rova:media:1>"_s), u"QUrl:urn:rova:media:1 -: -:"_s);
        row("date and time", local, bind.arg(u"\"2020-01-02T03:04:05Z\"^^xsd:dateTime"_s), u"QDateTime:2020-01-02T03:04:05.000Z -: -:"_s);
        row("ask, known item", local, ask.arg(7), u"true"_s, QSparqlQuery::AskStatement);
        row("ask, unknown item", local, ask.arg(700), u"false"_s, QSparqlQuery::AskStatement);
        row("syntax error", local, syntaxError, parserError);
        row("empty query", local, QString(), parserError);
        row("unknown property", local, u"SELECT ?x WHERE { ?x nie:noSuchThing ?y }"_s, u"StatementError: Unknown property '"_s);
        row("query sent as update", local, u"SELECT ?x WHERE { ?x nie:url ?y }"_s, u"StatementError: Parser error"_s, QSparqlQuery::InsertStatement);
        row("update against the ontology", local, u"INSERT DATA { <urn:rova:untyped> nie:url \"file:///x\" }"_s, u"StatementError: Subject urn:rova:untyped is not"_s, QSparqlQuery::InsertStatement);
        row("endpoint lookup with usage counter and duration", endpoint, lookup(1).query(), lookupAnswer(1));
        row("endpoint lookup without the optional values", endpoint, lookup(7).query(), lookupAnswer(7));
        row("syntax error at the endpoint", endpoint, syntaxError, parserError);
        row("endpoint nobody serves", {u"busName=org.rova.test.Nobody"_s}, lookup0, u"ConnectionError: Could not reach the Tracker endpoint \"org.rova.test.Nobody\" on the session bus: "_s);
        row("driver that is not there", {u"driver=QSPARQL_ENDPOINT"_s}, lookup0, u"ConnectionError: The driver \"QSPARQL_ENDPOINT\" is not available"_s);

        // Which store: options first, then the environment; the database path before the bus
        // name. There is no session bus in these.
        const QString noBus = u"DBUS_SESSION_BUS_ADDRESS=unix:path="_s + m_scratch.filePath(u"no-bus"_s);
        const QString databaseVariable = u"QSPARQL_TRACKER_DATABASE="_s + m_store->databasePath();
        const QString badBusVariable = u"QSPARQL_TRACKER_BUS_NAME=bad bus name"_s;
        const QString badMessage = u"ConnectionError: \"bad bus name\" is not a valid D-Bus name for a Tracker endpoint"_s;
        const QString noBusMessage = u"ConnectionError: Could not connect to the D-Bus session bus for the Tracker endpoint \"%1\": "_s;
        row("database variable alone", {noBus, databaseVariable}, lookup0, lookupAnswer(0));
        row("bus variable alone", {noBus, badBusVariable}, lookup0, badMessage);
        row("database variable beats bus variable", {noBus, databaseVariable, badBusVariable}, lookup0, lookupAnswer(0));
        row("bus option beats database variable", {noBus, u"busName=bad bus name"_s, databaseVariable}, lookup0, badMessage);
        row("database option beats bus variable", {noBus, local[0], badBusVariable}, lookup0, lookupAnswer(0));
        row("database option beats bus option", {noBus, local[0], u"busName=bad bus name"_s}, lookup0, lookupAnswer(0));
        row("database path is a file", {noBus, u"databasePath=/dev/null"_s}, lookup0, u"ConnectionError: Could not create the Tracker database directory \"/dev/null\": Not a directory"_s);
        row("no session bus, default endpoint", {noBus}, lookup0, noBusMessage.arg(u"org.freedesktop.Tracker3.Miner.Files"_s));
        row("no session bus, named endpoint", {noBus, u"busName=org.example.Store"_s}, lookup0, noBusMessage.arg(u"org.example.Store"_s));
    }

    void shouldAnswerLaterWithRowsOrError()
    {
        QFETCH(QStringList, settings);
        QFETCH(QString, text);
        QFETCH(QSparqlQuery::StatementType, type);
        QFETCH(QString, answer);

        QString driver = u"QTRACKER"_s;
        QSparqlConnectionOptions options;
        const auto restore = qScopeGuard([this, &settings] {
            for (const QString& setting : std::as_const(settings))
                qunsetenv(setting.section(u'=', 0, 0).toLatin1().constData());
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
        });
        for (const QString& setting : std::as_const(settings)) {
            const QString name = setting.section(u'=', 0, 0);
            const QString value = setting.section(u'=', 1);
            if (name == u"driver")
                driver = value;
            else if (name.at(0).isUpper())
                qputenv(name.toLatin1().constData(), QFile::encodeName(value));
            else
                options.setOption(name, value);
        }
        if (driver != u"QTRACKER")
            QTest::ignoreMessage(QtWarningMsg, "QSparqlConnection: the driver \"QSPARQL_ENDPOINT\" is not available; available drivers: \"QTRACKER\"");
        QSparqlConnection connection(driver, options);
        QCOMPARE(connection.isValid(), driver == u"QTRACKER");

        for (int attempt = 0; attempt < 2; ++attempt) { // and again: the same answer, no hang
            std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(text, type)));
            QVERIFY(!result->hasError() && !result->boolValue()); // not before it is finished
            QVERIFY(finishLater(result.get()));
            const QString got = resultText(*result);
            QCOMPARE(result->hasError() ? got.left(answer.size()) : got, answer);
            if (result->hasError())
                QCOMPARE(result->size(), 0);
        }
    }

    void shouldWriteEachBoundValueOnceAsOneTerm_data()
    {
        QTest::addColumn<QVariant>("value");
        // The type the store gives the term and its text, or the start of the error. An IRI the
        // store holds nothing about binds nothing: "IRI:" and the term as written, which the store accepts.
        QTest::addColumn<QString>("answer");
        const QString awkward = u"100%1 pure %3F ?:w ?:v \"quoted\" 'single' back\\slash } . # \n\r\t\b\f \u0001\u007f\u0085 Z\u00fcrich \u266b"_s;
        QTest::newRow("text with markers, quotes, SPARQL and control characters") << QVariant(awkward) << u"QString:"_s + awkward;
        QTest::newRow("integer") << QVariant(-7) << u"qlonglong:-7"_s;
        QTest::newRow("double") << QVariant(0.1) << u"double:0.1"_s;
        QTest::newRow("boolean") << QVariant(false) << u"bool:false"_s;
        QTest::newRow("date and time, as UTC") << QVariant(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::OffsetFromUTC, 3600)) << u"QDateTime:2020-01-02T02:04:05Z"_s;
        QTest::newRow("date and time with milliseconds") << QVariant(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5, 60), Qt::UTC)) << u"QDateTime:2020-01-02T03:04:05.060Z"_s;
        const QString path = u"/m/a?b#c{d}|e^f`g\\h<i>\"j k[l]m%1 %3F\n\u00e9 ?:w.flac"_s;
        const QString encoded = u"file:///m/a%3Fb%23c%7Bd%7D%7Ce%5Ef%60g%5Ch%3Ci%3E%22j%20k[l]m%251%20%253F%0A%C3%A9%20%3F:w.flac"_s;
        QTest::newRow("file URL with characters outside the IRI grammar") << QVariant(QUrl::fromLocalFile(path)) << u"IRI:<"_s + encoded + u'>';
        QTest::newRow("file IRI of a path") << QVariant(QUrl::fromEncoded(QSparqlQuery::fileIri(path).toLatin1())) << u"IRI:<"_s + encoded + u'>';
        QTest::newRow("URN") << QVariant(QUrl(u"urn:album:%C3%9C:B%20x"_s)) << u"IRI:<urn:album:%C3%9C:B%20x>"_s;
        QTest::newRow("nothing bound") << QVariant() << u"StatementError: Parser error"_s;
    }

    void shouldWriteEachBoundValueOnceAsOneTerm()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, answer);
        // ?:w after the value is still filled; the one in the template's literal is not.
        QSparqlQuery query(u"SELECT ?x ?y ?z WHERE { BIND(?:v AS ?x) BIND(?:w AS ?y) BIND(\"?:v\" AS ?z) }"_s);
        query.bindValue(u"?:v"_s, value);
        query.bindValue(u"w"_s, 7);
        QCOMPARE(query.boundValue(u"v"_s), value);
        const std::unique_ptr<QSparqlResult> result(m_connection->syncExec(query));
        if (result->hasError()) { // a failing row shows its error here
            QVERIFY2(resultText(*result).startsWith(answer), qPrintable(resultText(*result)));
            return;
        }
        QVERIFY(result->next());
        QSparqlQuery term(u"?:v"_s);
        term.bindValue(u"v"_s, value);
        QCOMPARE(value.typeId() == QMetaType::QUrl ? QString(u"IRI:"_s + term.preparedQueryText())
                                                   : QString(QLatin1String(result->value(0).metaType().name()) + u':' + result->stringValue(0)),
                 answer);
        QCOMPARE(result->stringValue(1) + u' ' + result->stringValue(2), u"7 ?:v"_s);
    }

    void shouldMoveThroughRows()
    {
        std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(u"SELECT ?url WHERE { ?s nie:url ?url } ORDER BY ?url LIMIT 3"_s)));
        QVERIFY(!result->next() && !result->first()); // nothing to move through before the rows are in
        QVERIFY(finishLater(result.get()) && !result->isValid() && result->pos() == -1);
        QStringList path;
        for (const QString& step : u"next next next next next previous previous last first previous previous setPos:1 setPos:3 setPos:-5"_s.split(u' ')) {
            const bool moved = step == u"next" ? result->next() : step == u"previous" ? result->previous() : step == u"last" ? result->last()
                               : step == u"first" ? result->first() : result->setPos(step.section(u':', 1).toInt());
            path << u"%1:%2@%3"_s.arg(step).arg(int(moved)).arg(result->pos());
        }
        QCOMPARE(path.join(u' '), u"next:1@0 next:1@1 next:1@2 next:0@-2 next:0@-2 previous:1@2 previous:1@1 last:1@2 first:1@0 previous:0@-1 "
                                  "previous:0@-1 setPos:1:1@1 setPos:3:0@-2 setPos:-5:0@-1"_s);
        QCOMPARE(result->size(), 3);
        QVERIFY(result->setPos(2) && result->isValid());
        QCOMPARE(result->stringValue(0), RovaTrackerFixture::item(10).url); // item0, item1, item10 in text order
        QVERIFY(!result->value(-1).isValid() && result->stringValue(1).isNull()); // columns that are not there
    }

    void shouldFinishLiveResultsOnceInExecOrder()
    {
        // finished() of each result that is still there, in exec order, an error in the middle too.
        QString order;
        std::vector<std::unique_ptr<QSparqlResult>> results;
        for (int i = 0; i < 6; ++i) {
            results.emplace_back(m_connection->exec(i == 3 ? QSparqlQuery(u"SELEC broken"_s) : lookup(i)));
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
        QCOMPARE(order, u"0"_s);
        QCOMPARE(resultText(*results[0]), lookupAnswer(0));

        // A result may also go in its own finished().
        QPointer<QSparqlResult> last = m_connection->exec(lookup(5));
        connect(last.data(), &QSparqlResult::finished, this, [&] { order += u'L', delete last.data(); });
        QTRY_VERIFY_WITH_TIMEOUT(last.isNull(), 20000);
        results[0]->waitForFinished();
        QCoreApplication::processEvents();
        QCOMPARE(order, u"0345L"_s); // the answer posted for 0 meanwhile finishes nothing twice
        QVERIFY(results[3]->hasError() && !results[4]->hasError());
    }

    void shouldCreateShareAndUpdateOneDatabase()
    {
        // A directory that is not there yet gets a store with the media ontology.
        const QString path = m_scratch.filePath(u"new/nested/store"_s);
        auto writer = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, connectionOptions(path));
        QVERIFY(RovaTrackerFixture::seed(*writer, 1));
        // The same directory, spelt differently.
        auto reader = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, connectionOptions(m_scratch.filePath(u"new/../new/nested/store/"_s)));
        QCOMPARE(syncAnswer(*reader, lookup(0)), lookupAnswer(0));

        // Closed in the order they were opened, then opened again.
        writer.reset();
        QCOMPARE(syncAnswer(*reader, lookup(0)), lookupAnswer(0));
        reader.reset();
        QSparqlConnection reopened(u"QTRACKER"_s, connectionOptions(path));
        QCOMPARE(syncAnswer(reopened, lookup(0)), lookupAnswer(0));
        QCOMPARE(syncAnswer(reopened, QSparqlQuery(u"DELETE DATA { <urn:rova:media:0> a rdfs:Resource }"_s, QSparqlQuery::DeleteStatement)), u"no rows"_s);
        QCOMPARE(syncAnswer(reopened, lookup(0)), u"no rows"_s);
    }

    void shouldOpenDatabasesWithoutWaitingForOthers()
    {
        const QString locked = m_scratch.filePath(u"locked"_s);
        delete QSparqlConnection(u"QTRACKER"_s, connectionOptions(locked)).syncExec(lookup(0)); // created and closed
        const QString database = QFileInfo(locked + u"/meta.db"_s).canonicalFilePath();
        int lock = lockDatabase(database);
        QVERIFY(lock >= 0);
        const auto unlock = qScopeGuard([&lock] { ::close(lock); }); // before the connection waits for its open
        // Connections start their thread with their first query; those made here go after the lock.
        auto other = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, connectionOptions(m_scratch.filePath(u"other"_s)));
        QSparqlConnection hanging(u"QTRACKER"_s, connectionOptions(locked));
        std::unique_ptr<QSparqlResult> waiting(hanging.exec(lookup(0)));
        const auto timesOpen = [&database] {
            int times = 0;
            const QDir fds(u"/proc/self/fd"_s);
            for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                times += QFileInfo(fds.filePath(fd)).symLinkTarget() == database;
            return times;
        };
        QTRY_VERIFY(timesOpen() >= 2); // the lock and the open, which has begun

        QCOMPARE(syncAnswer(*other, QSparqlQuery(u"ASK {}"_s, QSparqlQuery::AskStatement)), u"true"_s);
        other.reset();
        // The same database: waits for that open, and lets go of it at once when deleted.
        auto second = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, connectionOptions(locked));
        std::unique_ptr<QSparqlResult> abandoned(second->exec(lookup(0)));
        second.reset();
        QVERIFY(finishLater(abandoned.get()));
        QCOMPARE(abandoned->lastError(), abandonment);

        ::close(std::exchange(lock, -1)); // the guard's second close fails harmlessly
        QVERIFY(finishLater(waiting.get()));
        QCOMPARE(resultText(*waiting), u"no rows"_s);
    }

    void shouldFinishOutstandingResultsWhenConnectionDeleted_data()
    {
        QTest::addColumn<QString>("hang");
        QTest::newRow("session bus that never answers the handshake") << u"bus"_s;
        QTest::newRow("endpoint that never answers the open") << u"endpoint"_s;
        QTest::newRow("local database in the middle of a long query (a five-way cross join)") << u"query"_s;
    }

    void shouldFinishOutstandingResultsWhenConnectionDeleted()
    {
        QFETCH(QString, hang);
        const bool local = hang == u"query";
        // A bus monitor shows when the open's first call is on its way to the stopped endpoint.
        QProcess monitor;
        QByteArray seen;
        const auto saw = [&](const char* what) { return (seen += monitor.readAllStandardOutput()).contains(what); };
        monitor.start(u"dbus-monitor"_s, {u"--address"_s, m_endpoint.busAddress(), u"destination='%1'"_s.arg(busName)});
        const auto endMonitor = qScopeGuard([&monitor] { monitor.kill(), monitor.waitForFinished(); });
        QTRY_VERIFY(saw("NameLost")); // monitoring
        const pid_t stopped = local ? 0 : hang == u"bus" ? m_endpoint.busProcessId() : m_endpoint.endpointProcessId();
        QVERIFY(local || (stopped > 0 && ::kill(stopped, SIGSTOP) == 0));
        const auto resume = qScopeGuard([stopped] { if (stopped) ::kill(stopped, SIGCONT); }); // reaped by the fixture

        auto connection = std::make_unique<QSparqlConnection>(u"QTRACKER"_s, local ? connectionOptions(m_store->databasePath())
                                                                                  : connectionOptions(busName, u"busName"_s));
        const qint64 ticksBefore = queryThreadTicks();
        const QSparqlQuery count(u"SELECT (COUNT(*) AS ?n) { ?a nie:url ?u . ?b nie:url ?v . ?c nie:url ?w . ?d nie:url ?x . ?e nie:url ?y }"_s);
        std::vector<std::unique_ptr<QSparqlResult>> results;
        QStringList finished;
        for (int i = 0; i < 4; ++i) {
            results.emplace_back(connection->exec(i == 0 && local ? count : lookup(i)));
            connect(results.back().get(), &QSparqlResult::finished, this, [&finished, i] { finished << QString::number(i); });
        }

        // The event loop keeps turning while the queries hang.
        QTimer ticker;
        QSignalSpy ticks(&ticker, &QTimer::timeout);
        ticker.start(0);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, 20000);
        QTRY_VERIFY(!local || queryThreadTicks() >= ticksBefore + 5); // the count is under way
        QTRY_VERIFY(hang != u"endpoint" || saw("method call"));

        // Far below the quarter of a minute a D-Bus call waits for its answer.
        QElapsedTimer deleting;
        deleting.start();
        connection.reset();
        QVERIFY2(deleting.elapsed() < 10000, qPrintable(QString::number(deleting.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(finished.join(u','), u"0,1,2,3"_s, 20000);
        for (const auto& result : results)
            QCOMPARE(resultText(*result), u"ConnectionError: "_s + abandonment.message());
        QCoreApplication::processEvents();
        QCOMPARE(finished.size(), 4);
    }

    void shouldListStoresItCannotChangeAndLeaveDamagedOnesAsTheyAre_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("answer"); // "%1": the store's directory
        QTest::newRow("store the user cannot write") << u"read-only"_s << lookupAnswer(0);
        const QString damaged = u"ConnectionError: The Tracker store in \"%1\" is damaged (%2); it was left as it is"_s;
        QTest::newRow("garbage instead of the database") << u"garbage"_s << damaged.arg(u"%1"_s, u"meta.db is not a database"_s);
        QTest::newRow("database cut short") << u"truncated"_s << damaged.arg(u"%1"_s, u"meta.db is cut short"_s);
    }
    void shouldListStoresItCannotChangeAndLeaveDamagedOnesAsTheyAre()
    {
        QFETCH(QString, damage);
        QFETCH(QString, answer);
        RovaTrackerFixture store(1);
        QVERIFY2(store.isValid(), qPrintable(store.errorString()));
        const QString path = store.databasePath();
        QFile database(path + u"/meta.db"_s);
        QVERIFY(damage != u"truncated" || database.resize(4096));
        QVERIFY(damage != u"garbage" || (database.open(QIODevice::WriteOnly) && database.write(QByteArray(8192, 'x')) == 8192));
        database.close();
        if (damage == u"read-only") {
            for (const QFileInfo& file : QDir(path).entryInfoList(QDir::Files | QDir::Hidden))
                QVERIFY(QFile::setPermissions(file.filePath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        }
        const auto writable = qScopeGuard([&] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        const QStringList before = snapshot(path);

        // Root writes anything: the child runs without the capabilities that
        // override file permissions, and stays root, so that it can still reach
        // the test program wherever the build lies (a home folder, say).
        QProcess child;
        child.setChildProcessModifier([] {
            if (::geteuid() == 0
                && (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0
                    || ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0
                    || ::prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0) != 0))
                ::_exit(99);
        });
        child.start(QCoreApplication::applicationFilePath(), {u"--lookup-in"_s, path});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), answer.contains(u"%1") ? answer.arg(path) : answer);
        QCOMPARE(QString::fromLocal8Bit(child.readAllStandardError()), QString()); // nor any complaint from Tracker
        QCOMPARE(snapshot(path), before);
    }

    void shouldReportEndpointGone()
    {
        m_endpoint.stopEndpoint();
        // Dialled once more, then one error per query.
        const QString gone = u" The name org.rova.test.Tracker was not provided by any .service files"_s;
        for (const QString& expected : QStringList{u"ConnectionError: The Tracker endpoint \"org.rova.test.Tracker\" went away and could not be reached again:"_s + gone,
                                                   u"ConnectionError: Could not reach the Tracker endpoint \"org.rova.test.Tracker\" on the session bus:"_s + gone}) {
            std::unique_ptr<QSparqlResult> result(m_remote->exec(lookup(0)));
            QVERIFY(finishLater(result.get()));
            QCOMPARE(resultText(*result), expected);
        }
    }

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    std::unique_ptr<QSparqlConnection> m_connection; // the local store
    RovaTrackerEndpoint m_endpoint; // a real endpoint on a private session bus
    std::unique_ptr<QSparqlConnection> m_remote; // the endpoint
    QTemporaryDir m_scratch;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--lookup-in") == 0) { // writes what the lookup of item 0 answers in the store in argv[2]
        QSparqlConnection connection(u"QTRACKER"_s, connectionOptions(QFile::decodeName(argv[2])));
        QTextStream(stdout) << syncAnswer(connection, lookup(0));
        return 0;
    }
    tst_QSparqlConnection test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_qsparqlconnection.moc"
