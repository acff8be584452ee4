// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovadummyrendererpolicy.h>

#include <QSignalSpy>
#include <QTest>

class tst_RovaDummyRendererPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldGrantEachRequestOnNextTurnOnly_data()
    {
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("resources");
        QTest::newRow("one request, default resources") << 1 << 0;
        QTest::newRow("two requests in a row") << 2 << 3;
        QTest::newRow("five requests") << 5 << 1;
    }

    void shouldGrantEachRequestOnNextTurnOnly()
    {
        QFETCH(int, requests);
        QFETCH(int, resources);
        RovaDummyRendererPolicy policy;
        QVERIFY(policy.initialize(RovaRendererPolicy::DefaultGroup));
        QVERIFY(policy.initialize(RovaRendererPolicy::PolicyGroup(77)));
        QSignalSpy spy(&policy, &RovaRendererPolicy::policyEvent);
        for (int i = 0; i < requests; ++i)
            policy.request(QFlags<RovaRendererPolicy::PolicyResourceFlag>(resources));
        policy.release({}); // never answered
        QCOMPARE(spy.count(), 0); // never within the call

        QTRY_COMPARE(spy.count(), requests);
        for (const QList<QVariant>& arguments : std::as_const(spy))
            QCOMPARE(arguments.at(0).value<RovaRendererPolicy::PolicyEvent>(), RovaRendererPolicy::ResourcesGranted);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), requests);
    }

    void shouldCancelGrantsWhenDeletedFirst()
    {
        int grants = 0;
        auto* policy = new RovaDummyRendererPolicy;
        connect(policy, &RovaRendererPolicy::policyEvent, this, [&grants] { ++grants; });
        policy->request({});
        delete policy;
        QCoreApplication::processEvents();
        QCOMPARE(grants, 0);
    }
};

QTEST_GUILESS_MAIN(tst_RovaDummyRendererPolicy)
#include "tst_rovadummyrendererpolicy.moc"
