// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QtSparql>

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {
// An INSERT DATA update for the items first .. first+count-1.
QString insertStatement(int first, int count)
{
    QString text = u"INSERT DATA {\n"_s;
    for (int i = first; i < first + count; ++i) {
        const RovaTrackerFixture::Item it = RovaTrackerFixture::item(i);
        text += u"<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"%2\" ; nie:title \"%3\""_s.arg(it.objectId, it.url, it.title);
        if (it.hasCounts)
            text += u" ; nie:usageCounter %1 ; nfo:duration %2"_s.arg(it.playCount).arg(it.duration);
        text += u" .\n"_s;
    }
    return text + u"}"_s;
}
} // namespace

RovaTrackerFixture::RovaTrackerFixture(int count)
{
    QSparqlConnectionOptions options;
    options.setOption(u"databasePath"_s, databasePath());
    QSparqlConnection connection(u"QTRACKER"_s, options);
    seed(connection, count, &m_error);
}

RovaTrackerFixture::~RovaTrackerFixture()
{
    if (m_madeDefault && m_oldDefault)
        qputenv("QSPARQL_TRACKER_DATABASE", *m_oldDefault);
    else if (m_madeDefault)
        qunsetenv("QSPARQL_TRACKER_DATABASE");
}

void RovaTrackerFixture::makeDefault()
{
    if (!m_madeDefault && qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE"))
        m_oldDefault = qgetenv("QSPARQL_TRACKER_DATABASE");
    m_madeDefault = true;
    qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databasePath()));
}

RovaTrackerFixture::Item RovaTrackerFixture::item(int index)
{
    const bool hasCounts = index % 4 != 3;
    return Item{u"urn:rova:media:%1"_s.arg(index), u"file:///rova/media/item%1.mp3"_s.arg(index), u"Item %1"_s.arg(index),
                hasCounts, hasCounts ? index % 5 : 0, hasCounts ? 60 + index : 0};
}

bool RovaTrackerFixture::seed(QSparqlConnection& connection, int count, QString* error)
{
    for (int first = 0; first < count; first += 1000) {
        const QSparqlQuery insert(insertStatement(first, qMin(1000, count - first)), QSparqlQuery::InsertStatement);
        std::unique_ptr<QSparqlResult> result(connection.syncExec(insert));
        if (result->hasError()) {
            if (error)
                *error = u"seeding the store failed: "_s + result->lastError().message();
            return false;
        }
    }
    return true;
}

bool RovaTrackerEndpoint::fail(const QString& message)
{
    m_error = message;
    stop();
    return false;
}

bool RovaTrackerEndpoint::start(const QString& busName, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QFile config(m_dir.filePath(u"bus.conf"_s));
    // A bus of our own: nothing is activated on it, everyone may talk to everyone.
    if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly)
        || config.write(uR"(<busconfig><type>session</type><listen>unix:path=%1</listen><policy context="default">
                           <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
                           </policy></busconfig>)"_s.arg(m_dir.filePath(u"bus"_s)).toUtf8()) < 0)
        return fail(u"could not write the bus configuration in a temporary directory"_s);
    config.close();

    // Children get SIGKILL when the test process dies, however it dies.
    for (QProcess* process : {&m_bus, &m_endpoint})
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_bus.start(u"dbus-daemon"_s, {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--print-address=1"_s});
    while (!m_bus.canReadLine()) {
        if (!m_bus.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) || deadline.hasExpired())
            return fail(u"dbus-daemon gave no address: %1 %2"_s.arg(m_bus.errorString(), QString::fromLocal8Bit(m_bus.readAllStandardError())));
    }
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    m_endpoint.setProcessEnvironment(environment);
    m_endpoint.setProcessChannelMode(QProcess::MergedChannels);
    m_endpoint.start(u"tracker3"_s, {u"endpoint"_s, u"--database"_s, m_dir.filePath(u"store"_s), u"--ontology"_s, u"nepomuk"_s,
                                     u"--dbus-service"_s, busName, u"--session"_s});
    QProcess wait; // returns once the name has an owner; the loop gives up early if the endpoint dies
    wait.start(u"gdbus"_s, {u"wait"_s, u"--address"_s, m_address, u"--timeout"_s, QString::number(qMax<qint64>(0, deadline.remainingTime()) / 1000 + 1), busName});
    while (wait.state() != QProcess::NotRunning && !m_endpoint.waitForFinished(10))
        wait.waitForFinished(10);
    if (wait.state() != QProcess::NotRunning || wait.error() == QProcess::FailedToStart || wait.exitStatus() != QProcess::NormalExit
        || wait.exitCode() != 0)
        return fail(u"tracker3 endpoint did not appear on the bus as \"%1\": %2"_s.arg(busName, QString::fromLocal8Bit(m_endpoint.readAll())));
    return true;
}

void RovaTrackerEndpoint::end(QProcess& process)
{
    process.terminate(); // nothing when it does not run
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
