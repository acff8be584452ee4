// SPDX-License-Identifier: LGPL-2.1-or-later
// Feeds arbitrary text to the SPARQL analyser: parse, subquery analysis, every count
// (and one position past the end), a second parse into the same parser, reset. Small
// inputs are also tokenised by the in-place rules and must give the same tokens.
#include "sparqlreference.h"

#include <rovasparqlparser.h>
#include <rovasubquery.h>

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&)
{
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(discardMessage);
    QLoggingCategory::setFilterRules(QStringLiteral("rova.sparql.debug=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString query = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (query.size() <= 2048 && RovaSparqlParser::tokenizeSparql(query) != referenceTokenizeSparql(query))
        std::abort();

    RovaSparqlParser parser;
    parser.parse(query);
    const qsizetype parsed = parser.statements().size();
    parser.subqueryAnalysis();
    if (!parser.statements().isEmpty())
        std::abort();
    qsizetype kept = 0;
    const unsigned int count = unsigned(parser.subqueries().size());
    for (unsigned int i = 0; i <= count; ++i) {
        const int unresolved = parser.notResolvedVarsAtSub(i);
        if ((i < count && unresolved < 0) || (i == count && unresolved != -1))
            std::abort();
        if (i < count)
            kept += parser.subqueries().at(i)->statements().size();
    }
    if (kept > parsed)
        std::abort();

    parser.parse(query);
    parser.reset();
    if (!parser.statements().isEmpty() || !parser.subqueries().isEmpty() || !parser.filters().isEmpty())
        std::abort();
    return 0;
}
