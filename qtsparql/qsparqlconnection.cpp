// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlconnection.h"
#include "QtSparql/qsparqlquery.h"
#include "QtSparql/qsparqlresult.h"
#include "qsparqlresult_p.h"
#include "qtrackerworker_p.h"

#include <QDebug>

namespace {
const QString& trackerDriverName() { static const QString name = QStringLiteral("QTRACKER"); return name; }
const QString& busNameOption() { static const QString name = QStringLiteral("busName"); return name; }
const QString& databasePathOption() { static const QString name = QStringLiteral("databasePath"); return name; }
const char busNameVariable[] = "QSPARQL_TRACKER_BUS_NAME";
const char databaseVariable[] = "QSPARQL_TRACKER_DATABASE";
const QString& defaultBusName() { static const QString name = QStringLiteral("org.freedesktop.Tracker3.Miner.Files"); return name; }

QTrackerStoreLocation locationFor(const QSparqlConnectionOptions& options)
{
    QTrackerStoreLocation location;
    const QString databaseOption = options.option(databasePathOption()).toString();
    const QString busOption = options.option(busNameOption()).toString();
    const QString databaseEnv = qEnvironmentVariable(databaseVariable);
    const QString busEnv = qEnvironmentVariable(busNameVariable);
    if (!databaseOption.isEmpty()) {
        location = { QTrackerStoreLocation::Database, databaseOption };
    } else if (!busOption.isEmpty()) {
        location = { QTrackerStoreLocation::Bus, busOption };
    } else if (!databaseEnv.isEmpty()) {
        location = { QTrackerStoreLocation::Database, databaseEnv };
    } else if (!busEnv.isEmpty()) {
        location = { QTrackerStoreLocation::Bus, busEnv };
    } else {
        location = { QTrackerStoreLocation::Bus, defaultBusName() };
    }
    return location;
}
} // namespace

class QSparqlConnectionPrivate
{
public:
    QString driverName;
    QSparqlConnectionOptions options;
    bool valid = false;
    QTrackerStoreLocation location;
    std::unique_ptr<QTrackerWorker> worker; // started on first use

    void start(const std::shared_ptr<QSparqlJob>& job)
    {
        if (!valid) {
            job->completeWithError(QSparqlError(
                QStringLiteral("The driver \"%1\" is not available").arg(driverName),
                QSparqlError::ConnectionError));
            return;
        }
        if (!worker)
            worker = std::make_unique<QTrackerWorker>(location);
        worker->enqueue(job);
    }
};

QSparqlConnection::QSparqlConnection(const QString& driverName, const QSparqlConnectionOptions& options, QObject* parent)
    : QObject(parent)
    , d(new QSparqlConnectionPrivate)
{
    d->driverName = driverName;
    d->options = options;
    d->valid = driverName == trackerDriverName();
    if (d->valid) {
        d->location = locationFor(options);
    } else {
        qWarning().noquote() << QStringLiteral("QSparqlConnection: the driver \"%1\" is not available; available drivers: \"%2\"")
                                    .arg(driverName, drivers().join(QLatin1String("\", \"")));
    }
}

QSparqlConnection::~QSparqlConnection()
{
    // Cancels what runs, finishes what waits with an error, joins the thread.
    d->worker.reset();
}

QSparqlResult* QSparqlConnection::exec(const QSparqlQuery& query)
{
    auto* result = new QSparqlResult(query);
    d->start(result->d->job);
    return result;
}

QSparqlResult* QSparqlConnection::syncExec(const QSparqlQuery& query)
{
    auto* result = new QSparqlResult(query);
    d->start(result->d->job);
    result->d->job->wait();
    QSparqlResultPrivate::deliver(result, false);
    return result;
}

bool QSparqlConnection::isValid() const
{
    return d->valid;
}

QString QSparqlConnection::driverName() const
{
    return d->driverName;
}

QSparqlConnectionOptions QSparqlConnection::options() const
{
    return d->options;
}

QStringList QSparqlConnection::drivers()
{
    return QStringList{ trackerDriverName() };
}
