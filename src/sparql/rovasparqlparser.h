// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASPARQLPARSER_H
#define ROVASPARQLPARSER_H

#include "rova_export.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class RovaFilter;
class RovaStatement;
class RovaSubquery;

/*!
    Takes apart SPARQL SELECT queries of a small, fixed shape: selected variables, a WHERE
    block of triple patterns with OPTIONAL blocks and simple FILTERs, then ORDER BY, LIMIT
    and OFFSET. It evaluates nothing.

    parse() appends to what earlier calls found; reset() empties the parser. The parser owns
    every statement, filter and subquery it made: objects reached through the accessors
    stay owned by it (statements move into the subqueries that subqueryAnalysis() builds).

    Tokenising and parsing take time linear in the length of the query. Diagnostics use the
    logging category "rova.sparql" (debug lines) and warnings for every rejection.
*/
class ROVA_EXPORT RovaSparqlParser : public QObject
{
    Q_OBJECT
public:
    RovaSparqlParser();
    ~RovaSparqlParser() override;

    /*! 0 when \a query was accepted, 1 when it was rejected (with a warning saying why).
        Whatever was parsed before a rejection stays in the parser. */
    int parse(const QString& query);
    /*! Deletes every statement, filter and subquery and returns to the initial state. */
    void reset();

    /*! The selected variables, "?" included, in query order; owned by the parser. */
    QStringList& variables();
    /*!
        The triple patterns of the WHERE block, OPTIONAL ones included, until subqueryAnalysis()
        moves them into subqueries; owned by the parser.
    */
    QList<RovaStatement*>& statements();
    /*! The FILTER conditions by variable; owned by the parser. */
    QMap<QString, RovaFilter*>& filters();
    /*! The subqueries built by subqueryAnalysis(), in the order to run them; owned by the parser. */
    QList<RovaSubquery*>& subqueries();
    /*! The ORDER BY term as written; a null string without ORDER BY. */
    QString orderBy() const;
    /*! The LIMIT; -1 without one. */
    int limit() const;
    /*! The OFFSET; -1 without one. */
    int offset() const;

    /*! Splits a query into tokens: brackets, braces and commas outside string literals
        stand alone, literals stay whole (blanks and escaped quotes included), a datatype or
        language suffix after a literal is a token of its own, and text ending in white
        space yields one final empty token. The first character is taken as it is. */
    static QStringList tokenizeSparql(const QString& query);
    /*! Puts a blank before and after the character at \a position where there is none.
        Positions outside \a text leave it unchanged. */
    static void ensureSpace(QString& text, int position);
    /*! \a text without its first and last character (empty for shorter texts). */
    static QString center(const QString& text);

    // Steps of parse(): each consumes what it accepts from the front of \a tokens and
    // returns 0 on success, 1 on failure.
    /*!
        Takes one triple pattern (subject, predicate, object, and a datatype suffix when there is
        one) from the front of \a tokens; 0 on success, 1 (with a warning for a bad node) otherwise.
        A step of parse().
    */
    int parseStatement(QStringList& tokens);
    /*!
        Takes one filter condition (after FILTER) from the front of \a tokens; 0 on success, 1 (with
        a warning) otherwise. A step of parse().
    */
    int parseFilter(QStringList& tokens);
    /*!
        Drops the braces of the OPTIONAL block at the front of \a tokens (the keyword already
        taken), so that its patterns are parsed as plain ones; 0 on success, 1 without a block. A
        step of parse().
    */
    int removeOptional(QStringList& tokens);
    /*!
        Takes "BY" and the term after ORDER from the front of \a tokens; 0 on success, 1 otherwise.
        A step of parse().
    */
    int parseOrderBy(QStringList& tokens);
    /*!
        Takes the number after LIMIT from the front of \a tokens; 0 on success, 1 (with a warning)
        for a missing, malformed or negative number. A step of parse().
    */
    int parseLimit(QStringList& tokens);
    /*!
        Takes the number after OFFSET from the front of \a tokens; 0 on success, 1 (with a warning)
        as for parseLimit(). A step of parse().
    */
    int parseOffset(QStringList& tokens);

    /*!
        Groups the parsed statements into one subquery per subject (duplicates deleted),
        then orders the subqueries so that each brings in as few variables as possible
        that earlier ones have not bound. Afterwards statements() is empty.
    */
    void subqueryAnalysis();
    /*! Moves every statement whose subject text is \a subject into one new subquery. */
    void deriveSubquery(const QString& subject);
    /*! The number of variables of the subquery at \a index that no earlier subquery
        mentions; -1 (with a warning) when \a index is not a position in subqueries(). */
    int notResolvedVarsAtSub(unsigned int index);

private:
    void appendSubquery(const QList<RovaStatement*>& statements);

    QStringList m_variables;
    QList<RovaStatement*> m_statements;
    QMap<QString, RovaFilter*> m_filters;
    QList<RovaSubquery*> m_subqueries;
    QString m_orderBy;
    int m_offset = -1;
    int m_limit = -1;
};

#endif // ROVASPARQLPARSER_H
