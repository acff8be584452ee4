// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlconnectionoptions.h"

namespace {
const QString& databaseNameKey() { static const QString key = QStringLiteral("databaseName"); return key; }
const QString& userNameKey() { static const QString key = QStringLiteral("userName"); return key; }
const QString& passwordKey() { static const QString key = QStringLiteral("password"); return key; }
const QString& hostNameKey() { static const QString key = QStringLiteral("hostName"); return key; }
const QString& pathKey() { static const QString key = QStringLiteral("path"); return key; }
const QString& portKey() { static const QString key = QStringLiteral("port"); return key; }
} // namespace

void QSparqlConnectionOptions::setOption(const QString& name, const QVariant& value)
{
    if (value.isValid())
        m_options.insert(name, value);
    else
        m_options.remove(name);
}

void QSparqlConnectionOptions::setDatabaseName(const QString& name) { setOption(databaseNameKey(), name); }
QString QSparqlConnectionOptions::databaseName() const { return option(databaseNameKey()).toString(); }
void QSparqlConnectionOptions::setUserName(const QString& name) { setOption(userNameKey(), name); }
QString QSparqlConnectionOptions::userName() const { return option(userNameKey()).toString(); }
void QSparqlConnectionOptions::setPassword(const QString& password) { setOption(passwordKey(), password); }
QString QSparqlConnectionOptions::password() const { return option(passwordKey()).toString(); }
void QSparqlConnectionOptions::setHostName(const QString& host) { setOption(hostNameKey(), host); }
QString QSparqlConnectionOptions::hostName() const { return option(hostNameKey()).toString(); }
void QSparqlConnectionOptions::setPath(const QString& path) { setOption(pathKey(), path); }
QString QSparqlConnectionOptions::path() const { return option(pathKey()).toString(); }
void QSparqlConnectionOptions::setPort(int port) { setOption(portKey(), port); }

int QSparqlConnectionOptions::port() const
{
    bool ok = false;
    const int port = option(portKey()).toInt(&ok);
    return ok ? port : -1;
}
