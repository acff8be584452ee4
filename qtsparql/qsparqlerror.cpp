// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlerror.h"

#include <QDebug>

QSparqlError::QSparqlError(const QString& message, ErrorType type, int number)
    : m_message(message)
    , m_type(type)
    , m_number(number)
{
}

bool QSparqlError::operator==(const QSparqlError& other) const
{
    return m_type == other.m_type && m_number == other.m_number && m_message == other.m_message;
}

QDebug operator<<(QDebug debug, const QSparqlError& error)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "QSparqlError(" << error.type() << ", " << error.number() << ", " << error.message() << ')';
    return debug;
}
