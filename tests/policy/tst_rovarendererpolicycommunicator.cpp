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

using namespace Qt::StringLiterals;

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
    explicit RecordingTransition(QStringList& log) : m_log(log) {}

protected:
    bool eventTest(QEvent* e) override { return e->type() >= QEvent::User; }
    void onTransition(QEvent* e) override
    {
        const QVariant data = static_cast<RovaRendererEvent*>(e)->data;
        m_log << QString::number(int(e->type())) + (data.isValid() ? u':' + data.toString() : QString());
    }

private:
    QStringList& m_log;
};

// Writes down what it is asked and answers only when the test says so.
class ControlledPolicy : public RovaRendererPolicy
{
public:
    explicit ControlledPolicy(QStringList& log) : m_log(log) {}
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag> r) override { m_log << u"request(%1)"_s.arg(int(r)); }
    void release(QFlags<PolicyResourceFlag> r) override { m_log << u"release(%1)"_s.arg(int(r)); }
    void answer(PolicyEvent e) { Q_EMIT policyEvent(e); }

private:
    QStringList& m_log;
};

} // namespace

class tst_RovaRendererPolicyCommunicator : public QObject
{
    Q_OBJECT

    QString log() const { return m_log.join(u';'); }
    static void process(RovaRendererPolicyCommunicator& c, std::initializer_list<int> types)
    {
        for (int type : types)
            c.processRendererEvent(new CountedEvent(type));
    }

    QStringList m_log;
    std::unique_ptr<QStateMachine> m_machine;

private Q_SLOTS:
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
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

    void cleanup()
    {
        m_machine.reset();
        QCOMPARE(liveEvents, 0); // nothing leaked, nothing deleted twice
    }

    void shouldTellWhichEventsNeedResources()
    {
        RovaRendererPolicyCommunicator communicator(*m_machine, nullptr);
        QStringList needing;
        for (int type = Play - 1; type <= Eos + 1; ++type) {
            const CountedEvent e(type);
            if (communicator.eventRequiresResources(&e))
                needing << QString::number(type);
        }
        QCOMPARE(needing.join(u','), u"1000,1001,1004,1009"_s);
        QVERIFY(!communicator.eventRequiresResources(nullptr));
    }

    void shouldHoldCommandsUntilDummyPolicyGrants()
    {
        RovaDummyRendererPolicy policy;
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        QSignalSpy granted(&policy, &RovaRendererPolicy::policyEvent);
        process(communicator, {Play, Stop});
        QCoreApplication::sendPostedEvents(m_machine.get()); // nothing was posted yet
        QCOMPARE(log(), QString());
        QVERIFY(granted.wait());
        QTRY_COMPARE(log(), u"1000;1002"_s);

        // With nothing waiting, a command that needs no resources goes at once.
        process(communicator, {Stop});
        QTRY_COMPARE(log(), u"1000;1002;1002"_s);
        QCOMPARE(granted.count(), 1);
    }

    void shouldHoldCommandsInOrderUntilGrantedWhileDemandsOvertake()
    {
        ControlledPolicy policy(m_log);
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        communicator.processRendererEvent(new CountedEvent(GotoIndex, 4u));
        QTRY_COMPARE(log(), u"1007:4"_s);
        process(communicator, {Play, Next});
        communicator.processRendererEvent(new CountedEvent(PauseAt, 30u));
        communicator.processRendererEvent(new CountedEvent(PlayURI, QUrl(u"file:///a.ogg"_s)));
        communicator.processRendererEvent(new CountedEvent(SetPosition, 5));
        // One request, for the default resources, per event that needs resources.
        QCOMPARE(log(), u"1007:4;request(0);request(0);request(0)"_s);
        // Stop and pause demands overtake the waiting commands and leave them waiting.
        policy.answer(RovaRendererPolicy::StopRequested);
        policy.answer(RovaRendererPolicy::PauseRequested);
        QTRY_COMPARE(log(), u"1007:4;request(0);request(0);request(0);1002;1003"_s);

        policy.answer(RovaRendererPolicy::ResourcesGranted);
        const QString released = u"1007:4;request(0);request(0);request(0);1002;1003;1000;1005;1009:30;1001:file:///a.ogg;1008:5"_s;
        QTRY_COMPARE(log(), released);
        // Later grants find nothing waiting.
        policy.answer(RovaRendererPolicy::ResourcesGranted);
        QCoreApplication::processEvents();
        QCOMPARE(log(), released);
    }

    void shouldDropWaitingCommandsOnDenial()
    {
        ControlledPolicy policy(m_log);
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        connect(&communicator, &RovaRendererPolicyCommunicator::policyDenied, this, [this](const RovaError& error) {
            m_log << u"denied %1 %2"_s.arg(int(error.code())).arg(error.message());
        });
        process(communicator, {Play, Next, Resume});
        policy.answer(RovaRendererPolicy::ResourcesDenied);
        QCOMPARE(liveEvents, 1); // Play and Resume are gone at once
        QTRY_COMPARE(log(), u"request(0);request(0);denied 329 Resources not available!;1005"_s);

        // One report per denial, even with nothing waiting; then it works on.
        policy.answer(RovaRendererPolicy::ResourcesDenied);
        process(communicator, {Play});
        policy.answer(RovaRendererPolicy::ResourcesGranted);
        QTRY_COMPARE(log(), u"request(0);request(0);denied 329 Resources not available!;1005;"
                            "denied 329 Resources not available!;request(0);1000"_s);
    }

    void shouldReleaseOnlyWhenStoppedAfterStandstillCommands()
    {
        ControlledPolicy policy(m_log);
        RovaRendererPolicyCommunicator communicator(*m_machine, &policy);
        QStringList released;
        for (int type : {Stop, Pause, PauseAt, Eos, Next, Play}) {
            process(communicator, {type});
            policy.answer(RovaRendererPolicy::ResourcesGranted);
            m_log.clear();
            communicator.handleRendererStateChange(RovaRenderer::Paused);
            communicator.handleRendererStateChange(RovaRenderer::Stopped);
            if (!m_log.isEmpty())
                released << QString::number(type) + u':' + log();
        }
        QCOMPARE(released.join(u' '), u"1002:release(0) 1003:release(0) 1009:release(0) 1016:release(0)"_s);
    }

    void shouldDeleteWaitingEventsWhenDestroyed()
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
        QCOMPARE(log(), u"request(0)"_s);
    }

    void shouldPassEverythingWithoutPolicy()
    {
        RovaRendererPolicyCommunicator communicator(*m_machine, nullptr);
        process(communicator, {Play, Stop, Resume});
        QTRY_COMPARE(log(), u"1000;1002;1004"_s);
        communicator.handleRendererStateChange(RovaRenderer::Stopped); // nothing to release

        // A policy deleted while installed counts as none.
        auto* policy = new ControlledPolicy(m_log);
        communicator.setPolicy(policy);
        delete policy;
        QCOMPARE(communicator.policy(), nullptr);
        process(communicator, {PauseAt});
        QTRY_COMPARE(log(), u"1000;1002;1004;1009"_s);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"processRendererEvent.*got no event$"_s));
        communicator.processRendererEvent(nullptr);
    }

    void shouldHandWaitingCommandsToNewPolicy()
    {
        QStringList oldLog;
        ControlledPolicy oldPolicy(oldLog);
        ControlledPolicy newPolicy(m_log);
        RovaRendererPolicyCommunicator communicator(*m_machine, &oldPolicy);
        process(communicator, {Play, Next});
        communicator.setPolicy(&newPolicy);
        QCOMPARE(log(), u"request(0)"_s); // asked again, from the new policy

        // The old policy is not listened to any more.
        oldPolicy.answer(RovaRendererPolicy::ResourcesGranted);
        oldPolicy.answer(RovaRendererPolicy::StopRequested);
        QCoreApplication::processEvents();
        QCOMPARE(log(), u"request(0)"_s);
        newPolicy.answer(RovaRendererPolicy::ResourcesGranted);
        QTRY_COMPARE(log(), u"request(0);1000;1005"_s);

        // Without a policy, waiting commands go at once.
        process(communicator, {Resume});
        communicator.setPolicy(nullptr);
        QTRY_COMPARE(log(), u"request(0);1000;1005;request(0);1004"_s);
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPolicyCommunicator)
#include "tst_rovarendererpolicycommunicator.moc"
