// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLCONNECTION_H
#define QSPARQLCONNECTION_H

#include "qsparql.h"
#include "qsparqlconnectionoptions.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QSparqlQuery;
class QSparqlResult;
class QSparqlConnectionPrivate;

/*!
    A connection to a SPARQL store through a named driver.

    The only driver is "QTRACKER", which runs queries and updates on a Tracker 3
    store. It chooses the store from the options first and the environment
    second: a local database in the directory named by "databasePath" or
    QSPARQL_TRACKER_DATABASE (created with the Nepomuk ontology when absent),
    else the endpoint named by "busName" or QSPARQL_TRACKER_BUS_NAME on the
    session bus, else "org.freedesktop.Tracker3.Miner.Files" on the session bus.
    The store is opened on first use, off the caller's thread; a store that
    cannot be reached shows up as a ConnectionError in the result. A local
    store the user may not change is read from a private copy, read-only; a
    damaged one (its database file is not a database, is cut short or cannot
    be opened) gives an error naming it as damaged, and is left as it is. A
    query whose endpoint went away (a miner that was stopped) is asked once
    more on a new connection, which the session bus may start the endpoint for. Connections
    that name the same local database directory share one open database.

    Any other driver name gives an invalid connection whose results finish with
    an error.

    exec() never blocks: the result's finished() signal is always emitted later
    from the connection's thread's event loop, also for errors. The caller owns
    every result. Deleting a result abandons its query; deleting the connection
    abandons the queries still out, whose results then finish with a
    ConnectionError. Use a connection and its results from the thread the
    connection lives in; the queries themselves run on a thread of the
    connection's own, one after another in the order they were started.
*/
class Q_SPARQL_EXPORT QSparqlConnection : public QObject
{
    Q_OBJECT

public:
    /*!
        A connection through the driver \a driverName ("QTRACKER") with \a options, as a child of \a
        parent. An unknown driver gives an invalid connection and a warning. Nothing is opened yet.
    */
    explicit QSparqlConnection(const QString& driverName,
                               const QSparqlConnectionOptions& options = QSparqlConnectionOptions(),
                               QObject* parent = nullptr);
    ~QSparqlConnection() override;

    /*! Starts \a query and returns its result at once; the caller owns it. */
    QSparqlResult* exec(const QSparqlQuery& query);
    /*! Runs \a query to its end before returning; the result is finished and
        emits no finished() signal. The caller owns it. */
    QSparqlResult* syncExec(const QSparqlQuery& query);

    /*! True when the driver exists; says nothing about the store being there. */
    bool isValid() const;
    /*! The driver name given to the constructor. */
    QString driverName() const;
    /*! The options given to the constructor. */
    QSparqlConnectionOptions options() const;

    /*! The driver names this library knows: "QTRACKER". */
    static QStringList drivers();

private:
    Q_DISABLE_COPY(QSparqlConnection)
    std::unique_ptr<QSparqlConnectionPrivate> d;
};

#endif // QSPARQLCONNECTION_H
