// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovadummyrendererpolicy.h>
#include <rovarendererevent.h>
#include <rovarendererpolicycommunicator.h>

#include <QAbstractTransition>
#include <QPointer>
#include <QSignalSpy>
#include <QState>
#include <QStateMachine>
#include <QTest>

#include <memory>

namespace {

// Counts the events alive, so a test sees which ones were deleted.
int liveEvents = 0;

class CountedEvent : public RovaRendererEvent
{
public:
    explicit CountedEvent(RovaRendererEventType type, const QVariant& data = QVariant())
        : RovaRendererEvent(type, data)
    {
        ++liveEvents;
    }
    ~CountedEvent() override { --liveEvents; }
};

RovaRendererEvent* makeEvent(int type, const QVariant& data = QVariant())
{
    return new CountedEvent(RovaRendererEvent::RovaRendererEventType(type), data);
}

// A targetless transition that writes down every renderer event the machine
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
        QString entry = QString::number(int(e->type()));
        const QVariant data = static_cast<RovaRendererEvent*>(e)->data;
        if (data.isValid())
            entry += QLatin1Char(':') + data.toString();
        m_log.append(entry);
    }

private:
    QStringList& m_log;
};

// A policy that answers only when the test tells it to, and writes down what
// it was asked.
class ControlledPolicy : public RovaRendererPolicy
{
public:
    explicit ControlledPolicy(QStringList& log)
        : m_log(log)
    {
    }
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag> resources) override
    {
        m_log.append(QStringLiteral("request(%1)").arg(int(resources)));
    }
    void release(QFlags<PolicyResourceFlag> resources) override
    {
        m_log.append(QStringLiteral("release(%1)").arg(int(resources)));
    }
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
    void shouldPostEventsThatNeedNoResourcesAtOnce();
    void shouldHoldCommandsUntilDummyPolicyGrants();
    void shouldAskOncePerEventThatNeedsResources();
    void shouldPostWholeQueueOnGrant();
    void shouldDropWaitingCommandsOnDenial();
    void shouldReportDenialOnceEvenWithEmptyQueue();
    void shouldTurnStopAndPauseDemandsIntoCommands_data();
    void shouldTurnStopAndPauseDemandsIntoCommands();
    void shouldReleaseOnlyAfterStandstillCommands_data();
    void shouldReleaseOnlyAfterStandstillCommands();
    void shouldDeleteWaitingEventsWhenDestroyed();
    void shouldPassEverythingWithoutPolicy();
    void shouldAskNewPolicyForWaitingCommands();
    void shouldIgnoreReplacedPolicy();
    void shouldSurviveDeletedPolicy();
    void shouldWarnOnNullEvent();

private:
    QString log() const { return m_log.join(QLatin1Char(';')); }

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
    QTest::newRow("Play") << 1000 << true;
    QTest::newRow("PlayURI") << 1001 << true;
    QTest::newRow("Stop") << 1002 << false;
    QTest::newRow("Pause") << 1003 << false;
    QTest::newRow("Resume") << 1004 << true;
    QTest::newRow("Next") << 1005 << false;
    QTest::newRow("Previous") << 1006 << false;
    QTest::newRow("GotoIndex") << 1007 << false;
    QTest::newRow("SetPosition") << 1008 << false;
    QTest::newRow("PauseAt") << 1009 << true;
    QTest::newRow("PrepareNext") << 1010 << false;
    QTest::newRow("ItemPlaying") << 1015 << false;
    QTest::newRow("Eos") << 1016 << false;
    QTest::newRow("below the range") << 999 << false;
    QTest::newRow("above the range") << 1017 << false;
}

void tst_RovaRendererPolicyCommunicator::shouldTellWhichEventsNeedResources()
{
    QFETCH(int, type);
    QFETCH(bool, needsResources);
    RovaRendererPolicyCommunicator communicator(*m_machine, nullptr);
    const std::unique_ptr<RovaRendererEvent> e(makeEvent(type));
    QCOMPARE(communicator.eventRequiresResources(e.get()), needsResources);
    QVERIFY(!communicator.eventRequiresResources(nullptr));
}

void tst_RovaRendererPolicyCommunicator::shouldPostEventsThatNeedNoResourcesAtOnce()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::GotoIndex, 4u));
    QTRY_COMPARE(log(), QStringLiteral("1002;1007:4"));
}

void tst_RovaRendererPolicyCommunicator::shouldHoldCommandsUntilDummyPolicyGrants()
{
    RovaDummyRendererPolicy policy;
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    QSignalSpy granted(&policy, &RovaRendererPolicy::policyEvent);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
    QCoreApplication::sendPostedEvents(m_machine.get()); // nothing was posted yet
    QCOMPARE(log(), QString());

    QVERIFY(granted.wait());
    QTRY_COMPARE(log(), QStringLiteral("1000;1002"));
}

void tst_RovaRendererPolicyCommunicator::shouldAskOncePerEventThatNeedsResources()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::PlayURI, QUrl(QStringLiteral("file:///a.ogg"))));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Resume));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::PauseAt, 12u));
    QCOMPARE(log(), QStringLiteral("request(0);request(0);request(0);request(0)"));
}

void tst_RovaRendererPolicyCommunicator::shouldPostWholeQueueOnGrant()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Next));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::PauseAt, 30u));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::SetPosition, 5));
    QCoreApplication::processEvents();
    QCOMPARE(log(), QStringLiteral("request(0);request(0)"));

    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("request(0);request(0);1000;1005;1009:30;1008:5"));

    // The second grant finds nothing waiting; new commands pass at once.
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
    QTRY_COMPARE(log(), QStringLiteral("request(0);request(0);1000;1005;1009:30;1008:5;1002"));
}

void tst_RovaRendererPolicyCommunicator::shouldDropWaitingCommandsOnDenial()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    connect(&communicator, &RovaRendererPolicyCommunicator::policyDenied, this, [this](const RovaError& error) {
        m_log.append(QStringLiteral("denied %1 %2").arg(int(error.code())).arg(error.message()));
    });
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Next));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Resume));
    QCOMPARE(liveEvents, 3);

    policy.answer(RovaRendererPolicy::ResourcesDenied);
    QCOMPARE(liveEvents, 1); // Play and Resume are gone at once
    QTRY_COMPARE(log(), QStringLiteral("request(0);request(0);denied 329 Resources not available!;1005"));

    // Still works: the next command is asked for again.
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_VERIFY(log().endsWith(QLatin1String(";1005;request(0);1000")));
}

void tst_RovaRendererPolicyCommunicator::shouldReportDenialOnceEvenWithEmptyQueue()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    QSignalSpy denied(&communicator, &RovaRendererPolicyCommunicator::policyDenied);
    policy.answer(RovaRendererPolicy::ResourcesDenied);
    QCOMPARE(denied.count(), 1);
    QCOMPARE(denied.at(0).at(0).value<RovaError>().code(), RovaError::RendererDenied);
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
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
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
    QTest::newRow("stopped after Stop") << 1002 << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Pause") << 1003 << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after PauseAt") << 1009 << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Eos") << 1016 << int(RovaRenderer::Stopped) << true;
    QTest::newRow("stopped after Next") << 1005 << int(RovaRenderer::Stopped) << false;
    QTest::newRow("stopped after Play") << 1000 << int(RovaRenderer::Stopped) << false;
    QTest::newRow("paused after Pause") << 1003 << int(RovaRenderer::Paused) << false;
    QTest::newRow("playing after Stop") << 1002 << int(RovaRenderer::Playing) << false;
    QTest::newRow("transitioning after Eos") << 1016 << int(RovaRenderer::Transitioning) << false;
}

void tst_RovaRendererPolicyCommunicator::shouldReleaseOnlyAfterStandstillCommands()
{
    QFETCH(int, lastType);
    QFETCH(int, newState);
    QFETCH(bool, released);
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    communicator.processRendererEvent(makeEvent(lastType));
    policy.answer(RovaRendererPolicy::ResourcesGranted);
    m_log.clear();

    communicator.handleRendererStateChange(RovaRenderer::State(newState));
    QCOMPARE(log().contains(QLatin1String("release(0)")), released);
}

void tst_RovaRendererPolicyCommunicator::shouldDeleteWaitingEventsWhenDestroyed()
{
    ControlledPolicy policy(m_log);
    {
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
        communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
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
    QCOMPARE(communicator.policy(), nullptr);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Resume));
    QTRY_COMPARE(log(), QStringLiteral("1000;1002;1004"));
    communicator.handleRendererStateChange(RovaRenderer::Stopped); // nothing to release, no crash
}

void tst_RovaRendererPolicyCommunicator::shouldAskNewPolicyForWaitingCommands()
{
    QStringList oldLog;
    ControlledPolicy oldPolicy(oldLog);
    ControlledPolicy newPolicy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &oldPolicy);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Next));

    communicator.setPolicy(&newPolicy);
    QCOMPARE(communicator.policy(), &newPolicy);
    QCOMPARE(log(), QStringLiteral("request(0)"));
    newPolicy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("request(0);1000;1005"));

    // Removing the policy lets waiting commands go at once.
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Resume));
    communicator.setPolicy(nullptr);
    QTRY_COMPARE(log(), QStringLiteral("request(0);1000;1005;request(0);1004"));
}

void tst_RovaRendererPolicyCommunicator::shouldIgnoreReplacedPolicy()
{
    QStringList oldLog;
    ControlledPolicy oldPolicy(oldLog);
    ControlledPolicy newPolicy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &oldPolicy);
    communicator.setPolicy(&newPolicy);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    oldPolicy.answer(RovaRendererPolicy::ResourcesGranted);
    oldPolicy.answer(RovaRendererPolicy::StopRequested);
    QCoreApplication::processEvents();
    QCOMPARE(log(), QStringLiteral("request(0)"));
    QCOMPARE(liveEvents, 1);
    newPolicy.answer(RovaRendererPolicy::ResourcesGranted);
    QTRY_COMPARE(log(), QStringLiteral("request(0);1000"));
}

void tst_RovaRendererPolicyCommunicator::shouldSurviveDeletedPolicy()
{
    auto* policy = new ControlledPolicy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, policy);
    delete policy;
    QCOMPARE(communicator.policy(), nullptr);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Play));
    QTRY_COMPARE(log(), QStringLiteral("1000"));
}

void tst_RovaRendererPolicyCommunicator::shouldWarnOnNullEvent()
{
    ControlledPolicy policy(m_log);
    RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("processRendererEvent.*got no event$")));
    communicator.processRendererEvent(nullptr);
    communicator.processRendererEvent(makeEvent(RovaRendererEvent::Stop));
    QTRY_COMPARE(log(), QStringLiteral("1002"));
}

QTEST_GUILESS_MAIN(tst_RovaRendererPolicyCommunicator)
#include "tst_rovarendererpolicycommunicator.moc"
