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

// Tokens written as one text, separated by '|'.
QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char('|'));
}

// What the parser holds, in the lines of the corpus' .expected files: variables, statements,
// filters, ordering, limit, offset, then the subqueries (with their subject, variables,
// unresolved count and statement count).
QString parsedText(RovaSparqlParser& parser)
{
    QStringList lines{QStringLiteral("variables\t") + parser.variables().join(QLatin1Char(' '))};
    for (RovaStatement* statement : std::as_const(parser.statements()))
        lines << QStringList{QStringLiteral("statement"), statement->subject()->text(), statement->predicate(),
                             statement->object()->text()}.join(QLatin1Char('\t'));
    static const char* const filterTypes[] = {"?", "regex", "equals", "less", "greater"};
    for (auto it = parser.filters().cbegin(); it != parser.filters().cend(); ++it)
        lines << QStringList{QStringLiteral("filter"), it.key(), QLatin1String(filterTypes[it.value()->filterType()]),
                             it.value()->constraint()}.join(QLatin1Char('\t'));
    if (!parser.orderBy().isEmpty())
        lines << QStringLiteral("orderBy\t") + parser.orderBy();
    if (parser.limit() != -1)
        lines << QStringLiteral("limit\t") + QString::number(parser.limit());
    if (parser.offset() != -1)
        lines << QStringLiteral("offset\t") + QString::number(parser.offset());
    for (int i = 0; i < parser.subqueries().size(); ++i) {
        const QList<RovaStatement*> statements = parser.subqueries().at(i)->statements();
        const QString subject = statements.isEmpty() ? QString() : statements.first()->subject()->text();
        for (RovaStatement* statement : statements) {
            if (statement->subject()->text() != subject)
                return QStringLiteral("subquery %1 mixes subjects").arg(i);
        }
        lines << QStringList{QStringLiteral("subquery"), subject, parser.subqueries().at(i)->variables().join(QLatin1Char(' ')),
                             QString::number(parser.notResolvedVarsAtSub(i)), QString::number(statements.size())}
                         .join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

// Only the subquery lines of parsedText().
QString subqueriesText(RovaSparqlParser& parser, QChar separator = QLatin1Char('|'))
{
    return parsedText(parser).split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^subquery\t"))).join(separator);
}

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_RovaSparqlParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("rova.sparql.debug=false")); }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldTokenize_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("tokens");

        QTest::newRow("braces glued to terms") << "SELECT ?s WHERE{?s ?p ?o}" << words("SELECT|?s|WHERE|{|?s|?p|?o|}");
        QTest::newRow("escaped quote stays inside") << "x \"say \\\"hi\\\" now\" y" << words("x|\"say \\\"hi\\\" now\"|y");
        QTest::newRow("line break inside literal kept") << "a \"x\ny\" b" << words("a|\"x\ny\"|b");
        QTest::newRow("trailing blank gives empty token") << "a b " << words("a|b|");
        QTest::newRow("first character never separated") << "{a}" << words("{a|}");
        QTest::newRow("unterminated literal runs to the end") << "a \"open ( end" << words("a|\"open ( end");
        QTest::newRow("empty query") << "" << QStringList{};
        QTest::newRow("quote inside a word starts a literal for the separation") << "a\"b (c\" d" << words("a\"b|(c\"|d");
    }

    void shouldTokenize()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, tokens);

        QCOMPARE(RovaSparqlParser::tokenizeSparql(query), tokens);
        QCOMPARE(referenceTokenizeSparql(query), tokens);
    }

    void shouldTokenizeRandomTextLikeTheInPlaceRules()
    {
        // Texts made mostly of the characters the rules treat specially; this also checks ensureSpace().
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

    void shouldEditTokensInPlace()
    {
        // ensureSpace() on its usual inputs is checked through the in-place rules.
        QString text = QStringLiteral("a\t(\tb");
        for (int position : {2, -1, 7, 0})
            RovaSparqlParser::ensureSpace(text, position);
        // A tab is not a blank; positions outside change nothing, the first has nothing before it.
        QCOMPARE(text, QStringLiteral("a \t ( \tb"));
        QCOMPARE(RovaSparqlParser::center(QStringLiteral("<urn:a>")), QStringLiteral("urn:a"));
        QCOMPARE(RovaSparqlParser::center(QStringLiteral("\"\"")), QString());
        QCOMPARE(RovaSparqlParser::center(QStringLiteral("x")), QString());

        // The accepted node kinds show in the corpus; a refused token leaves the node as it was.
        RovaNode node;
        QVERIFY(node.init(QStringLiteral("_:b1")));
        QCOMPARE(node.nodeType(), RovaNode::BlankNode);
        QVERIFY(node.init(QStringLiteral("\"a b\"")));
        for (const QString& token : {QStringLiteral("nmm:Artist"), QStringLiteral("42"), QString()})
            QVERIFY(!node.init(token));
        QCOMPARE(node.nodeType(), RovaNode::InvalidNode);
        QCOMPARE(node.text(), QStringLiteral("\"a b\""));
    }

    void shouldAnalyseCorpusQuery_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");

        const QDir corpus(QStringLiteral(ROVA_SPARQL_CORPUS));
        const QStringList files = corpus.entryList({QStringLiteral("*.rq")});
        const qsizetype accepted = files.filter(QRegularExpression(QStringLiteral("^accept-"))).size();
        QVERIFY(accepted >= 35 && files.size() - accepted >= 25);
        for (const QString& file : files) {
            QString query = readFile(corpus.filePath(file));
            query.chop(query.endsWith(QLatin1Char('\n')) ? 1 : 0); // the end of the file's last line is not part of it
            const QString expected = readFile(corpus.filePath(file.chopped(3) + QStringLiteral(".expected")));
            QVERIFY2(!expected.isEmpty(), qPrintable(file));
            QTest::newRow(qPrintable(file.chopped(3))) << query << expected;
        }
    }

    void shouldAnalyseCorpusQuery()
    {
        QFETCH(QString, query);
        QFETCH(QString, expected);

        QCOMPARE(RovaSparqlParser::tokenizeSparql(query), referenceTokenizeSparql(query));
        // Lines of tab-separated fields, the first naming what the line describes.
        QStringList lines = expected.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : lines.filter(QRegularExpression(QStringLiteral("^warning\t"))))
            QTest::ignoreMessage(QtWarningMsg, qPrintable(line.mid(8)));
        lines.removeIf([](const QString& line) { return line.startsWith(QLatin1String("warning\t")); });

        RovaSparqlParser parser;
        const bool accepted = parser.parse(query) == 0;
        QCOMPARE(lines.takeFirst(), accepted ? QStringLiteral("result\taccept") : QStringLiteral("result\treject"));
        if (!accepted)
            return;
        const QString parsed = parsedText(parser);
        parser.subqueryAnalysis();
        QVERIFY(parser.statements().isEmpty());
        const QString subqueries = subqueriesText(parser, QLatin1Char('\n'));
        QCOMPARE(subqueries.isEmpty() ? parsed : parsed + QLatin1Char('\n') + subqueries, lines.join(QLatin1Char('\n')));
    }

    void shouldAccumulateUntilResetDeletesEverything()
    {
        RovaSparqlParser parser;
        QCOMPARE(parser.parse(QStringLiteral("SELECT ?a WHERE { ?a <p> \"1\" . FILTER (?a = \"x\") } ORDER BY ?a LIMIT 1")), 0);
        QPointer<RovaStatement> statement = parser.statements().first();
        QPointer<RovaFilter> filter = parser.filters().first();
        parser.subqueryAnalysis();
        QPointer<RovaSubquery> subquery = parser.subqueries().first();
        QCOMPARE(parser.parse(QStringLiteral("SELECT DISTINCT ?b WHERE { ?b <q> ?a } ORDER BY ?b OFFSET 4")), 0);
        QPointer<RovaStatement> unanalysed = parser.statements().first();
        QCOMPARE(parsedText(parser), QStringLiteral("variables\t?a ?b\nstatement\t?b\t<q>\t?a\nfilter\t?a\tequals\t\"x\"\n"
                                                    "orderBy\t?b\nlimit\t1\noffset\t4\nsubquery\t?a\t?a\t1\t1"));

        parser.reset();
        QVERIFY(statement.isNull() && filter.isNull() && subquery.isNull() && unanalysed.isNull());
        QCOMPARE(parsedText(parser), QStringLiteral("variables\t"));
        // A rejected query keeps what came before the rejection.
        QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::parse: bad node: \"nmm:Artist\"");
        QCOMPARE(parser.parse(QStringLiteral("SELECT ?a ?n WHERE { ?a <n> ?n . FILTER (?n = \"x\") ?a a nmm:Artist }")), 1);
        QCOMPARE(parsedText(parser), QStringLiteral("variables\t?a ?n\nstatement\t?a\t<n>\t?n\nfilter\t?n\tequals\t\"x\""));
    }

    void shouldDeleteDuplicatesSortAgainAndDeriveOnRequest()
    {
        RovaSparqlParser parser;
        QCOMPARE(parser.parse(QStringLiteral("SELECT ?s WHERE { ?s <p> ?o . ?t <p> ?o . ?s <p> ?o . ?s <p> ?O . ?t <p> ?o . }")), 0);
        const QList<QPointer<RovaStatement>> watched(parser.statements().cbegin(), parser.statements().cend());
        parser.subqueryAnalysis();
        QString alive;
        for (const QPointer<RovaStatement>& statement : watched)
            alive += statement ? QLatin1Char('1') : QLatin1Char('0');
        QCOMPARE(alive, QStringLiteral("11010")); // the later copies are deleted; case counts
        const QString analysed = subqueriesText(parser);
        QCOMPARE(analysed, QStringLiteral("subquery\t?t\t?t ?o\t2\t1|subquery\t?s\t?s ?o ?O\t2\t2"));

        // A second run finds no statements left and only sorts the subqueries again.
        parser.subqueries().swapItemsAt(0, 1);
        parser.subqueryAnalysis();
        QCOMPARE(subqueriesText(parser), analysed);

        // On request, the statements of one subject (none for an unknown one) make one more subquery.
        QCOMPARE(parser.parse(QStringLiteral("SELECT ?s WHERE { ?s <p> ?o . ?t <p> ?s . ?s <q> ?x . }")), 0);
        parser.deriveSubquery(QStringLiteral("?nobody"));
        parser.deriveSubquery(QStringLiteral("?s"));
        QCOMPARE(parsedText(parser).section(QLatin1Char('\n'), 1),
                 QStringLiteral("statement\t?t\t<p>\t?s\nsubquery\t?t\t?t ?o\t2\t1\nsubquery\t?s\t?s ?o ?O\t2\t2\n"
                                "subquery\t\t\t0\t0\nsubquery\t?s\t?s ?o ?x\t1\t2"));
        QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 4");
        QCOMPARE(parser.notResolvedVarsAtSub(4), -1);
        QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 4294967295");
        QCOMPARE(parser.notResolvedVarsAtSub(unsigned(-1)), -1);
    }
};

QTEST_GUILESS_MAIN(tst_RovaSparqlParser)
#include "tst_rovasparqlparser.moc"
