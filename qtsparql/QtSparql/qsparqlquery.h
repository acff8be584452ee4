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
    /*! The kind of statement. */
    enum StatementType {
        SelectStatement, ///< SELECT: rows of bound variables
        AskStatement, ///< ASK: one boolean, see QSparqlResult::boolValue()
        ConstructStatement, ///< CONSTRUCT: a graph, as rows of triples
        DescribeStatement, ///< DESCRIBE: a graph, as rows of triples
        InsertStatement, ///< an update that inserts data
        DeleteStatement ///< an update that deletes data
    };

    /*! A statement of \a type with the text \a text; the text is not checked here but by the store. */
    explicit QSparqlQuery(const QString& text = QString(), StatementType type = SelectStatement);

    /*! The statement text. */
    QString query() const { return m_text; }
    /*! Replaces the statement text. */
    void setQuery(const QString& text) { m_text = text; }
    /*! The kind of statement. */
    StatementType type() const { return m_type; }
    /*! Replaces the kind of statement. */
    void setType(StatementType type) { m_type = type; }
    /*! True for insert and delete statements. */
    bool isUpdate() const { return m_type == InsertStatement || m_type == DeleteStatement; }

private:
    QString m_text;
    StatementType m_type;
};

#endif // QSPARQLQUERY_H
