// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovadummyrendererpolicy.h>
#include <rovarendererevent.h>
#include <rovarendererpolicycommunicator.h>

#include <QAbstractTransition>
#include <QSignalSpy>
#include <QState>
#include <QStateMachine>
#include <QTest>

#include <memory>

namespace {

int liveEvents = 0; // so a test sees which events were deleted

class CountedEvent : public RovaRendererEvent
{
public:
    explicit CountedEvent(int type, const QVariant& data = QVariant())
        : RovaRendererEvent(RovaRendererEventType(type), data)
    {
        ++liveEvents;
    }
    ~CountedEvent() override { --liveEvents; }
};

enum : int { Play = 1000, PlayURI, Stop, Pause, Resume, Next, Previous, GotoIndex, SetPosition, PauseAt, Eos = 1016 };

// A targetless transition that writes down each renderer event the machine
// processes, with its payload when it has one.
class RecordingTransition : public QAbstractTransition
{
public:
    explicit RecordingTransition(QStringList& log)
        : m_log(log)
    {
    }

protected:
    bool eventTest(QEvent* e) override { return e->type() >= QEvent::User; }
    void onTransition(QEvent* e) override
    {
        const QVariant data = static_cast<RovaRendererEvent*>(e)->data;
        m_log << QString::number(int(e->type())) + (data.isValid() ? QLatin1Char(':') + data.toString() : QString());
    }

private:
    QStringList& m_log;
};

// Writes down what it is asked and answers only when the test says so.
class ControlledPolicy : public RovaRendererPolicy
{
public:
    explicit ControlledPolicy(QStringList& log)
        : m_log(log)
    {
    }
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag> r) override { m_log << QStringLiteral("request(%1)").arg(int(r)); }
    void release(QFlags<PolicyResourceFlag> r) override { m_log << QStringLiteral("release(%1)").arg(int(r)); }
    void answer(PolicyEvent e) { Q_EMIT policyEvent(e); }

private:
    QStringList& m_log;
};

} // namespace

class tst_RovaRendererPolicyCommunicator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shouldTellWhichEventsNeedResources_data();
    void shouldTellWhichEventsNeedResources();
    void shouldHoldCommandsUntilDummyPolicyGrants();
    void shouldQueueBehindWaitingCommandsUntilGranted();
    void shouldDropWaitingCommandsOnDenial();
    void shouldTurnStopAndPauseDemandsIntoCommands_data();
    void shouldTurnStopAndPauseDemandsIntoCommands();
    void shouldReleaseOnlyAfterStandstillCommands_data();
    void shouldReleaseOnlyAfterStandstillCommands();
    void shouldDeleteWaitingEventsWhenDestroyed();
    void shouldPassEverythingWithoutPolicy();
    void shouldHandWaitingCommandsToNewPolicy();

private:
    QString log() const { return m_log.join(QLatin1Char(';')); }
    void process(RovaRendererPolicyCommunicator& c, std::initializer_list<int> types)
    {
        for (int type : types)
            c.processRendererEvent(new CountedEvent(type));
    }

    QStringList m_log;
    std::unique_ptr<QStateMachine> m_machine;
};

void tst_RovaRendererPolicyCommunicator::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_log.clear();
    liveEvents = 0;
    m_machine = std::make_unique<QStateMachine>();
    auto* state = new QState(m_machine.get());
    state->addTransition(new RecordingTransition(m_log));
    m_machine->setInitialState(state);
    QSignalSpy started(m_machine.get(), &QStateMachine::started);
    m_machine->start();
    QVERIFY(started.wait());
}

void tst_RovaRendererPolicyCommunicator::cleanup()
{
    m_machine.reset();
    QCOMPARE(liveEvents, 0); // nothing leaked, nothing deleted twice
}

void tst_RovaRendererPolicyCommunicator::shouldTellWhichEventsNeedResources_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("needsResources");
    const char* names[] = {"Play", "PlayURI", "Stop", "Pause", "Resume", "Next", "Previous", "GotoIndex",
                           "SetPosition", "PauseAt", "PrepareNext", "RefreshNext", "NextMetadataReady",
                           "WaitTimeout", "MetadataReady", "ItemPlaying", "Eos"};
    for (int type = Play; type <= Eos; ++type)
        QTest::newRow(names[type - Play]) << type << (type == Play || type == PlayURI || type == Resume || type == PauseAt);
    QTest::newRow("below the range") << 999 << false;
    QTest::newRow("above the range") << 1017 << false;
}

void tst_RovaRendererPolicyCommunicator::shouldTellWhichEventsNeedResources()
{
    QFETCH(int, type);
    QFETCH(bool, needsResources);
    RovaRendererPolicyCommunicator communicator(*m_machine, nullptr);
    const CountedEvent e(type);
    QCOMPARE(communicator.eventRequiresResources(&e), needsResources);
    QVERIFY(!communicator.eventRequiresResources(nullptr));
}

void tst_RovaRendererPolicyCommunicator::shouldHoldCommandsUntilDummyPolicyGrants()
{
    RovaDummyRendererPolicy policy;
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    QSignalSpy granted(&policy, &RovaRendererPolicy::policyEvent);
    process(communicator, {Play, Stop});
    QCoreApplication::sendPostedEvents(m_machine.get()); // nothing was posted yet
    QCOMPARE(log(), QString());
    QVERIFY(granted.wait());
    QTRY_COMPARE(log(), QStringLiteral("1000;1002"));

    // With nothing waiting, a command that needs no resources goes at once.
    process(communicator, {Stop});
    QTRY_COMPARE(log(), QStringLiteral("1000;1002;1002"));
    QCOMPARE(granted.count(), 1);
}

void tst_RovaRendererPolicyCommunicator::shouldQueueBehindWaitingCommandsUntilGranted()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    communicator.processRendererEvent(new CountedEvent(GotoIndex, 4u));
    QTRY_COMPARE(log(), QStringLiteral("1007:4"));
    process(communicator, {Play, Next});
    communicator.processRendererEvent(new CountedEvent(PauseAt, 30u));
    communicator.processRendererEvent(new CountedEvent(PlayURI, QUrl(QStringLiteral("file:///a.ogg"))));
    communicator.processRendererEvent(new CountedEvent(SetPosition, 5));
    QCoreApplication::processEvents();
    // One request, for the default resources, per event that needs resources.
    QCOMPARE(log(), QStringLiteral("1007:4;request(0);request(0);request(0)"));

    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("1007:4;request(0);request(0);request(0);1000;1005;1009:30;1001:file:///a.ogg;1008:5"));
    // Later grants find nothing waiting.
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QCoreApplication::processEvents();
    QCOMPARE(m_log.count(), 9);
}

void tst_RovaRendererPolicyCommunicator::shouldDropWaitingCommandsOnDenial()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    connect(&communicator, &RovaRendererPolicyCommunicator::policyDenied, this, [this](const RovaError& error) {
        m_log << QStringLiteral("denied %1 %2").arg(int(error.code())).arg(error.message());
    });
    process(communicator, {Play, Next, Resume});
    policy.answer(RovaRendererPolicy::ResourcesDenied);
    QCOMPARE(liveEvents, 1); // Play and Resume are gone at once
    QTRY_COMPARE(log(), QStringLiteral("request(0);request(0);denied 329 Resources not available!;1005"));

    // One report per denial, even with nothing waiting; then it works on.
    policy.answer(RovaRendererPolicy::ResourcesDenied);
    process(communicator, {Play});
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("request(0);request(0);denied 329 Resources not available!;1005;"
                                       "denied 329 Resources not available!;request(0);1000"));
}

void tst_RovaRendererPolicyCommunicator::shouldTurnStopAndPauseDemandsIntoCommands_data()
{
    QTest::addColumn<int>("demand");
    QTest::addColumn<QString>("command");
    QTest::newRow("stop requested") << int(RovaRendererPolicy::StopRequested) << QStringLiteral("1002");
    QTest::newRow("pause requested") << int(RovaRendererPolicy::PauseRequested) << QStringLiteral("1003");
}

void tst_RovaRendererPolicyCommunicator::shouldTurnStopAndPauseDemandsIntoCommands()
{
    QFETCH(int, demand);
    QFETCH(QString, command);
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    policy.answer(RovaRendererPolicy::PolicyEvent(demand));
    QTRY_COMPARE(log(), command);

    // The demand overtakes a waiting command and leaves it waiting.
    process(communicator, {Play});
    policy.answer(RovaRendererPolicy::PolicyEvent(demand));
    QTRY_COMPARE(log(), command + QLatin1String(";request(0);") + command);
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), command + QLatin1String(";request(0);") + command + QLatin1String(";1000"));
}

void tst_RovaRendererPolicyCommunicator::shouldReleaseOnlyAfterStandstillCommands_data()
{
    QTest::addColumn<int>("lastType");
    QTest::addColumn<int>("newState");
    QTest::addColumn<bool>("released");
    QTest::newRow("stopped after Stop") << int(Stop) << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Pause") << int(Pause) << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after PauseAt") << int(PauseAt) << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Eos") << int(Eos) << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Next") << int(Next) << int(RovaRenderer::Stopped) << false;
    QTest::newRow("stopped after Play") << int(Play) << int(RovaRenderer::Stopped) << false;
    QTest::newRow("paused after Pause") << int(Pause) << int(RovaRenderer::Paused) << false;
    QTest::newRow("playing after Stop") << int(Stop) << int(RovaRenderer::Playing) << false;
}

void tst_RovaRendererPolicyCommunicator::shouldReleaseOnlyAfterStandstillCommands()
{
    QFETCH(int, lastType);
    QFETCH(int, newState);
    QFETCH(bool, released);
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    process(communicator, {lastType});
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    m_log.clear();
    communicator.handleRendererStateChange(RovaRenderer::State(newState));
    QCOMPARE(log(), released ? QStringLiteral("release(0)") : QString());
}

void tst_RovaRendererPolicyCommunicator::shouldDeleteWaitingEventsWhenDestroyed()
{
    ControlledPolicy policy(m_log);
    {
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        process(communicator, {Play, Stop});
        QCOMPARE(liveEvents, 2);
    }
    QCOMPARE(liveEvents, 0);
    policy.answer(RovaRendererPolicy::ResourcesGranted); // nobody listens any more
    QCoreApplication::processEvents();
    QCOMPARE(log(), QStringLiteral("request(0)"));
}

void tst_RovaRendererPolicyCommunicator::shouldPassEverythingWithoutPolicy()
{
    RovaRendererPolicyCommunicator communicator(*m_machine, nullptr);
    process(communicator, {Play, Stop, Resume});
    QTRY_COMPARE(log(), QStringLiteral("1000;1002;1004"));
    communicator.handleRendererStateChange(RovaRenderer::Stopped); // nothing to release

    // A policy deleted while installed counts as none.
    auto* policy = new ControlledPolicy(m_log);
    communicator.setPolicy(policy);
    delete policy;
    QCOMPARE(communicator.policy(), nullptr);
    process(communicator, {PauseAt});
    QTRY_COMPARE(log(), QStringLiteral("1000;1002;1004;1009"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("processRendererEvent.*got no event$")));
    communicator.processRendererEvent(nullptr);
}

void tst_RovaRendererPolicyCommunicator::shouldHandWaitingCommandsToNewPolicy()
{
    QStringList oldLog;
    ControlledPolicy oldPolicy(oldLog);
    ControlledPolicy newPolicy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &oldPolicy);
    process(communicator, {Play, Next});
    communicator.setPolicy(&newPolicy);
    QCOMPARE(log(), QStringLiteral("request(0)")); // asked again, from the new policy

    // The old policy is not listened to any more.
    oldPolicy.answer(RovaRendererPolicy::ResourcesGranted);
    oldPolicy.answer(RovaRendererPolicy::StopRequested);
    QCoreApplication::processEvents();
    QCOMPARE(log(), QStringLiteral("request(0)"));
    newPolicy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("request(0);1000;1005"));

    // Without a policy, waiting commands go at once.
    process(communicator, {Resume});
    communicator.setPolicy(nullptr);
    QTRY_COMPARE(log(), QStringLiteral("request(0);1000;1005;request(0);1004"));
}

QTEST_GUILESS_MAIN(tst_RovaRendererPolicyCommunicator)
#include "tst_rovarendererpolicycommunicator.moc"
