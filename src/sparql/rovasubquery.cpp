// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovasubquery.h"

#include "rovastatement.h"

RovaSubquery::RovaSubquery(const QList<QString>& variables, const QList<RovaStatement*>& statements)
    : m_variables(variables), m_statements(statements)
{
}

RovaSubquery::~RovaSubquery()
{
    qDeleteAll(m_statements);
}

QStringList& RovaSubquery::variables()
{
    return m_variables;
}

const QStringList& RovaSubquery::variables() const
{
    return m_variables;
}

QList<RovaStatement*> RovaSubquery::statements() const
{
    return m_statements;
}
