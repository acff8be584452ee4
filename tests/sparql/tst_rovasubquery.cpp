// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovanode.h>
#include <rovasparqlparser.h>
#include <rovastatement.h>
#include <rovasubquery.h>

#include <QLoggingCategory>
#include <QPointer>
#include <QRandomGenerator>
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

// The derivation done step by step through the public operations: duplicates removed by
// comparing every pair, grouping through deriveSubquery(), and ordering passes that ask
// notResolvedVarsAtSub() for every count.
void analyseStepByStep(RovaSparqlParser& parser)
{
    QList<RovaStatement*>& statements = parser.statements();
    for (qsizetype i = 0; i < statements.size(); ++i) {
        for (qsizetype j = i + 1; j < statements.size();) {
            RovaStatement* a = statements.at(i);
            RovaStatement* b = statements.at(j);
            if (a->subject()->text() == b->subject()->text() && a->predicate() == b->predicate()
                && a->object()->text() == b->object()->text()) {
                delete b;
                statements.removeAt(j);
            } else {
                ++j;
            }
        }
    }
    while (!statements.isEmpty())
        parser.deriveSubquery(statements.first()->subject()->text());

    QList<RovaSubquery*>& subqueries = parser.subqueries();
    bool changed = true;
    while (changed) {
        changed = false;
        for (unsigned int i = 0; i + 1 < unsigned(subqueries.size()); ++i) {
            const int a = parser.notResolvedVarsAtSub(i);
            const int b = parser.notResolvedVarsAtSub(i + 1);
            if (b < a) {
                subqueries.swapItemsAt(i, i + 1);
                if (parser.notResolvedVarsAtSub(i + 1) < parser.notResolvedVarsAtSub(i))
                    subqueries.swapItemsAt(i, i + 1);
                else
                    changed = true;
            }
        }
    }
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
    void shouldOrderLikeStepByStepDerivation();
    void shouldDeleteDuplicatesAndLeaveNoStatements();
    void shouldDeriveEmptySubqueryForUnknownSubject();
    void shouldWarnForPositionOutsideSubqueries();
    void shouldOnlyReorderWhenRunAgain();
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

void tst_RovaSubquery::shouldOrderLikeStepByStepDerivation()
{
    const QStringList subjects{QStringLiteral("?a"), QStringLiteral("?b"), QStringLiteral("?c"), QStringLiteral("?d"),
                               QStringLiteral("?e"), QStringLiteral("<u1>"), QStringLiteral("<u2>"), QStringLiteral("_:n")};
    const QStringList objects{QStringLiteral("?a"), QStringLiteral("?b"), QStringLiteral("?c"), QStringLiteral("?d"),
                              QStringLiteral("?e"), QStringLiteral("?f"), QStringLiteral("?g"), QStringLiteral("?h"),
                              QStringLiteral("\"lit\""), QStringLiteral("<u3>"), QStringLiteral("_:m")};
    const QStringList predicates{QStringLiteral("<p>"), QStringLiteral("<q>"), QStringLiteral("<r>")};
    QRandomGenerator random(4242);
    for (int round = 0; round < 400; ++round) {
        QStringList patterns;
        const int count = random.bounded(1, 30);
        for (int i = 0; i < count; ++i) {
            patterns << subjects.at(random.bounded(int(subjects.size()))) + QLatin1Char(' ')
                            + predicates.at(random.bounded(int(predicates.size()))) + QLatin1Char(' ')
                            + objects.at(random.bounded(int(objects.size()))) + QStringLiteral(" .");
        }
        const QString text = query(patterns.join(QLatin1Char(' ')));
        RovaSparqlParser analysed;
        RovaSparqlParser stepByStep;
        QCOMPARE(analysed.parse(text), 0);
        QCOMPARE(stepByStep.parse(text), 0);
        analysed.subqueryAnalysis();
        analyseStepByStep(stepByStep);
        QCOMPARE(describe(analysed), describe(stepByStep));
    }
}

void tst_RovaSubquery::shouldDeleteDuplicatesAndLeaveNoStatements()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o . ?t <p> ?o . ?s <p> ?o . ?s <p> ?O . ?t <p> ?o ."))), 0);
    const QList<RovaStatement*> parsed = parser.statements();
    QList<QPointer<RovaStatement>> watched;
    for (RovaStatement* statement : parsed)
        watched << statement;

    parser.subqueryAnalysis();
    QVERIFY(parser.statements().isEmpty());
    QString alive;
    for (const QPointer<RovaStatement>& statement : std::as_const(watched))
        alive += statement ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(alive, QStringLiteral("11010")); // the later copies are deleted; case counts
    int inSubqueries = 0;
    for (RovaSubquery* subquery : std::as_const(parser.subqueries()))
        inSubqueries += int(subquery->statements().size());
    QCOMPARE(inSubqueries, 3);
}

void tst_RovaSubquery::shouldDeriveEmptySubqueryForUnknownSubject()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o . ?t <p> ?s . ?s <q> ?x ."))), 0);
    parser.deriveSubquery(QStringLiteral("?nobody"));
    QCOMPARE(parser.subqueries().size(), 1);
    QVERIFY(parser.subqueries().first()->statements().isEmpty());
    QVERIFY(parser.subqueries().first()->variables().isEmpty());
    QCOMPARE(parser.statements().size(), 3);

    parser.deriveSubquery(QStringLiteral("?s"));
    QCOMPARE(parser.subqueries().size(), 2);
    QCOMPARE(parser.subqueries().at(1)->variables(), (QStringList{QStringLiteral("?s"), QStringLiteral("?o"), QStringLiteral("?x")}));
    QCOMPARE(parser.statements().size(), 1);
    QCOMPARE(parser.statements().first()->subject()->text(), QStringLiteral("?t"));
}

void tst_RovaSubquery::shouldWarnForPositionOutsideSubqueries()
{
    RovaSparqlParser parser;
    QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 0");
    QCOMPARE(parser.notResolvedVarsAtSub(0), -1);

    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o ."))), 0);
    parser.subqueryAnalysis();
    QCOMPARE(parser.notResolvedVarsAtSub(0), 2);
    QTest::ignoreMessage(QtWarningMsg, "RovaSparqlQuery::notResolvedVarsAtSub: no subquery at 4294967295");
    QCOMPARE(parser.notResolvedVarsAtSub(unsigned(-1)), -1);
}

void tst_RovaSubquery::shouldOnlyReorderWhenRunAgain()
{
    RovaSparqlParser parser;
    QCOMPARE(parser.parse(query(QStringLiteral("?s <p> ?o . ?s <q> ?x . <a> <r> ?s ."))), 0);
    parser.subqueryAnalysis();
    const QString first = describe(parser);
    // Put the subqueries back in creation order: a second run sorts them again.
    parser.subqueries().swapItemsAt(0, 1);
    parser.subqueryAnalysis();
    QCOMPARE(parser.subqueries().size(), 2);
    QCOMPARE(describe(parser), first);
}

QTEST_GUILESS_MAIN(tst_RovaSubquery)
#include "tst_rovasubquery.moc"
