// SPDX-License-Identifier: LGPL-2.1-or-later
// The "QTRACKER" driver against a real tracker3 endpoint on a private session bus.
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlError>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QProcess>
#include <QTest>

#include <memory>

#include <csignal>

namespace {
const QString metadataQuery = QStringLiteral(
    "SELECT ?url ?count ?duration WHERE { <%1> nie:url ?url .OPTIONAL { <%1> nie:usageCounter ?count. <%1> nfo:duration ?duration. }}");
const QString busName = QStringLiteral("org.rova.test.Tracker");

bool finishLater(QSparqlResult* result)
{
    if (result->isFinished())
        return false;
    QSignalSpy spy(result, &QSparqlResult::finished);
    return spy.wait(30000) && spy.count() == 1 && result->isFinished();
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

class tst_QSparqlDBus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldAnswerMetadataLookupThroughDefaultOptions_data();
    void shouldAnswerMetadataLookupThroughDefaultOptions();
    void shouldReportStatementErrorsFromEndpoint();
    void shouldReportEndpointThatIsNotThere();
    void shouldLetGoAtOnceOfEndpointHangingInOpen();
    void shouldFinishWithErrorOnceEndpointIsGone();

private:
    RovaTrackerEndpoint m_endpoint;
    std::unique_ptr<QSparqlConnection> m_connection;
};

void tst_QSparqlDBus::initTestCase()
{
    QVERIFY2(m_endpoint.start(busName), qPrintable(m_endpoint.errorString()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_endpoint.busAddress().toUtf8());
    qputenv("QSPARQL_TRACKER_BUS_NAME", busName.toUtf8());
    qunsetenv("QSPARQL_TRACKER_DATABASE");

    // Default options, as the renderer makes its connection: the environment decides.
    m_connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"));
    QString error;
    QVERIFY2(RovaTrackerFixture::seed(*m_connection, 20, &error), qPrintable(error));
}

void tst_QSparqlDBus::cleanupTestCase()
{
    m_connection.reset();
    m_endpoint.stop();
    QVERIFY(!m_endpoint.isRunning());
}

void tst_QSparqlDBus::shouldAnswerMetadataLookupThroughDefaultOptions_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("with usage counter and duration") << 1;
    QTest::newRow("without the optional values") << 7;
}

void tst_QSparqlDBus::shouldAnswerMetadataLookupThroughDefaultOptions()
{
    QFETCH(int, index);
    const RovaTrackerFixture::Item item = RovaTrackerFixture::item(index);
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(metadataQuery.arg(item.objectId))));
    QVERIFY(finishLater(result.get()));
    QVERIFY2(!result->hasError(), qPrintable(result->lastError().message()));
    QCOMPARE(result->size(), 1);
    QVERIFY(result->next());
    QCOMPARE(result->stringValue(0), item.url);
    QCOMPARE(result->stringValue(1), item.hasCounts ? QString::number(item.playCount) : QString());
    QCOMPARE(result->stringValue(2), item.hasCounts ? QString::number(item.duration) : QString());
    QCOMPARE(result->value(2).isValid(), item.hasCounts);
}

void tst_QSparqlDBus::shouldReportStatementErrorsFromEndpoint()
{
    std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(QStringLiteral("SELEC ?x WHERE { ?x ?y ?z }"))));
    QVERIFY(finishLater(result.get()));
    QVERIFY(result->hasError());
    QCOMPARE(result->lastError().type(), QSparqlError::StatementError);
    QVERIFY2(result->lastError().message().startsWith(QLatin1String("Parser error at byte 0")),
             qPrintable(result->lastError().message()));

    std::unique_ptr<QSparqlResult> next(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
    QVERIFY(finishLater(next.get()));
    QCOMPARE(next->size(), 1);
}

void tst_QSparqlDBus::shouldReportEndpointThatIsNotThere()
{
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), QStringLiteral("org.rova.test.Nobody"));
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
    QVERIFY(finishLater(result.get()));
    QVERIFY(result->hasError());
    QCOMPARE(result->lastError().type(), QSparqlError::ConnectionError);
    QVERIFY2(result->lastError().message().startsWith(
                 QLatin1String("Could not reach the Tracker endpoint \"org.rova.test.Nobody\" on the session bus: ")),
             qPrintable(result->lastError().message()));
}

void tst_QSparqlDBus::shouldLetGoAtOnceOfEndpointHangingInOpen()
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

    auto connection = std::make_unique<QSparqlConnection>(QStringLiteral("QTRACKER"));
    std::unique_ptr<QSparqlResult> result(connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
    QTRY_VERIFY(saw("method call"));
    QVERIFY(!result->isFinished());

    // Far below the quarter of a minute a D-Bus call waits for its answer.
    QElapsedTimer deleting;
    deleting.start();
    connection.reset();
    QVERIFY2(deleting.elapsed() < 10000, qPrintable(QString::number(deleting.elapsed())));
    QVERIFY(finishLater(result.get()));
    QCOMPARE(result->lastError(), QSparqlError(QStringLiteral("The connection was closed before the query finished"),
                                               QSparqlError::ConnectionError));
}

void tst_QSparqlDBus::shouldFinishWithErrorOnceEndpointIsGone()
{
    m_endpoint.stopEndpoint();
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<QSparqlResult> result(m_connection->exec(QSparqlQuery(metadataQuery.arg(RovaTrackerFixture::item(0).objectId))));
        QVERIFY(finishLater(result.get()));
        QVERIFY(result->hasError());
        QCOMPARE(result->lastError().type(), QSparqlError::ConnectionError);
        QVERIFY2(result->lastError().message().startsWith(QLatin1String("The Tracker endpoint \"org.rova.test.Tracker\" failed: ")),
                 qPrintable(result->lastError().message()));
    }
}

QTEST_GUILESS_MAIN(tst_QSparqlDBus)
#include "tst_qsparqldbus.moc"
