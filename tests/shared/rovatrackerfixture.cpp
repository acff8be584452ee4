// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <gio/gio.h>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

namespace {
const int seedBatch = 1000;

// Children get SIGKILL when the test process dies, however it dies.
void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void endProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
} // namespace

RovaTrackerFixture::RovaTrackerFixture(int count)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("could not create a temporary directory: ") + m_dir.errorString();
        return;
    }
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("databasePath"), databasePath());
    QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
    seed(connection, count, &m_error);
}

RovaTrackerFixture::~RovaTrackerFixture()
{
    if (m_madeDefault) {
        if (m_hadDefault)
            qputenv("QSPARQL_TRACKER_DATABASE", m_oldDefault);
        else
            qunsetenv("QSPARQL_TRACKER_DATABASE");
    }
}

QString RovaTrackerFixture::databasePath() const
{
    return m_dir.filePath(QStringLiteral("store"));
}

void RovaTrackerFixture::makeDefault()
{
    if (!m_madeDefault) {
        m_hadDefault = qEnvironmentVariableIsSet("QSPARQL_TRACKER_DATABASE");
        m_oldDefault = qgetenv("QSPARQL_TRACKER_DATABASE");
        m_madeDefault = true;
    }
    qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(databasePath()));
}

RovaTrackerFixture::Item RovaTrackerFixture::item(int index)
{
    Item item;
    item.objectId = QStringLiteral("urn:rova:media:%1").arg(index);
    item.url = QStringLiteral("file:///rova/media/item%1.mp3").arg(index);
    item.title = QStringLiteral("Item %1").arg(index);
    item.hasCounts = index % 4 != 3;
    if (item.hasCounts) {
        item.playCount = index % 5;
        item.duration = 60 + index;
    }
    return item;
}

QString RovaTrackerFixture::insertStatement(int first, int count)
{
    QString text = QStringLiteral("INSERT DATA {\n");
    for (int i = first; i < first + count; ++i) {
        const Item it = item(i);
        text += QStringLiteral("<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"%2\" ; nie:title \"%3\"")
                    .arg(it.objectId, it.url, it.title);
        if (it.hasCounts)
            text += QStringLiteral(" ; nie:usageCounter %1 ; nfo:duration %2").arg(it.playCount).arg(it.duration);
        text += QStringLiteral(" .\n");
    }
    text += QStringLiteral("}");
    return text;
}

bool RovaTrackerFixture::seed(QSparqlConnection& connection, int count, QString* error)
{
    for (int first = 0; first < count; first += seedBatch) {
        const int n = qMin(seedBatch, count - first);
        std::unique_ptr<QSparqlResult> result(
            connection.syncExec(QSparqlQuery(insertStatement(first, n), QSparqlQuery::InsertStatement)));
        if (result->hasError()) {
            if (error)
                *error = QStringLiteral("seeding the store failed: ") + result->lastError().message();
            return false;
        }
    }
    return true;
}

RovaTrackerEndpoint::RovaTrackerEndpoint() = default;

RovaTrackerEndpoint::~RovaTrackerEndpoint()
{
    stop();
}

bool RovaTrackerEndpoint::fail(const QString& message)
{
    m_error = message;
    stop();
    return false;
}

bool RovaTrackerEndpoint::start(const QString& busName, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    m_busName = busName;
    if (!m_dir.isValid())
        return fail(QStringLiteral("could not create a temporary directory: ") + m_dir.errorString());
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    const QString tracker = QStandardPaths::findExecutable(QStringLiteral("tracker3"));
    if (daemon.isEmpty() || tracker.isEmpty())
        return fail(QStringLiteral("dbus-daemon or tracker3 is not installed"));

    // A bus of our own: nothing is activated on it, everyone may talk to everyone.
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("could not write the bus configuration"));
    config.write(QStringLiteral(
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:path=%1</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n")
                     .arg(m_dir.filePath(QStringLiteral("bus")))
                     .toUtf8());
    config.close();

    dieWithParent(m_bus);
    m_bus.start(daemon, { QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1") });
    if (!m_bus.waitForStarted(int(deadline.remainingTime())))
        return fail(QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString());
    while (!m_bus.canReadLine()) {
        if (deadline.hasExpired() || !m_bus.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return fail(QStringLiteral("dbus-daemon gave no address: ") + QString::fromLocal8Bit(m_bus.readAllStandardError()));
    }
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    m_endpoint.setProcessEnvironment(environment);
    m_endpoint.setProcessChannelMode(QProcess::MergedChannels);
    dieWithParent(m_endpoint);
    m_endpoint.start(tracker, { QStringLiteral("endpoint"), QStringLiteral("--database"), m_dir.filePath(QStringLiteral("store")),
                                QStringLiteral("--ontology"), QStringLiteral("nepomuk"), QStringLiteral("--dbus-service"),
                                busName, QStringLiteral("--session") });
    if (!m_endpoint.waitForStarted(int(qMax<qint64>(1, deadline.remainingTime()))))
        return fail(QStringLiteral("tracker3 endpoint did not start: ") + m_endpoint.errorString());
    if (!waitForName(int(qMax<qint64>(1, deadline.remainingTime()))))
        return fail(QStringLiteral("tracker3 endpoint did not appear on the bus as \"%1\": %2")
                        .arg(busName, QString::fromLocal8Bit(m_endpoint.readAll())));
    return true;
}

bool RovaTrackerEndpoint::waitForName(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        m_address.toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        g_error_free(error);
        return false;
    }
    bool owned = false;
    while (!owned && !deadline.hasExpired() && m_endpoint.state() == QProcess::Running) {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner",
                                                      g_variant_new("(s)", m_busName.toUtf8().constData()),
                                                      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, &error);
        if (!reply) {
            g_clear_error(&error);
            break;
        }
        gboolean has = FALSE;
        g_variant_get(reply, "(b)", &has);
        g_variant_unref(reply);
        owned = has;
        if (!owned)
            m_endpoint.waitForFinished(20); // a short pause that ends early if the endpoint dies
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return owned;
}

void RovaTrackerEndpoint::stop()
{
    endProcess(m_endpoint);
    endProcess(m_bus);
}

void RovaTrackerEndpoint::stopEndpoint()
{
    endProcess(m_endpoint);
}

bool RovaTrackerEndpoint::isRunning() const
{
    return m_bus.state() != QProcess::NotRunning || m_endpoint.state() != QProcess::NotRunning;
}
