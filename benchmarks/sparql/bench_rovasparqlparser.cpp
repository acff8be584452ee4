// SPDX-License-Identifier: LGPL-2.1-or-later
// Tokenising and parsing SPARQL queries of growing size, against a plain split of the same
// text at blanks; subquery analysis of 1,000 triple patterns.
#include "sparqlreference.h"

#include <rovasparqlparser.h>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTest>

namespace {

// A query of about \a size characters, made of the shapes the analyser accepts: plain
// patterns, OPTIONAL blocks, typed literals, filters with literals holding blanks and
// brackets, and a few glued brackets for the tokenizer to separate.
QString queryOfSize(int size)
{
    QString query = QStringLiteral("SELECT DISTINCT ?song ?title ?album WHERE {\n");
    for (int i = 0; query.size() < size - 40; ++i) {
        const QString n = QString::number(i);
        query += QStringLiteral("  ?song") + n + QStringLiteral(" a <http://tracker.api.gnome.org/ontology/v3/nmm#MusicPiece> .\n")
                + QStringLiteral("  ?song") + n + QStringLiteral(" nie:title ?title") + n + QStringLiteral(" .\n")
                + QStringLiteral("  OPTIONAL{?song") + n + QStringLiteral(" nmm:musicAlbum ?album") + n + QStringLiteral(" .}\n")
                + QStringLiteral("  ?song") + n + QStringLiteral(" nie:usageCounter \"") + n + QStringLiteral("\"^^xsd:integer .\n")
                + QStringLiteral("  FILTER (?title") + n + QStringLiteral(" = \"Live { at } the (Apollo), 1962\")\n")
                + QStringLiteral("  FILTER regex(?album") + n + QStringLiteral(",\"^blue\")\n");
    }
    query += QStringLiteral("} ORDER BY ?title LIMIT 50 OFFSET 10");
    return query;
}

// 1,000 patterns about 250 subjects; each subject's patterns point at the next subject,
// listed last to first so the ordering has work to do.
QString manySubjects()
{
    QString patterns;
    for (int s = 249; s >= 0; --s) {
        const QString v = QStringLiteral("?s") + QString::number(s);
        patterns += v + QStringLiteral(" <p> ?s") + QString::number(s + 1) + QStringLiteral(" . ")
                + v + QStringLiteral(" <q> ?a") + QString::number(s) + QStringLiteral(" . ")
                + v + QStringLiteral(" <r> \"x\" . ")
                + v + QStringLiteral(" <t> ?b") + QString::number(s) + QStringLiteral(" . ");
    }
    return QStringLiteral("SELECT ?s0 WHERE { ") + patterns + QStringLiteral("}");
}

// 1,000 patterns, each its own subject, forming one chain listed last to first.
QString longChain()
{
    QString patterns;
    for (int s = 999; s >= 0; --s)
        patterns += QStringLiteral("?v") + QString::number(s) + QStringLiteral(" <p> ?v") + QString::number(s + 1)
                + QStringLiteral(" . ");
    return QStringLiteral("SELECT ?v0 WHERE { ") + patterns + QStringLiteral("}");
}

} // namespace

class bench_RovaSparqlParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void splitAtBlanks_data();
    void splitAtBlanks();
    void tokenize_data() { splitAtBlanks_data(); }
    void tokenize();
    void parse_data() { splitAtBlanks_data(); }
    void parse();
    void tokenizeInPlace_data();
    void tokenizeInPlace();
    void subqueryAnalysis_data();
    void subqueryAnalysis();
};

void bench_RovaSparqlParser::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("rova.sparql.debug=false"));
    QVERIFY(RovaSparqlParser().parse(queryOfSize(100 * 1024)) == 0);
}

void bench_RovaSparqlParser::splitAtBlanks_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("1 KB") << queryOfSize(1024);
    QTest::newRow("100 KB") << queryOfSize(100 * 1024);
    QTest::newRow("1 MB") << queryOfSize(1024 * 1024);
    QTest::newRow("2 MB") << queryOfSize(2 * 1024 * 1024);
    QTest::newRow("4 MB") << queryOfSize(4 * 1024 * 1024);
}

void bench_RovaSparqlParser::splitAtBlanks()
{
    QFETCH(QString, query);
    QBENCHMARK {
        const QStringList parts = query.split(u' ');
        QVERIFY(!parts.isEmpty());
    }
}

void bench_RovaSparqlParser::tokenize()
{
    QFETCH(QString, query);
    QBENCHMARK {
        const QStringList tokens = RovaSparqlParser::tokenizeSparql(query);
        QVERIFY(!tokens.isEmpty());
    }
}

void bench_RovaSparqlParser::parse()
{
    QFETCH(QString, query);
    QBENCHMARK {
        RovaSparqlParser parser;
        QCOMPARE(parser.parse(query), 0);
    }
}

void bench_RovaSparqlParser::tokenizeInPlace_data()
{
    QTest::addColumn<QString>("query");
    QTest::newRow("1 KB") << queryOfSize(1024);
    QTest::newRow("100 KB") << queryOfSize(100 * 1024);
}

void bench_RovaSparqlParser::tokenizeInPlace()
{
    // The rules applied literally, inserting blanks into the text: quadratic.
    QFETCH(QString, query);
    QBENCHMARK {
        const QStringList tokens = referenceTokenizeSparql(query);
        QVERIFY(!tokens.isEmpty());
    }
}

void bench_RovaSparqlParser::subqueryAnalysis_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("subqueries");
    QTest::newRow("1,000 patterns, 250 subjects") << manySubjects() << 250;
    QTest::newRow("1,000 patterns, 1,000 subjects in a chain") << longChain() << 1000;
}

void bench_RovaSparqlParser::subqueryAnalysis()
{
    // Only the analysis is timed; each round parses a fresh copy first.
    QFETCH(QString, query);
    QFETCH(int, subqueries);
    constexpr int rounds = 20;
    qint64 nanoseconds = 0;
    for (int round = 0; round < rounds; ++round) {
        RovaSparqlParser parser;
        QCOMPARE(parser.parse(query), 0);
        QCOMPARE(parser.statements().size(), 1000);
        QElapsedTimer timer;
        timer.start();
        parser.subqueryAnalysis();
        nanoseconds += timer.nsecsElapsed();
        QCOMPARE(parser.subqueries().size(), subqueries);
    }
    QTest::setBenchmarkResult(qreal(nanoseconds) / rounds, QTest::WalltimeNanoseconds);
}

QTEST_GUILESS_MAIN(bench_RovaSparqlParser)
#include "bench_rovasparqlparser.moc"
