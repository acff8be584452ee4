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

    QString query() const;

    bool next();
    bool previous();
    bool first();
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

    bool isFinished() const;
    bool hasError() const;
    QSparqlError lastError() const;

    QVariant value(int column) const;
    QString stringValue(int column) const;

    bool isTable() const;
    bool isGraph() const;
    bool isBool() const;
    /*! The answer of an ask query; false until finished. */
    bool boolValue() const;

    /*! Blocks until the query has run; emits finished() if it had not yet. */
    void waitForFinished();

Q_SIGNALS:
    void finished();

private:
    explicit QSparqlResult(const QSparqlQuery& query);
    Q_DISABLE_COPY(QSparqlResult)
    friend class QSparqlConnection;
    friend class QSparqlResultPrivate;
    std::unique_ptr<QSparqlResultPrivate> d;
};

#endif // QSPARQLRESULT_H
