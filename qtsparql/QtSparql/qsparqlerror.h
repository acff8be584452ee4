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
    /*! The kind of failure. */
    enum ErrorType {
        NoError, ///< no error
        ConnectionError, ///< the store could not be reached or opened, or the connection went away
        StatementError, ///< the store refused the query or update
        TransactionError, ///< a transaction failed
        UnknownError, ///< anything else
        BackendError ///< the back end failed in a way of its own
    };

    /*! An error of \a type with \a message and the back end's error \a number (-1 for none). */
    explicit QSparqlError(const QString& message = QString(), ErrorType type = NoError, int number = -1);

    /*! The message for people. */
    QString message() const { return m_message; }
    /*! Replaces the message. */
    void setMessage(const QString& message) { m_message = message; }
    /*! The kind of failure; NoError when there is none. */
    ErrorType type() const { return m_type; }
    /*! Replaces the kind of failure. */
    void setType(ErrorType type) { m_type = type; }
    /*! The back end's error number, -1 when it has none. */
    int number() const { return m_number; }
    /*! Replaces the error number. */
    void setNumber(int number) { m_number = number; }
    /*! True when the type is not NoError: there is an error. */
    bool isValid() const { return m_type != NoError; }

    /*! True when message, type and number are all equal. */
    bool operator==(const QSparqlError& other) const;
    /*! The opposite of operator==(). */
    bool operator!=(const QSparqlError& other) const { return !(*this == other); }

private:
    QString m_message;
    ErrorType m_type;
    int m_number;
};

/*! Writes \a error (type, number and message) to \a debug. */
Q_SPARQL_EXPORT QDebug operator<<(QDebug debug, const QSparqlError& error);

Q_DECLARE_METATYPE(QSparqlError)

#endif // QSPARQLERROR_H
