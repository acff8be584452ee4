// SPDX-License-Identifier: LGPL-2.1-or-later
#include "sparqlreference.h"

#include <rovafilter.h>
#include <rovanode.h>
#include <rovasparqlparser.h>
#include <rovastatement.h>
#include <rovasubquery.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
#include <QTest>

namespace {

QStringList words(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

QString filterTypeName(RovaFilter::RovaFilterType type)
{
    switch (type) {
    case RovaFilter::RegexFilter:
        return QStringLiteral("regex");
    case RovaFilter::EqualsFilter:
        return QStringLiteral("equals");
    case RovaFilter::LessThanFilter:
        return QStringLiteral("less");
    case RovaFilter::GreaterThanFilter:
        return QStringLiteral("greater");
    }
    return QString();
}

QString statementText(RovaStatement* statement)
{
    return statement->subject()->text() + QLatin1Char(' ') + statement->predicate() + QLatin1Char(' ')
            + statement->object()->text();
}

QString statementsText(const QList<RovaStatement*>& statements)
{
    QStringList parts;
    for (RovaStatement* statement : statements)
        parts << statementText(statement);
    return parts.join(QLatin1Char('|'));
}

QString filtersText(const QMap<QString, RovaFilter*>& filters)
{
    QStringList parts;
    for (auto it = filters.cbegin(); it != filters.cend(); ++it)
        parts << it.key() + QLatin1Char(' ') + filterTypeName(it.value()->filterType()) + QLatin1Char(' ')
                        + it.value()->constraint();
    return parts.join(QLatin1Char('|'));
}

QString corpusQuery(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString query = QString::fromUtf8(file.readAll());
    if (query.endsWith(QLatin1Char('\n')))
        query.chop(1); // the end of the file's last line is not part of the query
    return query;
}

// What a corpus query is expected to yield, read from its .expected file: lines of
// tab-separated fields, the first naming what the line describes.
struct Expectation {
    bool accepted = false;
    QStringList warnings;
    QStringList variables;
    QStringList statements;
    QStringList filters;
    QString orderBy;
    int limit = -1;
    int offset = -1;
    QStringList subqueries;
};

Expectation readExpectation(const QString& path)
{
    Expectation expected;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return expected;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        QStringList fields = line.split(QLatin1Char('\t'));
        const QString key = fields.takeFirst();
        const QString rest = fields.join(QLatin1Char(' '));
        if (key == QLatin1String("result"))
            expected.accepted = rest == QLatin1String("accept");
        else if (key == QLatin1String("warning"))
            expected.warnings << rest;
        else if (key == QLatin1String("variables"))
            expected.variables = rest.split(QLatin1Char(' '));
        else if (key == QLatin1String("statement"))
            expected.statements << rest;
        else if (key == QLatin1String("filter"))
            expected.filters << rest;
        else if (key == QLatin1String("orderBy"))
            expected.orderBy = rest;
        else if (key == QLatin1String("limit"))
            expected.limit = rest.toInt();
        else if (key == QLatin1String("offset"))
            expected.offset = rest.toInt();
        else if (key == QLatin1String("subquery"))
            expected.subqueries << rest;
    }
    return expected;
}

} // namespace

class tst_RovaSparqlParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void shouldTokenize_data();
    void shouldTokenize();
    void shouldTokenizeLikeTheInPlaceRules();
    void shouldMakeCharacterATokenOfItsOwn_data();
    void shouldMakeCharacterATokenOfItsOwn();
    void shouldStripFirstAndLastCharacter_data();
    void shouldStripFirstAndLastCharacter();
    void shouldTypeNodeByFirstCharacter_data();
    void shouldTypeNodeByFirstCharacter();

    void shouldParseFilter_data();
    void shouldParseFilter();
    void shouldUnwrapOptionalBlock_data();
    void shouldUnwrapOptionalBlock();

    void shouldAnalyseCorpusQuery_data();
    void shouldAnalyseCorpusQuery();
    void shouldAcceptShortestQueryAndRejectOneTokenLess();
    void shouldReportEmptyTokenAfterTrailingBlankAsUnsupportedClause();
    void shouldAccumulateUntilReset();
    void shouldKeepWhatWasParsedBeforeRejection();
    void shouldDeleteEverythingOnReset();
};

void tst_RovaSparqlParser::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("rova.sparql.debug=false"));
}

void tst_RovaSparqlParser::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void tst_RovaSparqlParser::shouldTokenize_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("tokens");

    QTest::newRow("shortest query") << "SELECT ?s WHERE { ?s ?p ?o }"
            << words({"SELECT", "?s", "WHERE", "{", "?s", "?p", "?o", "}"});
    QTest::newRow("braces glued to terms") << "SELECT ?s WHERE{?s ?p ?o}"
            << words({"SELECT", "?s", "WHERE", "{", "?s", "?p", "?o", "}"});
    QTest::newRow("regex call") << "FILTER regex(?t,\"a b\")"
            << words({"FILTER", "regex", "(", "?t", ",", "\"a b\"", ")"});
    QTest::newRow("literal keeps blanks, braces, commas") << "x \"a { b }, (c)\" y"
            << words({"x", "\"a { b }, (c)\"", "y"});
    QTest::newRow("escaped quote stays inside") << R"(x "say \"hi\" now" y)"
            << words({"x", R"("say \"hi\" now")", "y"});
    QTest::newRow("period glued to object") << "?s ?p ?o." << words({"?s", "?p", "?o."});
    QTest::newRow("datatype suffix is its own token") << "?s ?p \"5\"^^xsd:int ."
            << words({"?s", "?p", "\"5\"", "^^xsd:int", "."});
    QTest::newRow("line breaks are blanks") << "a\r\nb\nc\rd" << words({"a", "b", "c", "d"});
    QTest::newRow("line break inside literal kept") << "a \"x\ny\" b" << words({"a", "\"x\ny\"", "b"});
    QTest::newRow("trailing blank gives empty token") << "a b " << words({"a", "b", ""});
    QTest::newRow("first character never separated") << "{a}" << words({"{a", "}"});
    QTest::newRow("unterminated literal runs to the end") << "a \"open ( end" << words({"a", "\"open ( end"});
    QTest::newRow("empty query") << "" << QStringList{};
    QTest::newRow("blank only") << " " << words({""});
    QTest::newRow("quote inside a word starts a literal for the separation") << "a\"b (c\" d"
            << words({"a\"b", "(c\"", "d"});
}

void tst_RovaSparqlParser::shouldTokenize()
{
    QFETCH(QString, query);
    QFETCH(QStringList, tokens);

    QCOMPARE(RovaSparqlParser::tokenizeSparql(query), tokens);
    QCOMPARE(referenceTokenizeSparql(query), tokens);
}

void tst_RovaSparqlParser::shouldTokenizeLikeTheInPlaceRules()
{
    // Every corpus query, then random texts made mostly of the characters the rules treat
    // specially, compared with the in-place rules.
    const QDir corpus(QStringLiteral(ROVA_SPARQL_CORPUS));
    const QStringList files = corpus.entryList({QStringLiteral("*.rq")});
    QVERIFY(files.size() >= 40);
    for (const QString& file : files) {
        const QString query = corpusQuery(corpus.filePath(file));
        QCOMPARE(RovaSparqlParser::tokenizeSparql(query), referenceTokenizeSparql(query));
    }

    const QString alphabet = QStringLiteral("(){},\"\\ \r\n\t?x.^<>_é");
    QRandomGenerator random(20261206);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int length = random.bounded(0, 40);
        for (int i = 0; i < length; ++i)
            text.append(alphabet.at(random.bounded(int(alphabet.size()))));
        QCOMPARE(RovaSparqlParser::tokenizeSparql(text), referenceTokenizeSparql(text));
    }
}

void tst_RovaSparqlParser::shouldMakeCharacterATokenOfItsOwn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("result");

    QTest::newRow("glued on both sides") << "a(b" << 1 << "a ( b";
    QTest::newRow("blank before") << "a (b" << 2 << "a ( b";
    QTest::newRow("blank after") << "a( b" << 1 << "a ( b";
    QTest::newRow("first character gets only a blank after") << "(b" << 0 << "( b";
    QTest::newRow("last character gets only a blank before") << "a)" << 1 << "a )";
    QTest::newRow("already separated") << "a ( b" << 2 << "a ( b";
    QTest::newRow("tab is not a blank") << "a\t(\tb" << 2 << "a\t ( \tb";
    QTest::newRow("negative position") << "a(b" << -1 << "a(b";
    QTest::newRow("position past the end") << "a(b" << 3 << "a(b";
}

void tst_RovaSparqlParser::shouldMakeCharacterATokenOfItsOwn()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(QString, result);

    RovaSparqlParser::ensureSpace(text, position);
    QCOMPARE(text, result);
}

void tst_RovaSparqlParser::shouldStripFirstAndLastCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");

    QTest::newRow("quotes") << "\"Jazz\"" << "Jazz";
    QTest::newRow("angle brackets") << "<urn:a>" << "urn:a";
    QTest::newRow("two characters") << "\"\"" << "";
    QTest::newRow("one character") << "x" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_RovaSparqlParser::shouldStripFirstAndLastCharacter()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(RovaSparqlParser::center(text), result);
}

void tst_RovaSparqlParser::shouldTypeNodeByFirstCharacter_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");

    QTest::newRow("variable") << "?song" << true << int(RovaNode::VariableNode) << "?song";
    QTest::newRow("blank node") << "_:b1" << true << int(RovaNode::BlankNode) << "_:b1";
    QTest::newRow("iri") << "<urn:x>" << true << int(RovaNode::UriNode) << "<urn:x>";
    QTest::newRow("literal") << "\"a b\"" << true << int(RovaNode::LiteralNode) << "\"a b\"";
    QTest::newRow("variable with glued period") << "?o." << true << int(RovaNode::VariableNode) << "?o.";
    QTest::newRow("prefixed name keeps old text") << "nmm:Artist" << false << int(RovaNode::InvalidNode) << "old";
    QTest::newRow("number keeps old text") << "42" << false << int(RovaNode::InvalidNode) << "old";
    QTest::newRow("empty keeps old text") << "" << false << int(RovaNode::InvalidNode) << "old";
}

void tst_RovaSparqlParser::shouldTypeNodeByFirstCharacter()
{
    QFETCH(QString, token);
    QFETCH(bool, accepted);
    QFETCH(int, type);
    QFETCH(QString, text);

    RovaNode node;
    node.setText(QStringLiteral("old"));
    node.setNodeType(RovaNode::UriNode);
    QCOMPARE(node.init(token), accepted);
    QCOMPARE(int(node.nodeType()), type);
    QCOMPARE(node.text(), text);
}

void tst_RovaSparqlParser::shouldParseFilter_data()
{
    QTest::addColumn<QString>("text"); // what follows the FILTER keyword, and a closing brace
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("filters");
    QTest::addColumn<QStringList>("rest");

    const QStringList brace = words({"}"});
    QTest::newRow("regex") << "regex(?t, \"^a\") }" << 0 << "?t regex \"^a\"" << brace;
    QTest::newRow("regex in parentheses") << "(regex(?t, \"^a\")) }" << 0 << "?t regex \"^a\"" << brace;
    QTest::newRow("regex on a non-variable") << "regex(str(?t), \"^a\") }" << 1 << "" << QStringList{};
    QTest::newRow("regex with an unquoted pattern") << "regex(?t, a) }" << 1 << "" << QStringList{};
    QTest::newRow("regex missing a closing parenthesis") << "(regex(?t, \"^a\") }" << 1 << "" << QStringList{};
    QTest::newRow("equals literal") << "(?g = \"Jazz\") }" << 0 << "?g equals \"Jazz\"" << brace;
    QTest::newRow("equals iri") << "(?a = <urn:a>) }" << 0 << "?a equals <urn:a>" << brace;
    QTest::newRow("greater than") << "(?d > \"600\") . }" << 0 << "?d greater \"600\"" << words({".", "}"});
    QTest::newRow("less or equal") << "(?d <= \"1\") }" << 1 << "" << QStringList{};
    QTest::newRow("two conditions") << "(?a = \"x\" && ?b = \"y\") }" << 1 << "" << QStringList{};
    QTest::newRow("nothing") << "" << 1 << "" << QStringList{};
}

void tst_RovaSparqlParser::shouldParseFilter()
{
    QFETCH(QString, text);
    QFETCH(int, result);
    QFETCH(QString, filters);
    QFETCH(QStringList, rest);

    RovaSparqlParser parser;
    QStringList tokens = RovaSparqlParser::tokenizeSparql(QStringLiteral("FILTER ") + text);
    tokens.removeFirst(); // the keyword, as parse() leaves it
    QCOMPARE(parser.parseFilter(tokens), result);
    QCOMPARE(filtersText(parser.filters()), filters);
    if (result == 0)
        QCOMPARE(tokens, rest);
}

void tst_RovaSparqlParser::shouldUnwrapOptionalBlock_data()
{
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("rest");

    QTest::newRow("block") << words({"{", "?s", "?p", "?o", ".", "}", "}"}) << 0
                           << words({"?s", "?p", "?o", ".", "}"});
    QTest::newRow("first closing brace goes") << words({"{", "a", "}", "b", "}"}) << 0
                                              << words({"a", "b", "}"});
    QTest::newRow("closing brace right away") << words({"{", "}", "x"}) << 0 << words({"x"});
    QTest::newRow("no opening brace") << words({"?s", "}"}) << 1 << words({"?s", "}"});
    QTest::newRow("nothing after the brace") << words({"{"}) << 1 << QStringList{};
    QTest::newRow("no closing brace") << words({"{", "?s", "?p"}) << 1 << words({"?s", "?p"});
    QTest::newRow("empty") << QStringList{} << 1 << QStringList{};
}

void tst_RovaSparqlParser::shouldUnwrapOptionalBlock()
{
    QFETCH(QStringList, tokens);
    QFETCH(int, result);
    QFETCH(QStringList, rest);

    RovaSparqlParser parser;
    QCOMPARE(parser.removeOptional(tokens), result);
    QCOMPARE(tokens, rest);
}

void tst_RovaSparqlParser::shouldAnalyseCorpusQuery_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("expectationFile");

    const QDir corpus(QStringLiteral(ROVA_SPARQL_CORPUS));
    const QStringList files = corpus.entryList({QStringLiteral("*.rq")});
    int accepted = 0;
    for (const QString& file : files) {
        if (file.startsWith(QLatin1String("accept-")))
            ++accepted;
        const QString name = file.chopped(3);
        QTest::newRow(qPrintable(name)) << corpusQuery(corpus.filePath(file))
                                        << corpus.filePath(name + QStringLiteral(".expected"));
    }
    QVERIFY(accepted >= 25);
    QVERIFY(files.size() - accepted >= 10);
}

void tst_RovaSparqlParser::shouldAnalyseCorpusQuery()
{
    QFETCH(QString, query);
    QFETCH(QString, expectationFile);

    QVERIFY(QFile::exists(expectationFile));
    const Expectation expected = readExpectation(expectationFile);
    for (const QString& warning : expected.warnings)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));

    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query), expected.accepted ? 0 : 1);
    if (!expected.accepted)
        return;

    QCOMPARE(parser.variables(), expected.variables);
    QCOMPARE(statementsText(parser.statements()), expected.statements.join(QLatin1Char('|')));
    QCOMPARE(filtersText(parser.filters()), expected.filters.join(QLatin1Char('|')));
    QCOMPARE(parser.orderBy(), expected.orderBy);
    QCOMPARE(parser.limit(), expected.limit);
    QCOMPARE(parser.offset(), expected.offset);

    parser.subqueryAnalysis();
    QVERIFY(parser.statements().isEmpty());
    QStringList subqueries;
    for (int i = 0; i < parser.subqueries().size(); ++i) {
        RovaSubquery* subquery = parser.subqueries().at(i);
        const QList<RovaStatement*> statements = subquery->statements();
        QVERIFY(!statements.isEmpty());
        for (RovaStatement* statement : statements)
            QCOMPARE(statement->subject()->text(), statements.first()->subject()->text());
        subqueries << QStringList{statements.first()->subject()->text(), subquery->variables().join(QLatin1Char(' ')),
                                  QString::number(parser.notResolvedVarsAtSub(i)),
                                  QString::number(statements.size())}.join(QLatin1Char(' '));
    }
    QCOMPARE(subqueries.join(QLatin1Char('|')), expected.subqueries.join(QLatin1Char('|')));
}

void tst_RovaSparqlParser::shouldAcceptShortestQueryAndRejectOneTokenLess()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?s WHERE { ?s ?p ?o }")), 0);
    QCOMPARE(parser.variables(), QStringList{QStringLiteral("?s")});
    QCOMPARE(statementsText(parser.statements()), QStringLiteral("?s ?p ?o"));
    QCOMPARE(parser.orderBy(), QString());
    QCOMPARE(parser.limit(), -1);
    QCOMPARE(parser.offset(), -1);

    parser.reset();
    QTest::ignoreMessage(QtWarningMsg, R"(RovaSparqlParser::parse: too short query: "SELECT ?s WHERE { ?s ?p")");
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?s WHERE { ?s ?p")), 1);
    QVERIFY(parser.variables().isEmpty());
}

void tst_RovaSparqlParser::shouldReportEmptyTokenAfterTrailingBlankAsUnsupportedClause()
{
    RovaSparqlParser parser;
    QTest::ignoreMessage(QtWarningMsg, R"(RovaSparqlParser unsupported clause: "")");
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?s WHERE { ?s ?p ?o } LIMIT 3 ")), 0);
    QCOMPARE(parser.limit(), 3);
}

void tst_RovaSparqlParser::shouldAccumulateUntilReset()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?a WHERE { ?a <p> \"1\" . FILTER (?a = \"x\") } ORDER BY ?a LIMIT 1")), 0);
    QCOMPARE(parser.parse(QStringLiteral("SELECT DISTINCT ?b WHERE { ?b <q> ?a } ORDER BY ?b OFFSET 4")), 0);
    QCOMPARE(parser.variables(), (QStringList{QStringLiteral("?a"), QStringLiteral("?b")}));
    QCOMPARE(statementsText(parser.statements()), QStringLiteral("?a <p> \"1\"|?b <q> ?a"));
    QCOMPARE(filtersText(parser.filters()), QStringLiteral("?a equals \"x\""));
    QCOMPARE(parser.orderBy(), QStringLiteral("?b"));
    QCOMPARE(parser.limit(), 1);
    QCOMPARE(parser.offset(), 4);

    parser.reset();
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?c WHERE { ?c <r> ?d }")), 0);
    QCOMPARE(parser.variables(), QStringList{QStringLiteral("?c")});
    QCOMPARE(statementsText(parser.statements()), QStringLiteral("?c <r> ?d"));
    QVERIFY(parser.filters().isEmpty());
    QVERIFY(parser.orderBy().isNull());
    QCOMPARE(parser.limit(), -1);
    QCOMPARE(parser.offset(), -1);
}

void tst_RovaSparqlParser::shouldKeepWhatWasParsedBeforeRejection()
{
    RovaSparqlParser parser;
    QTest::ignoreMessage(QtWarningMsg, R"(RovaSparqlQuery::parse: bad node: "nmm:Artist")");
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?a ?n WHERE { ?a nmm:artistName ?n . FILTER (?n = \"x\") ?a a nmm:Artist }")), 1);
    QCOMPARE(parser.variables(), (QStringList{QStringLiteral("?a"), QStringLiteral("?n")}));
    QCOMPARE(statementsText(parser.statements()), QStringLiteral("?a nmm:artistName ?n"));
    QCOMPARE(filtersText(parser.filters()), QStringLiteral("?n equals \"x\""));
}

void tst_RovaSparqlParser::shouldDeleteEverythingOnReset()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?a WHERE { ?a <p> ?b . ?b <q> ?c . FILTER regex(?c, \"x\") }")), 0);
    QPointer<RovaStatement> statement = parser.statements().first();
    QPointer<RovaFilter> filter = parser.filters().first();
    parser.subqueryAnalysis();
    QPointer<RovaSubquery> subquery = parser.subqueries().first();
    QCOMPARE(parser.parse(QStringLiteral("SELECT ?x WHERE { ?x <p> ?y }")), 0);
    QPointer<RovaStatement> unanalysed = parser.statements().first();

    parser.reset();
    QVERIFY(statement.isNull());
    QVERIFY(filter.isNull());
    QVERIFY(subquery.isNull());
    QVERIFY(unanalysed.isNull());
    QVERIFY(parser.subqueries().isEmpty());
    QVERIFY(parser.statements().isEmpty());
    QVERIFY(parser.variables().isEmpty());
}

QTEST_GUILESS_MAIN(tst_RovaSparqlParser)
#include "tst_rovasparqlparser.moc"
