// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovasparqlterms.h"

namespace RovaSparqlTerms {

QString literal(const QString& text, bool* ok)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                if (ok)
                    *ok = false;
                return QStringLiteral("\"\"");
            }
            out += c;
        }
    }
    out += QLatin1Char('"');
    if (ok)
        *ok = true;
    return out;
}

bool isValidIri(const QString& iri)
{
    // A scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
    const qsizetype colon = iri.indexOf(QLatin1Char(':'));
    if (colon < 1 || !iri.at(0).isLetter() || iri.at(0).unicode() > 0x7f)
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const char16_t c = iri.at(i).unicode();
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '+' || c == '-' || c == '.';
        if (!schemeChar)
            return false;
    }
    for (const QChar c : iri) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u == 0x7f || QStringView(u"<>\"{}|^`\\").contains(c))
            return false;
    }
    return true;
}

QString iri(const QString& text)
{
    if (!isValidIri(text))
        return QString();
    return QLatin1Char('<') + text + QLatin1Char('>');
}

} // namespace RovaSparqlTerms
