// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovanode.h>
#include <rovasparqlparser.h>
#include <rovastatement.h>
#include <rovasubquery.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QTest>

namespace {

// "subject: variables / count" for each subquery in order, with the statements' count.
QString describe(RovaSparqlParser& parser)
{
    QStringList parts;
    for (int i = 0; i < parser.subqueries().size(); ++i) {
        RovaSubquery* subquery = parser.subqueries().at(i);
        const QList<RovaStatement*> statements = subquery->statements();
        const QString subject = statements.isEmpty() ? QStringLiteral("-") : statements.first()->subject()->text();
        parts << subject + QStringLiteral(": ") + subquery->variables().join(QLatin1Char(' ')) + QStringLiteral(" / ")
                        + QString::number(parser.notResolvedVarsAtSub(i)) + QStringLiteral(" in ")
                        + QString::number(statements.size());
    }
    return parts.join(QLatin1Char('|'));
}

QString query(const QString& patterns)
{
    return QStringLiteral("SELECT ?s WHERE { ") + patterns + QStringLiteral(" }");
}

} // namespace

class tst_RovaSubquery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void shouldGroupAndOrderBySubject_data();
    void shouldGroupAndOrderBySubject();
    void shouldDeleteDuplicatesAndSortAgainWhenRunAgain();
    void shouldDeriveOnRequestAndWarnOutsideSubqueries();
};

void tst_RovaSubquery::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("rova.sparql.debug=false"));
}

void tst_RovaSubquery::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void tst_RovaSubquery::shouldGroupAndOrderBySubject_data()
{
    QTest::addColumn<QString>("patterns");
    QTest::addColumn<QString>("subqueries");

    QTest::newRow("swap that lowers the first count stands")
            << "?s <p> ?o . ?s <q> ?x . <a> <r> ?s ."
            << "<a>: ?s / 1 in 1|?s: ?s ?o ?x / 2 in 2";
    QTest::newRow("three identical patterns")
            << "?s <p> ?o . ?s <p> ?o . ?s <p> ?o ."
            << "?s: ?s ?o / 2 in 1";
    QTest::newRow("blank node and literal objects bind nothing")
            << "?s <p> _:b . ?s <q> \"x\" . ?s <r> <urn:a> ."
            << "?s: ?s / 1 in 3";
    QTest::newRow("equal counts keep their order")
            << "?a <p> ?x . ?b <p> ?y . ?c <p> ?z ."
            << "?a: ?a ?x / 2 in 1|?b: ?b ?y / 2 in 1|?c: ?c ?z / 2 in 1";
    QTest::newRow("variables once, subject before object")
            << "?s <p> ?s . ?s <q> ?o . ?s <r> ?o ."
            << "?s: ?s ?o / 2 in 3";
    QTest::newRow("swap undone when the second count would fall below")
            << "?a <p> ?b . ?a <p> ?c . ?d <p> ?e . ?d <p> ?a ."
            << "?a: ?a ?b ?c / 3 in 2|?d: ?d ?e ?a / 2 in 2";
    QTest::newRow("chain sorted over several passes")
            << "?w <p> ?v1 . ?w <p> ?v2 . ?w <p> ?v3 . ?x <p> ?w . ?x <p> ?u . <k> <p> ?x ."
            << "<k>: ?x / 1 in 1|?x: ?x ?w ?u / 2 in 2|?w: ?w ?v1 ?v2 ?v3 / 3 in 3";
    QTest::newRow("periods glued to objects make other variables")
            << "?s <p> ?o. ?t <q> ?o ."
            << "?s: ?s ?o. / 2 in 1|?t: ?t ?o / 2 in 1";
}

void tst_RovaSubquery::shouldGroupAndOrderBySubject()
{
    QFETCH(QString, patterns);
    QFETCH(QString, subqueries);

    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query(patterns)), 0);
    parser.subqueryAnalysis();
    QCOMPARE(describe(parser), subqueries);
    QVERIFY(parser.statements().isEmpty());
}

void tst_RovaSubquery::shouldDeleteDuplicatesAndSortAgainWhenRunAgain()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o . ?t <p> ?o . ?s <p> ?o . ?s <p> ?O . ?t <p> ?o ."))), 0);
    QList<QPointer<RovaStatement>> watched;
    for (RovaStatement* statement : std::as_const(parser.statements()))
        watched << statement;
    parser.subqueryAnalysis();
    QString alive;
    for (const QPointer<RovaStatement>& statement : std::as_const(watched))
        alive += statement ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(alive, QStringLiteral("11010")); // the later copies are deleted; case counts
    const QString analysed = describe(parser);
    QCOMPARE(analysed, QStringLiteral("?t: ?t ?o / 2 in 1|?s: ?s ?o ?O / 2 in 2"));

    // A second run finds no statements left and only sorts the subqueries again.
    parser.subqueries().swapItemsAt(0, 1);
    parser.subqueryAnalysis();
    QCOMPARE(describe(parser), analysed);
}

void tst_RovaSubquery::shouldDeriveOnRequestAndWarnOutsideSubqueries()
{
    RovaSparqlParser parser;
    QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 0");
    QCOMPARE(parser.notResolvedVarsAtSub(0), -1);

    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o . ?t <p> ?s . ?s <q> ?x ."))), 0);
    parser.deriveSubquery(QStringLiteral("?nobody")); // an empty subquery
    parser.deriveSubquery(QStringLiteral("?s"));
    QCOMPARE(describe(parser), QStringLiteral("-:  / 0 in 0|?s: ?s ?o ?x / 3 in 2"));
    QCOMPARE(parser.statements().size(), 1);
    QCOMPARE(parser.statements().first()->subject()->text(), QStringLiteral("?t"));

    QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 2");
    QCOMPARE(parser.notResolvedVarsAtSub(2), -1);
    QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 4294967295");
    QCOMPARE(parser.notResolvedVarsAtSub(unsigned(-1)), -1);
}

QTEST_GUILESS_MAIN(tst_RovaSubquery)
#include "tst_rovasubquery.moc"
