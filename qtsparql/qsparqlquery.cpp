// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlquery.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QUrl>

#include <cmath>

namespace {

const QLatin1String placeholderMark("?:");

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
}

QString placeholderName(const QString& name)
{
    return name.startsWith(placeholderMark) ? name.mid(placeholderMark.size()) : name;
}

// Characters that may not stand between "<" and ">" in SPARQL, besides controls and the space.
bool isIriChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f && !QByteArrayView("<>\"{}|^`\\").contains(c);
}

QString stringLiteral(const QString& text)
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
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString typedLiteral(const QString& text, const char* type)
{
    return QLatin1Char('"') + text + QLatin1String("\"^^xsd:") + QLatin1String(type);
}

// \a value as one SPARQL term; a null string when it cannot be written.
QString term(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QString();
    case QMetaType::QUrl:
        return QLatin1Char('<') + QSparqlQuery::encodedIri(value.toUrl()) + QLatin1Char('>');
    case QMetaType::Bool:
        return QLatin1String(value.toBool() ? "true" : "false");
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::SChar:
        return QString::number(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
        return QString::number(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        if (std::isnan(number))
            return typedLiteral(QStringLiteral("NaN"), "double");
        if (std::isinf(number))
            return typedLiteral(QLatin1String(number < 0 ? "-INF" : "INF"), "double");
        return typedLiteral(QString::number(number, 'g', QLocale::FloatingPointShortest), "double");
    }
    case QMetaType::QDateTime: {
        const QDateTime time = value.toDateTime().toUTC();
        if (!time.isValid())
            return QString();
        return typedLiteral(time.toString(time.time().msec() ? Qt::ISODateWithMs : Qt::ISODate), "dateTime");
    }
    case QMetaType::QDate: {
        const QDate date = value.toDate();
        return date.isValid() ? typedLiteral(date.toString(Qt::ISODate), "date") : QString();
    }
    default:
        return stringLiteral(value.toString());
    }
}

// The end of the string literal that starts at \a start of \a text (just past its closing
// quote), long forms included; the end of \a text when it is not closed.
qsizetype literalEnd(const QString& text, qsizetype start)
{
    const QChar quote = text.at(start);
    const bool isLong = text.mid(start, 3) == QString(3, quote);
    qsizetype i = start + (isLong ? 3 : 1);
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            i += 2;
        } else if (c == quote && (!isLong || text.mid(i, 3) == QString(3, quote))) {
            return i + (isLong ? 3 : 1);
        } else {
            ++i;
        }
    }
    return text.size();
}

} // namespace

QSparqlQuery::QSparqlQuery(const QString& text, StatementType type)
    : m_text(text)
    , m_type(type)
{
}

void QSparqlQuery::bindValue(const QString& name, const QVariant& value)
{
    if (value.isValid())
        m_values.insert(placeholderName(name), value);
    else
        m_values.remove(placeholderName(name));
}

QVariant QSparqlQuery::boundValue(const QString& name) const
{
    return m_values.value(placeholderName(name));
}

QString QSparqlQuery::preparedQueryText() const
{
    if (m_values.isEmpty())
        return m_text;
    QString out;
    out.reserve(m_text.size());
    qsizetype i = 0;
    while (i < m_text.size()) {
        const QChar c = m_text.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype end = literalEnd(m_text, i);
            out += QStringView(m_text).mid(i, end - i);
            i = end;
            continue;
        }
        if (QStringView(m_text).mid(i).startsWith(placeholderMark)) {
            qsizetype end = i + placeholderMark.size();
            while (end < m_text.size() && isNameChar(m_text.at(end)))
                ++end;
            const auto value = m_values.constFind(m_text.mid(i + placeholderMark.size(), end - i - placeholderMark.size()));
            const QString written = value == m_values.constEnd() ? QString() : term(*value);
            out += written.isNull() ? QStringView(m_text).mid(i, end - i) : QStringView(written);
            i = end;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QString QSparqlQuery::encodedIri(const QUrl& url)
{
    const QByteArray encoded = url.toEncoded();
    QString out;
    out.reserve(encoded.size());
    for (const char c : encoded) {
        if (isIriChar(c))
            out += QLatin1Char(c);
        else
            out += QStringLiteral("%%1").arg(uint(static_cast<unsigned char>(c)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString QSparqlQuery::fileIri(const QString& path)
{
    return encodedIri(QUrl::fromLocalFile(path));
}
