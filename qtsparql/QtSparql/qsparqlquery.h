// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLQUERY_H
#define QSPARQLQUERY_H

#include "qsparql.h"

#include <QString>

/*!
    The text of a SPARQL query or update and what kind of statement it is.
    The type decides how a connection runs it: select, ask, construct and
    describe are queries that give rows, insert and delete are updates.
*/
class Q_SPARQL_EXPORT QSparqlQuery
{
public:
    enum StatementType {
        SelectStatement,
        AskStatement,
        ConstructStatement,
        DescribeStatement,
        InsertStatement,
        DeleteStatement
    };

    explicit QSparqlQuery(const QString& text = QString(), StatementType type = SelectStatement);

    QString query() const { return m_text; }
    void setQuery(const QString& text) { m_text = text; }
    StatementType type() const { return m_type; }
    void setType(StatementType type) { m_type = type; }
    /*! True for insert and delete statements. */
    bool isUpdate() const { return m_type == InsertStatement || m_type == DeleteStatement; }

private:
    QString m_text;
    StatementType m_type;
};

#endif // QSPARQLQUERY_H
