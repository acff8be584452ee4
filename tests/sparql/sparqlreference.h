// SPDX-License-Identifier: LGPL-2.1-or-later
// Straightforward tokenizer for comparison: it edits a working copy in place, position by
// position, exactly as the tokenizing rules read, and then splits it. It is quadratic and
// only meant to check the library's one-pass tokenizer on small inputs (tests and fuzzing).
#ifndef SPARQLREFERENCE_H
#define SPARQLREFERENCE_H

#include <rovasparqlparser.h>

#include <QString>
#include <QStringList>

inline QStringList referenceTokenizeSparql(const QString& query)
{
    QString text = query;
    bool inLiteral = false;
    for (int i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"' && text.at(i - 1) != u'\\')
            inLiteral = !inLiteral;
        if (inLiteral)
            continue;
        if (c == u'(' || c == u')' || c == u'{' || c == u'}' || c == u',')
            RovaSparqlParser::ensureSpace(text, i);
        else if (c == u'\r' || c == u'\n')
            text[i] = u' ';
    }

    QStringList tokens;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        while (i < n && text.at(i).isSpace())
            ++i;
        const int start = i;
        if (i < n && text.at(i) == u'"') {
            int k = i + 1;
            while (k < n && !(text.at(k) == u'"' && text.at(k - 1) != u'\\'))
                ++k;
            i = k < n ? k + 1 : n;
        } else {
            while (i < n && !text.at(i).isSpace())
                ++i;
        }
        tokens.append(text.mid(start, i - start));
    }
    return tokens;
}

#endif // SPARQLREFERENCE_H
