// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLERROR_H
#define QSPARQLERROR_H

#include "qsparql.h"

#include <QMetaType>
#include <QString>

/*!
    What went wrong with a query or a connection: a message for people, a type
    for programs and the back end's own error number (-1 when it has none).
    A default-constructed error is NoError and not valid.
*/
class Q_SPARQL_EXPORT QSparqlError
{
public:
    enum ErrorType {
        NoError,
        ConnectionError,
        StatementError,
        TransactionError,
        UnknownError,
        BackendError
    };

    explicit QSparqlError(const QString& message = QString(), ErrorType type = NoError, int number = -1);

    QString message() const { return m_message; }
    void setMessage(const QString& message) { m_message = message; }
    ErrorType type() const { return m_type; }
    void setType(ErrorType type) { m_type = type; }
    int number() const { return m_number; }
    void setNumber(int number) { m_number = number; }
    bool isValid() const { return m_type != NoError; }

    bool operator==(const QSparqlError& other) const;
    bool operator!=(const QSparqlError& other) const { return !(*this == other); }

private:
    QString m_message;
    ErrorType m_type;
    int m_number;
};

Q_SPARQL_EXPORT QDebug operator<<(QDebug debug, const QSparqlError& error);

Q_DECLARE_METATYPE(QSparqlError)

#endif // QSPARQLERROR_H
