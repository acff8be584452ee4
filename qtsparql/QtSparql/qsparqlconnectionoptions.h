// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLCONNECTIONOPTIONS_H
#define QSPARQLCONNECTIONOPTIONS_H

#include "qsparql.h"

#include <QString>
#include <QVariant>
#include <QVariantHash>

/*!
    Named options for a connection. A driver reads the options it knows and
    ignores the others. The "QTRACKER" driver knows "busName" (a Tracker
    endpoint on the session bus) and "databasePath" (a local store opened in
    the process); both win over the environment variables
    QSPARQL_TRACKER_BUS_NAME and QSPARQL_TRACKER_DATABASE.
*/
class Q_SPARQL_EXPORT QSparqlConnectionOptions
{
public:
    QSparqlConnectionOptions() = default;

    /*! Sets the option \a name; an invalid \a value removes it. */
    void setOption(const QString& name, const QVariant& value);
    QVariant option(const QString& name) const { return m_options.value(name); }
    bool isNull() const { return m_options.isEmpty(); }

    void setDatabaseName(const QString& name);
    QString databaseName() const;
    void setUserName(const QString& name);
    QString userName() const;
    void setPassword(const QString& password);
    QString password() const;
    void setHostName(const QString& host);
    QString hostName() const;
    void setPath(const QString& path);
    QString path() const;
    void setPort(int port);
    /*! The port, or -1 when none is set. */
    int port() const;

private:
    QVariantHash m_options;
};

#endif // QSPARQLCONNECTIONOPTIONS_H
