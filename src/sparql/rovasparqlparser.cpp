// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovasparqlparser.h"

#include "rovafilter.h"
#include "rovanode.h"
#include "rovastatement.h"
#include "rovasubquery.h"

#include <QDebug>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>

#include <algorithm>

namespace {

Q_LOGGING_CATEGORY(lcSparql, "rova.sparql")

inline bool isSeparated(char16_t c)
{
    return c == u'(' || c == u')' || c == u'{' || c == u'}' || c == u',';
}

inline bool startsWith(const QStringList& tokens, char16_t c)
{
    return !tokens.isEmpty() && tokens.first().startsWith(QChar(c));
}

inline bool firstIs(const QStringList& tokens, QLatin1String text)
{
    return !tokens.isEmpty() && tokens.first() == text;
}

// Drops the first token when it is exactly \a text.
inline bool take(QStringList& tokens, QLatin1String text)
{
    if (!firstIs(tokens, text))
        return false;
    tokens.removeFirst();
    return true;
}

// Three texts that make two statements duplicates of each other.
struct TripleKey {
    QString subject;
    QString predicate;
    QString object;
    bool operator==(const TripleKey& other) const
    {
        return subject == other.subject && predicate == other.predicate && object == other.object;
    }
};

size_t qHash(const TripleKey& key, size_t seed = 0)
{
    return qHashMulti(seed, key.subject, key.predicate, key.object);
}

// The number of entries of \a variables that are neither in \a bound nor in \a also.
int countUnbound(const QStringList& variables, const QSet<QString>& bound, const QSet<QString>* also = nullptr)
{
    int count = 0;
    for (const QString& variable : variables) {
        if (!bound.contains(variable) && !(also && also->contains(variable)))
            ++count;
    }
    return count;
}

} // namespace

RovaSparqlParser::RovaSparqlParser() = default;

RovaSparqlParser::~RovaSparqlParser()
{
    reset();
}

void RovaSparqlParser::reset()
{
    qDeleteAll(m_filters);
    m_filters.clear();
    qDeleteAll(m_statements);
    m_statements.clear();
    qDeleteAll(m_subqueries);
    m_subqueries.clear();
    m_variables.clear();
    m_orderBy = QString();
    m_offset = -1;
    m_limit = -1;
}

QStringList& RovaSparqlParser::variables()
{
    return m_variables;
}

QList<RovaStatement*>& RovaSparqlParser::statements()
{
    return m_statements;
}

QMap<QString, RovaFilter*>& RovaSparqlParser::filters()
{
    return m_filters;
}

QList<RovaSubquery*>& RovaSparqlParser::subqueries()
{
    return m_subqueries;
}

QString RovaSparqlParser::orderBy() const
{
    return m_orderBy;
}

int RovaSparqlParser::limit() const
{
    return m_limit;
}

int RovaSparqlParser::offset() const
{
    return m_offset;
}

void RovaSparqlParser::ensureSpace(QString& text, int position)
{
    if (position < 0 || position >= text.size())
        return;
    if (position > 0 && text.at(position - 1) != u' ') {
        text.insert(position, u' ');
        ++position;
    }
    if (position < text.size() - 1 && text.at(position + 1) != u' ')
        text.insert(position + 1, u' ');
}

QString RovaSparqlParser::center(const QString& text)
{
    if (text.size() < 2)
        return QString();
    return text.mid(1, text.size() - 2);
}

QStringList RovaSparqlParser::tokenizeSparql(const QString& query)
{
    // The rules describe two passes: first, outside literals, put blanks around brackets,
    // braces and commas and turn line breaks into blanks (the first character is left as it
    // is); then split the result at white space, a token that starts with a double quote
    // running to the next double quote that no backslash escapes. Inserting blanks into the
    // text would cost quadratic time, so both passes run together here over the query, and
    // the edited text is never built: each character of it is handed from the first pass
    // to the second as it is made.
    //
    // A token that does not start with a quote ends at the first blank, and every edit makes
    // a blank, so such a token is always a piece of the query. A quoted token may contain
    // edits (where the first pass saw no literal); only then is its text built separately.
    const qsizetype length = query.size();
    const char16_t* const in = reinterpret_cast<const char16_t*>(query.constData());

    QStringList tokens;
    enum { Between, Plain, Quoted } state = Between;
    qsizetype tokenStart = 0; // index in the query of the current token's first character
    qsizetype tokenEnd = 0;   // one past its last character, while it is a piece of the query
    bool quotedEdited = false;
    QString quotedText;       // the current quoted token, once it contains an edit
    char16_t last = 0;        // the last character of the edited text so far
    bool inLiteral = false;   // the first pass's view

    const auto slice = [in](qsizetype from, qsizetype to) {
        return QString(reinterpret_cast<const QChar*>(in + from), to - from);
    };
    // Second pass: takes one character of the edited text; `from` is its index in the
    // query, or -1 for a blank that the first pass made.
    const auto take = [&](char16_t c, qsizetype from) {
        switch (state) {
        case Between:
            if (QChar::isSpace(c))
                break;
            tokenStart = from;
            tokenEnd = from + 1;
            if (c == u'"') {
                state = Quoted;
                quotedEdited = false;
            } else {
                state = Plain;
            }
            break;
        case Plain:
            if (QChar::isSpace(c)) {
                tokens.append(slice(tokenStart, tokenEnd));
                state = Between;
            } else {
                tokenEnd = from + 1;
            }
            break;
        case Quoted: {
            const bool closes = c == u'"' && last != u'\\';
            if (!quotedEdited && from < 0) {
                quotedEdited = true;
                quotedText = slice(tokenStart, tokenEnd);
            }
            if (quotedEdited)
                quotedText.append(QChar(c));
            else
                tokenEnd = from + 1;
            if (closes) {
                tokens.append(quotedEdited ? quotedText : slice(tokenStart, tokenEnd));
                state = Between;
            }
            break;
        }
        }
        last = c;
    };

    // First pass.
    for (qsizetype j = 0; j < length; ++j) {
        const char16_t c = in[j];
        if (j == 0) {
            take(c, j);
            continue;
        }
        if (c == u'"' && last != u'\\')
            inLiteral = !inLiteral;
        if (inLiteral) {
            take(c, j);
        } else if (isSeparated(c)) {
            if (last != u' ')
                take(u' ', -1);
            take(c, j);
            if (j + 1 < length && in[j + 1] != u' ')
                take(u' ', -1);
        } else if (c == u'\r' || c == u'\n') {
            take(u' ', -1);
        } else {
            take(c, j);
        }
    }

    // The end of the text ends the current token; text that ends in white space (outside
    // a quoted token) gives one final empty token.
    switch (state) {
    case Plain:
        tokens.append(slice(tokenStart, tokenEnd));
        break;
    case Quoted:
        tokens.append(quotedEdited ? quotedText : slice(tokenStart, tokenEnd));
        break;
    case Between:
        if (length > 0 && QChar::isSpace(last))
            tokens.append(QString());
        break;
    }
    return tokens;
}

int RovaSparqlParser::parse(const QString& query)
{
    QStringList tokens = tokenizeSparql(query);
    qCDebug(lcSparql) << "RovaSparqlQuery::parse tokens:" << tokens;

    if (tokens.size() < 8) {
        qWarning() << "RovaSparqlParser::parse: too short query:" << query;
        return 1;
    }
    if (!take(tokens, QLatin1String("SELECT"))) {
        qWarning() << "RovaSparqlParser::parse: SELECT was expected first token:" << query;
        return 1;
    }
    take(tokens, QLatin1String("DISTINCT"));
    while (startsWith(tokens, u'?'))
        m_variables.append(tokens.takeFirst());
    if (!take(tokens, QLatin1String("WHERE"))) {
        qWarning() << "RovaSparqlParser::parse: WHERE was expected:" << query;
        return 1;
    }
    if (!take(tokens, QLatin1String("{"))) {
        qWarning() << "RovaSparqlParser::parse: '{' was expected:" << query;
        return 1;
    }

    // Every pass of the body loop consumes at least one token, so it ends.
    int depth = 0;
    while (!tokens.isEmpty()) {
        if (depth == 0 && firstIs(tokens, QLatin1String("}")))
            break;
        while (take(tokens, QLatin1String("{")))
            ++depth;
        if (tokens.isEmpty())
            break;
        if (take(tokens, QLatin1String("OPTIONAL"))) {
            if (removeOptional(tokens)) {
                qWarning() << "RovaSparqlParser::parse: failed to parse OPTIONAL brackets";
                return 1;
            }
        } else if (take(tokens, QLatin1String("FILTER"))) {
            if (parseFilter(tokens)) {
                qWarning() << "RovaSparqlParser::parse: failed to parse FILTER statement";
                return 1;
            }
        } else if (parseStatement(tokens)) {
            return 1;
        }
        take(tokens, QLatin1String("."));
        if (tokens.isEmpty())
            break;
        while (depth > 0 && take(tokens, QLatin1String("}")))
            --depth;
    }
    qCDebug(lcSparql) << "RovaSparqlQuery::parse: filters:" << m_filters;

    if (!take(tokens, QLatin1String("}"))) {
        qWarning() << "RovaSparqlParser::parse: '}' was expected:" << query;
        return 1;
    }
    if (tokens.isEmpty())
        return 0;

    if (take(tokens, QLatin1String("ORDER"))) {
        if (parseOrderBy(tokens)) {
            qWarning() << "RovaSparqlParser::parse: failed to parse ORDER BY statement";
            return 1;
        }
    }
    while (!tokens.isEmpty()) {
        const QString clause = tokens.takeFirst();
        if (clause == QLatin1String("LIMIT")) {
            if (parseLimit(tokens))
                return 1;
        } else if (clause == QLatin1String("OFFSET")) {
            if (parseOffset(tokens))
                return 1;
        } else {
            qWarning().nospace() << "RovaSparqlParser unsupported clause: " << clause;
        }
    }
    return 0;
}

int RovaSparqlParser::removeOptional(QStringList& tokens)
{
    if (!take(tokens, QLatin1String("{")) || tokens.isEmpty())
        return 1;
    const qsizetype close = tokens.indexOf(QLatin1String("}"));
    if (close < 0)
        return 1;
    // Delete the token at `close` by moving the tokens before it one place on and dropping
    // the first: the cost is the size of the block, not of the rest of the query.
    std::move_backward(tokens.begin(), tokens.begin() + close, tokens.begin() + close + 1);
    tokens.removeFirst();
    return 0;
}

int RovaSparqlParser::parseStatement(QStringList& tokens)
{
    if (tokens.size() < 4)
        return 1;
    auto* statement = new RovaStatement;
    if (!statement->subject()->init(tokens.first())) {
        qWarning() << "RovaSparqlQuery::parse: bad node:" << tokens.first();
        delete statement;
        return 1;
    }
    tokens.removeFirst();
    statement->setPredicate(tokens.takeFirst());
    if (!statement->object()->init(tokens.first())) {
        qWarning() << "RovaSparqlQuery::parse: bad node:" << tokens.first();
        delete statement;
        return 1;
    }
    tokens.removeFirst();
    if (!tokens.isEmpty() && tokens.first().startsWith(QLatin1String("^^")))
        tokens.removeFirst();
    m_statements.append(statement);
    qCDebug(lcSparql) << "statement:" << statement->subject()->text() << statement->predicate()
                      << statement->object()->text();
    return 0;
}

int RovaSparqlParser::parseFilter(QStringList& tokens)
{
    RovaFilter::RovaFilterType type = RovaFilter::RegexFilter;
    QString variable;
    QString constraint;

    const QLatin1String regex("regex");
    if (tokens.size() >= 6
        && (tokens.at(0).compare(regex, Qt::CaseInsensitive) == 0
            || tokens.at(1).compare(regex, Qt::CaseInsensitive) == 0)) {
        const bool outer = take(tokens, QLatin1String("("));
        tokens.removeFirst(); // the keyword
        if (!take(tokens, QLatin1String("(")) || !startsWith(tokens, u'?'))
            return 1;
        variable = tokens.takeFirst();
        qCDebug(lcSparql) << "regex var:" << variable;
        if (!take(tokens, QLatin1String(",")) || !startsWith(tokens, u'"'))
            return 1;
        constraint = tokens.takeFirst();
        if (!take(tokens, QLatin1String(")")) || (outer && !take(tokens, QLatin1String(")"))))
            return 1;
    } else {
        if (!take(tokens, QLatin1String("(")) || !startsWith(tokens, u'?'))
            return 1;
        variable = tokens.takeFirst();
        if (take(tokens, QLatin1String("=")))
            type = RovaFilter::EqualsFilter;
        else if (take(tokens, QLatin1String("<")))
            type = RovaFilter::LessThanFilter;
        else if (take(tokens, QLatin1String(">")))
            type = RovaFilter::GreaterThanFilter;
        else
            return 1;
        if (!startsWith(tokens, u'"') && !startsWith(tokens, u'<'))
            return 1;
        constraint = tokens.takeFirst();
        if (!take(tokens, QLatin1String(")")))
            return 1;
    }

    // A second filter on the same variable replaces the first, which is deleted.
    RovaFilter*& slot = m_filters[variable];
    delete slot;
    slot = new RovaFilter(constraint, type);
    return 0;
}

int RovaSparqlParser::parseOrderBy(QStringList& tokens)
{
    if (!take(tokens, QLatin1String("BY")) || tokens.isEmpty())
        return 1;
    m_orderBy = tokens.takeFirst();
    qCDebug(lcSparql) << "RovaSparqlQuery::parseOrderBy ORDER BY" << m_orderBy;
    return 0;
}

int RovaSparqlParser::parseLimit(QStringList& tokens)
{
    if (tokens.isEmpty())
        return 1;
    bool ok = false;
    m_limit = tokens.takeFirst().toInt(&ok, 10);
    if (ok && m_limit >= 0)
        return 0;
    qWarning() << "RovaSparqlParser::parseLimit: limit value is" << "not a positive integer!";
    return 1;
}

int RovaSparqlParser::parseOffset(QStringList& tokens)
{
    if (tokens.isEmpty())
        return 1;
    bool ok = false;
    m_offset = tokens.takeFirst().toInt(&ok, 10);
    if (ok && m_offset >= 0)
        return 0;
    qWarning() << "RovaSparqlParser::parseOffset: offset is not a positive integer!";
    return 1;
}

void RovaSparqlParser::appendSubquery(const QList<RovaStatement*>& statements)
{
    QStringList variables;
    QSet<QString> seen;
    const auto addVariable = [&](const RovaNode* node) {
        if (node->nodeType() == RovaNode::VariableNode && !seen.contains(node->text())) {
            seen.insert(node->text());
            variables.append(node->text());
        }
    };
    for (const RovaStatement* statement : statements) {
        addVariable(statement->subject());
        addVariable(statement->object());
    }
    m_subqueries.append(new RovaSubquery(variables, statements));
}

void RovaSparqlParser::deriveSubquery(const QString& subject)
{
    qCDebug(lcSparql) << "RovaSparqlQuery::deriveSubquery" << subject;
    QList<RovaStatement*> taken;
    QList<RovaStatement*> kept;
    for (RovaStatement* statement : std::as_const(m_statements))
        (statement->subject()->text() == subject ? taken : kept).append(statement);
    m_statements = kept;
    appendSubquery(taken);
}

int RovaSparqlParser::notResolvedVarsAtSub(unsigned int index)
{
    if (index >= static_cast<unsigned int>(m_subqueries.size())) {
        qWarning() << "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at" << index;
        return -1;
    }
    QSet<QString> bound;
    for (unsigned int i = 0; i < index; ++i) {
        for (const QString& variable : std::as_const(m_subqueries.at(i)->variables()))
            bound.insert(variable);
    }
    const int count = countUnbound(m_subqueries.at(index)->variables(), bound);
    qCDebug(lcSparql) << "RovaSparqlQuery::notResolvedVarsAtSub" << index << count;
    return count;
}

void RovaSparqlParser::subqueryAnalysis()
{
    // Duplicates: the first of equal statements stays, the later ones are deleted.
    {
        QSet<TripleKey> seen;
        QList<RovaStatement*> distinct;
        distinct.reserve(m_statements.size());
        for (RovaStatement* statement : std::as_const(m_statements)) {
            TripleKey key{statement->subject()->text(), statement->predicate(), statement->object()->text()};
            if (seen.contains(key)) {
                delete statement;
            } else {
                seen.insert(key);
                distinct.append(statement);
            }
        }
        m_statements = distinct;
    }

    // One subquery per subject, in order of each subject's first appearance; the same as
    // calling deriveSubquery() for the subject of the first remaining statement until none
    // remains, in one pass.
    {
        QHash<QString, qsizetype> groupOf;
        QList<QList<RovaStatement*>> groups;
        QStringList subjects;
        for (RovaStatement* statement : std::as_const(m_statements)) {
            const QString subject = statement->subject()->text();
            auto it = groupOf.constFind(subject);
            if (it == groupOf.constEnd()) {
                it = groupOf.insert(subject, groups.size());
                groups.append(QList<RovaStatement*>());
                subjects.append(subject);
            }
            groups[*it].append(statement);
        }
        m_statements.clear();
        for (qsizetype g = 0; g < groups.size(); ++g) {
            qCDebug(lcSparql) << "RovaSparqlQuery::deriveSubquery" << subjects.at(g);
            appendSubquery(groups.at(g));
        }
    }

    // Ordering: passes over neighbours until a pass keeps no swap. A swap of the neighbours
    // at i and i + 1 is kept when it lowers the count of new variables at i and the count
    // at i + 1 does not fall below it. The variables bound before position i are carried
    // along the pass, so one pass costs the total number of variables.
    const qsizetype count = m_subqueries.size();
    bool changed = true;
    while (changed) {
        changed = false;
        QSet<QString> bound;
        for (qsizetype i = 0; i + 1 < count; ++i) {
            const QStringList& first = m_subqueries.at(i)->variables();
            const QStringList& second = m_subqueries.at(i + 1)->variables();
            const int a = countUnbound(first, bound);
            const QSet<QString> firstSet(first.cbegin(), first.cend());
            const int b = countUnbound(second, bound, &firstSet);
            if (b < a) {
                const QSet<QString> secondSet(second.cbegin(), second.cend());
                const int swappedAtI = countUnbound(second, bound);
                const int swappedAtNext = countUnbound(first, bound, &secondSet);
                if (!(swappedAtNext < swappedAtI)) {
                    m_subqueries.swapItemsAt(i, i + 1);
                    changed = true;
                }
            }
            for (const QString& variable : std::as_const(m_subqueries.at(i)->variables()))
                bound.insert(variable);
        }
    }

    if (lcSparql().isDebugEnabled()) {
        QSet<QString> bound;
        for (qsizetype i = 0; i < count; ++i) {
            RovaSubquery* subquery = m_subqueries.at(i);
            qCDebug(lcSparql) << "final sub" << i << "notresolvedvars" << countUnbound(subquery->variables(), bound);
            for (const QString& variable : std::as_const(subquery->variables()))
                bound.insert(variable);
            const QList<RovaStatement*> statements = subquery->statements();
            for (const RovaStatement* statement : statements) {
                qCDebug(lcSparql) << "final" << statement->subject()->text() << statement->predicate()
                                  << statement->object()->text() << int(statement->object()->nodeType());
            }
        }
    }
}
