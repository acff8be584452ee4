// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLRESULT_H
#define QSPARQLRESULT_H

#include "qsparql.h"
#include "qsparqlerror.h"
#include "qsparqlquery.h"

#include <QObject>
#include <QVariant>

#include <memory>

class QSparqlResultPrivate;

/*!
    The rows a query gave, or its error, made by QSparqlConnection::exec().
    The caller owns it; deleting it before it finished abandons the query.

    Until finished() the result has no rows: size() is -1 and moving fails.
    Afterwards it is positioned before the first row. value() gives a cell as
    its natural type (QUrl for resources, qlonglong, double, bool, QDateTime,
    QString); stringValue() gives the store's text for every type. Unbound
    cells read as an invalid QVariant and an empty string.
*/
class Q_SPARQL_EXPORT QSparqlResult : public QObject
{
    Q_OBJECT

public:
    ~QSparqlResult() override;

    /*! The text of the query this result belongs to, with its bound values written in. */
    QString query() const;

    /*!
        Moves to the next row; false (after the last row) when there is none or the result has not
        finished.
    */
    bool next();
    /*!
        Moves to the previous row; false (before the first row) when there is none or the result has
        not finished.
    */
    bool previous();
    /*! Moves to the first row; false when there is none. */
    bool first();
    /*! Moves to the last row; false when there is none. */
    bool last();
    /*! Moves to row \a pos; out of range moves before the first or after the
        last row and returns false. */
    bool setPos(int pos);
    /*! The current row, or QSparql::BeforeFirstRow / QSparql::AfterLastRow. */
    int pos() const;
    /*! The number of rows, -1 until finished. */
    int size() const;
    /*! True when positioned on a row. */
    bool isValid() const;

    /*! True once the query has run, with rows or with an error. */
    bool isFinished() const;
    /*! True when the query failed; lastError() says why. */
    bool hasError() const;
    /*! What went wrong; a NoError error when nothing did. */
    QSparqlError lastError() const;

    /*!
        The cell at \a column of the current row, as its natural type; an invalid QVariant off a
        row, for a column outside the row, or for an unbound cell.
    */
    QVariant value(int column) const;
    /*! The cell at \a column of the current row as the store's text; empty where value() is invalid. */
    QString stringValue(int column) const;

    /*! True for the result of a select query. */
    bool isTable() const;
    /*! True for the result of a construct or describe query. */
    bool isGraph() const;
    /*! True for the result of an ask query. */
    bool isBool() const;
    /*! The answer of an ask query; false until finished. */
    bool boolValue() const;

    /*! Blocks until the query has run; emits finished() if it had not yet. */
    void waitForFinished();

Q_SIGNALS:
    /*!
        The query has run, with rows or with an error; emitted once, on the connection's thread,
        never from inside QSparqlConnection::exec().
    */
    void finished();

private:
    explicit QSparqlResult(const QSparqlQuery& query);
    Q_DISABLE_COPY(QSparqlResult)
    friend class QSparqlConnection;
    friend class QSparqlResultPrivate;
    std::unique_ptr<QSparqlResultPrivate> d;
};

#endif // QSPARQLRESULT_H
