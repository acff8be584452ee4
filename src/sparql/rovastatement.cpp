// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovastatement.h"

RovaStatement::RovaStatement() = default;

RovaStatement::~RovaStatement() = default;

RovaNode* RovaStatement::subject()
{
    return &m_subject;
}

const RovaNode* RovaStatement::subject() const
{
    return &m_subject;
}

QString RovaStatement::predicate() const
{
    return m_predicate;
}

void RovaStatement::setPredicate(const QString& predicate)
{
    m_predicate = predicate;
}

RovaNode* RovaStatement::object()
{
    return &m_object;
}

const RovaNode* RovaStatement::object() const
{
    return &m_object;
}
