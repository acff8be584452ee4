// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlquery.h"

QSparqlQuery::QSparqlQuery(const QString& text, StatementType type)
    : m_text(text)
    , m_type(type)
{
}
