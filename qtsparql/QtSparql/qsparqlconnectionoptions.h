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
    /*! The option \a name; an invalid QVariant when it is not set. */
    QVariant option(const QString& name) const { return m_options.value(name); }
    /*! True when no option is set. */
    bool isNull() const { return m_options.isEmpty(); }

    /*! Sets the option "databaseName"; the "QTRACKER" driver does not read it. */
    void setDatabaseName(const QString& name);
    /*! The option "databaseName"; empty when not set. */
    QString databaseName() const;
    /*! Sets the option "userName"; the "QTRACKER" driver does not read it. */
    void setUserName(const QString& name);
    /*! The option "userName"; empty when not set. */
    QString userName() const;
    /*! Sets the option "password"; the "QTRACKER" driver does not read it. */
    void setPassword(const QString& password);
    /*! The option "password"; empty when not set. */
    QString password() const;
    /*! Sets the option "hostName"; the "QTRACKER" driver does not read it. */
    void setHostName(const QString& host);
    /*! The option "hostName"; empty when not set. */
    QString hostName() const;
    /*! Sets the option "path"; the "QTRACKER" driver does not read it. */
    void setPath(const QString& path);
    /*! The option "path"; empty when not set. */
    QString path() const;
    /*! Sets the option "port"; the "QTRACKER" driver does not read it. */
    void setPort(int port);
    /*! The port, or -1 when none is set. */
    int port() const;

private:
    QVariantHash m_options;
};

#endif // QSPARQLCONNECTIONOPTIONS_H
