// SPDX-License-Identifier: LGPL-2.1-or-later
#include <QtSparql/QSparqlConnectionOptions>
#include <QtSparql/QSparqlError>
#include <QtSparql/QSparqlQuery>

#include <QTest>

class tst_QSparqlValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldDefaultToSelectQuery();
    void updatesAreInsertAndDeleteOnly_data();
    void updatesAreInsertAndDeleteOnly();
    void shouldTreatDefaultErrorAsNoError();
    void shouldCompareErrorsByAllParts();
    void shouldStoreNamedOptionsUnderTheirNames();
    void shouldRemoveOptionSetToInvalidValue();
};

void tst_QSparqlValues::shouldDefaultToSelectQuery()
{
    QSparqlQuery query;
    QCOMPARE(query.type(), QSparqlQuery::SelectStatement);
    QVERIFY(query.query().isNull());

    query.setQuery(QStringLiteral("ASK {}"));
    query.setType(QSparqlQuery::AskStatement);
    QCOMPARE(query.query(), QStringLiteral("ASK {}"));
    QCOMPARE(query.type(), QSparqlQuery::AskStatement);
}

void tst_QSparqlValues::updatesAreInsertAndDeleteOnly_data()
{
    QTest::addColumn<QSparqlQuery::StatementType>("type");
    QTest::addColumn<bool>("update");
    QTest::newRow("select") << QSparqlQuery::SelectStatement << false;
    QTest::newRow("ask") << QSparqlQuery::AskStatement << false;
    QTest::newRow("construct") << QSparqlQuery::ConstructStatement << false;
    QTest::newRow("describe") << QSparqlQuery::DescribeStatement << false;
    QTest::newRow("insert") << QSparqlQuery::InsertStatement << true;
    QTest::newRow("delete") << QSparqlQuery::DeleteStatement << true;
}

void tst_QSparqlValues::updatesAreInsertAndDeleteOnly()
{
    QFETCH(QSparqlQuery::StatementType, type);
    QFETCH(bool, update);
    QCOMPARE(QSparqlQuery(QStringLiteral("x"), type).isUpdate(), update);
}

void tst_QSparqlValues::shouldTreatDefaultErrorAsNoError()
{
    const QSparqlError error;
    QCOMPARE(error.type(), QSparqlError::NoError);
    QCOMPARE(error.number(), -1);
    QVERIFY(error.message().isEmpty());
    QVERIFY(!error.isValid());
    QVERIFY(QSparqlError(QStringLiteral("gone"), QSparqlError::ConnectionError).isValid());
}

void tst_QSparqlValues::shouldCompareErrorsByAllParts()
{
    const QSparqlError a(QStringLiteral("m"), QSparqlError::StatementError, 5);
    QCOMPARE(a, QSparqlError(QStringLiteral("m"), QSparqlError::StatementError, 5));
    QVERIFY(a != QSparqlError(QStringLiteral("n"), QSparqlError::StatementError, 5));
    QVERIFY(a != QSparqlError(QStringLiteral("m"), QSparqlError::BackendError, 5));
    QVERIFY(a != QSparqlError(QStringLiteral("m"), QSparqlError::StatementError, 6));

    QSparqlError b;
    b.setMessage(QStringLiteral("m"));
    b.setType(QSparqlError::StatementError);
    b.setNumber(5);
    QCOMPARE(b, a);
}

void tst_QSparqlValues::shouldStoreNamedOptionsUnderTheirNames()
{
    QSparqlConnectionOptions options;
    QVERIFY(options.isNull());
    QCOMPARE(options.port(), -1);

    options.setDatabaseName(QStringLiteral("db"));
    options.setUserName(QStringLiteral("me"));
    options.setPassword(QStringLiteral("secret"));
    options.setHostName(QStringLiteral("localhost"));
    options.setPath(QStringLiteral("/sparql"));
    options.setPort(8080);
    QVERIFY(!options.isNull());
    QCOMPARE(options.option(QStringLiteral("databaseName")).toString(), QStringLiteral("db"));
    QCOMPARE(options.option(QStringLiteral("userName")).toString(), QStringLiteral("me"));
    QCOMPARE(options.option(QStringLiteral("password")).toString(), QStringLiteral("secret"));
    QCOMPARE(options.option(QStringLiteral("hostName")).toString(), QStringLiteral("localhost"));
    QCOMPARE(options.option(QStringLiteral("path")).toString(), QStringLiteral("/sparql"));
    QCOMPARE(options.port(), 8080);
    QCOMPARE(options.databaseName(), QStringLiteral("db"));
    QCOMPARE(options.hostName(), QStringLiteral("localhost"));
}

void tst_QSparqlValues::shouldRemoveOptionSetToInvalidValue()
{
    QSparqlConnectionOptions options;
    options.setOption(QStringLiteral("busName"), QStringLiteral("org.example.Store"));
    QCOMPARE(options.option(QStringLiteral("busName")).toString(), QStringLiteral("org.example.Store"));
    options.setOption(QStringLiteral("busName"), QVariant());
    QVERIFY(!options.option(QStringLiteral("busName")).isValid());
    QVERIFY(options.isNull());
}

QTEST_GUILESS_MAIN(tst_QSparqlValues)
#include "tst_qsparqlvalues.moc"
