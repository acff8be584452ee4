// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLQUERY_H
#define QSPARQLQUERY_H

#include "qsparql.h"

#include <QMap>
#include <QString>
#include <QVariant>

class QUrl;

/*!
    The text of a SPARQL query or update, what kind of statement it is, and the
    values bound to its placeholders.
    The type decides how a connection runs it: select, ask, construct and
    describe are queries that give rows, insert and delete are updates.

    A placeholder is "?:" followed by a name of letters, digits and "_", written
    where a SPARQL term may stand: "SELECT ?s { ?s nie:title ?:title }". The
    connection runs preparedQueryText(), where each bound placeholder is
    replaced by its value written as one SPARQL term, in a single pass: what a
    value holds ("%1", "?:name", "%3F", quotes, line breaks) is never read as
    a placeholder or as SPARQL. How values are written:
    - QUrl: an IRI between "<" and ">", as encodedIri() gives it;
    - bool: true or false;
    - integers: in decimal;
    - double and float: a literal typed xsd:double ("NaN", "INF", "-INF" too);
    - QDateTime: a literal typed xsd:dateTime in UTC ("2020-01-02T03:04:05Z",
      milliseconds when there are any); QDate: a literal typed xsd:date;
    - anything else, QString first: its text as a string literal, with quotes,
      backslashes and every control character escaped.
    Placeholders inside string literals of the text, placeholders nobody bound
    and values that cannot be written (an invalid QVariant, QDateTime or QDate)
    stay as they are, so the store refuses the statement.
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

    /*!
        Binds \a value to the placeholder "?:" \a name (\a name may be given with its "?:"),
        replacing an earlier value; an invalid \a value unbinds it.
    */
    void bindValue(const QString& name, const QVariant& value);
    /*! The value bound to \a name; an invalid QVariant when none is. */
    QVariant boundValue(const QString& name) const;
    /*! Every bound value by placeholder name (without "?:"). */
    QMap<QString, QVariant> boundValues() const { return m_values; }
    /*! Forgets every bound value. */
    void unbindValues() { m_values.clear(); }
    /*! The text with every bound placeholder replaced by its value: what a connection runs. */
    QString preparedQueryText() const;

    /*!
        The text \a url is written as between "<" and ">": its fully encoded form (QUrl::toEncoded()),
        with every character that may not stand in a SPARQL IRI percent-encoded.
    */
    static QString encodedIri(const QUrl& url);
    /*!
        The fully encoded file IRI of the absolute \a path, "file:///..." : the text that binding
        QUrl::fromLocalFile(\a path) writes between "<" and ">". "?", "#", "%" and every character
        outside the IRI grammar are percent-encoded.
    */
    static QString fileIri(const QString& path);

private:
    QString m_text;
    StatementType m_type;
    QMap<QString, QVariant> m_values;
};

#endif // QSPARQLQUERY_H
