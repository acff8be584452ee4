// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <QtSparql/QtSparql>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {
bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Children get SIGKILL when the test process dies, however it dies.
void dieWithUs(QProcess& process) { process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); }

// Starts a bus of our own in \a dir, on which everyone may talk to everyone, with \a extra in its
// configuration; its address, empty when it gave none.
QString startBus(QProcess& bus, const QDir& dir, const QString& extra, const QDeadlineTimer& deadline)
{
    const QString config = dir.filePath(u"bus.conf"_s);
    if (!writeFile(config, uR"(<busconfig><type>session</type><listen>unix:path=%1</listen>%2<policy context="default">
                           <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
                           </policy></busconfig>)"_s.arg(dir.filePath(u"bus"_s), extra).toUtf8()))
        return {};
    dieWithUs(bus);
    bus.start(u"dbus-daemon"_s, {u"--config-file="_s + config, u"--nofork"_s, u"--print-address=1"_s});
    while (!bus.canReadLine()) {
        if (!bus.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) || deadline.hasExpired())
            return {};
    }
    return QString::fromUtf8(bus.readLine()).trimmed();
}

QByteArray callBus(const QString& address, const QString& method, const QStringList& arguments = {})
{
    QProcess call;
    call.start(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, address, u"--dest"_s, u"org.freedesktop.DBus"_s, u"--object-path"_s,
                                       u"/org/freedesktop/DBus"_s, u"--method"_s, u"org.freedesktop.DBus."_s + method} + arguments);
    return call.waitForFinished(20000) && call.exitCode() == 0 ? call.readAllStandardOutput() : QByteArray();
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
    if (m_madeDefault)
        m_oldDefault ? qputenv("QSPARQL_TRACKER_DATABASE", *m_oldDefault) : qunsetenv("QSPARQL_TRACKER_DATABASE");
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
        QString text = u"INSERT DATA {\n"_s;
        for (int i = first; i < qMin(count, first + 1000); ++i) {
            const Item it = item(i);
            text += u"<%1> a nfo:FileDataObject, nmm:MusicPiece ; nie:url \"%2\" ; nie:title \"%3\"%4 .\n"_s.arg(it.objectId, it.url, it.title,
                    it.hasCounts ? u" ; nie:usageCounter %1 ; nfo:duration %2"_s.arg(it.playCount).arg(it.duration) : QString());
        }
        std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(text + u'}', QSparqlQuery::InsertStatement)));
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
    m_address = startBus(m_bus, QDir(m_dir.path()), QString(), deadline); // nothing is activated on it
    if (m_address.isEmpty())
        return fail(u"dbus-daemon gave no address: %1 %2"_s.arg(m_bus.errorString(), QString::fromLocal8Bit(m_bus.readAllStandardError())));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    m_endpoint.setProcessEnvironment(environment);
    m_endpoint.setProcessChannelMode(QProcess::MergedChannels);
    dieWithUs(m_endpoint);
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
    if (!process.waitForFinished(5000))
        process.kill(), process.waitForFinished(5000);
}

bool RovaTrackerMiner::start(const QString& folder)
{
    const QDir dir(m_dir.path());
    m_address = u"unix:path="_s + dir.filePath(u"bus"_s);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, sub] : {std::pair("HOME", "home"), std::pair("TMPDIR", "tmp"), std::pair("XDG_CONFIG_HOME", "config"),
                                    std::pair("XDG_DATA_HOME", "data"), std::pair("XDG_CACHE_HOME", "cache"),
                                    std::pair("XDG_RUNTIME_DIR", "runtime")}) {
        if (!dir.mkpath(QLatin1String(sub)))
            return fail(u"could not make the miner's private directories"_s);
        environment.insert(QLatin1String(name), dir.filePath(QLatin1String(sub)));
    }
    environment.insert(u"GSETTINGS_BACKEND"_s, u"keyfile"_s);
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, m_address);
    // The miner starts at once and indexes only the folder given below.
    if (!writeFile(dir.filePath(u"config/glib-2.0/settings/keyfile"_s), "[org/freedesktop/tracker/miner/files]\ninitial-sleep=0\n"
                                                                        "index-single-directories=@as []\nindex-recursive-directories=@as []\n"))
        return fail(u"could not write the miner's settings"_s);
    // The desktop's service files, without systemd.
    for (const char* name : {"Files", "Extract"}) {
        QFile in(u"/usr/share/dbus-1/services/org.freedesktop.Tracker3.Miner.%1.service"_s.arg(QLatin1String(name)));
        if (!in.open(QIODevice::ReadOnly)
            || !writeFile(dir.filePath(u"services/"_s + QFileInfo(in).fileName()),
                          QString::fromUtf8(in.readAll()).remove(QRegularExpression(u"^SystemdService=.*\n"_s, QRegularExpression::MultilineOption)).toUtf8()))
            return fail(u"%1 is missing: are tracker-miner-fs and tracker-extract installed?"_s.arg(in.fileName()));
    }
    // The first start creates the miner's database, which takes long on a busy machine.
    m_bus.setProcessEnvironment(environment); // what activated services get
    if (startBus(m_bus, dir, u"<servicedir>%1</servicedir><limit name=\"service_start_timeout\">180000</limit>"_s.arg(dir.filePath(u"services"_s)),
                 QDeadlineTimer(20000)).isEmpty())
        return fail(u"dbus-daemon gave no address: "_s + QString::fromLocal8Bit(m_bus.readAllStandardError()));
    QProcess index;
    index.setProcessEnvironment(environment);
    index.setProcessChannelMode(QProcess::MergedChannels);
    index.start(u"tracker3"_s, {u"index"_s, u"--add"_s, u"--recursive"_s, folder});
    if (!index.waitForFinished(60000) || index.exitStatus() != QProcess::NormalExit || index.exitCode() != 0)
        return fail(u"tracker3 index failed: "_s + QString::fromLocal8Bit(index.readAll()));
    return true;
}

qint64 RovaTrackerMiner::processId(const QString& busName, const QString& program) const
{
    const QByteArray answer = callBus(m_address, u"GetConnectionUnixProcessID"_s, {busName}); // "(uint32 1234,)"
    const qint64 pid = answer.mid(answer.indexOf(' ') + 1).split(',').value(0).toLongLong();
    // Ours: that program, started by this bus (its environment names the bus, with the bus's guid).
    QFile environ(u"/proc/%1/environ"_s.arg(pid));
    if (pid <= 0 || QFileInfo(u"/proc/%1/exe"_s.arg(pid)).symLinkTarget() != program || !environ.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray variables = QByteArray(1, '\0') + environ.readAll();
    const QByteArray ours = QByteArray(1, '\0') + "DBUS_SESSION_BUS_ADDRESS=" + m_address.toUtf8();
    return variables.contains(QByteArray(ours + '\0')) || variables.contains(QByteArray(ours + ',')) ? pid : 0;
}

bool RovaTrackerMiner::removeMinerService()
{
    return QFile::remove(m_dir.filePath(u"services/org.freedesktop.Tracker3.Miner.Files.service"_s))
           && !callBus(m_address, u"ReloadConfig"_s).isEmpty();
}
