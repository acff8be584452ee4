// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovadummyrendererpolicy.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class tst_RovaDummyRendererPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldAcceptEveryGroup_data();
    void shouldAcceptEveryGroup();
    void shouldGrantEachRequestOnNextTurnOnly_data();
    void shouldGrantEachRequestOnNextTurnOnly();
    void shouldCancelGrantsWhenDeletedFirst();
    void shouldNeverAnswerRelease();
};

void tst_RovaDummyRendererPolicy::shouldAcceptEveryGroup_data()
{
    QTest::addColumn<int>("group");
    QTest::newRow("default group") << int(RovaRendererPolicy::DefaultGroup);
    QTest::newRow("player group") << int(RovaRendererPolicy::PlayerGroup);
    QTest::newRow("unknown group") << 77;
}

void tst_RovaDummyRendererPolicy::shouldAcceptEveryGroup()
{
    QFETCH(int, group);
    RovaDummyRendererPolicy policy;
    QVERIFY(policy.parent() == nullptr);
    QVERIFY(policy.initialize(RovaRendererPolicy::PolicyGroup(group)));
}

void tst_RovaDummyRendererPolicy::shouldGrantEachRequestOnNextTurnOnly_data()
{
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("resources");
    QTest::newRow("one request, default resources") << 1 << 0;
    QTest::newRow("one request, audio and video") << 1 << 3;
    QTest::newRow("two requests in a row") << 2 << 0;
    QTest::newRow("five requests") << 5 << 1;
}

void tst_RovaDummyRendererPolicy::shouldGrantEachRequestOnNextTurnOnly()
{
    QFETCH(int, requests);
    QFETCH(int, resources);
    RovaDummyRendererPolicy policy;
    policy.setDefaultResources(RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource);
    QSignalSpy spy(&policy, &RovaRendererPolicy::policyEvent);
    for (int i = 0; i < requests; ++i)
        policy.request(QFlags<RovaRendererPolicy::PolicyResourceFlag>(resources));
    QCOMPARE(spy.count(), 0); // never within the call

    QTRY_COMPARE(spy.count(), requests);
    for (const QList<QVariant>& arguments : std::as_const(spy))
        QCOMPARE(arguments.at(0).value<RovaRendererPolicy::PolicyEvent>(), RovaRendererPolicy::ResourcesGranted);
    // No grant beyond one per request.
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), requests);
}

void tst_RovaDummyRendererPolicy::shouldCancelGrantsWhenDeletedFirst()
{
    int grants = 0;
    auto* policy = new RovaDummyRendererPolicy;
    connect(policy, &RovaRendererPolicy::policyEvent, this, [&grants] { ++grants; });
    policy->request({});
    policy->request({});
    delete policy;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(grants, 0);
}

void tst_RovaDummyRendererPolicy::shouldNeverAnswerRelease()
{
    RovaDummyRendererPolicy policy;
    QSignalSpy spy(&policy, &RovaRendererPolicy::policyEvent);
    policy.release({});
    policy.release(RovaRendererPolicy::AudioResource);
    policy.request({});
    QTRY_COMPARE(spy.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
}

QTEST_GUILESS_MAIN(tst_RovaDummyRendererPolicy)
#include "tst_rovadummyrendererpolicy.moc"
