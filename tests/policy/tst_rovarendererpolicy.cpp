// SPDX-License-Identifier: LGPL-2.1-or-later
// The dummy policy, policies loaded from a policy plugin, and the communicator
// that holds renderer commands until the policy grants resources.
#include <rovadummyrendererpolicy.h>
#include <rovaregistry.h>
#include <rovarendererevent.h>
#include <rovarendererpolicycommunicator.h>
#include <rovarendererpolicyplugin.h>

#include <QAbstractTransition>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QState>
#include <QStateMachine>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

int liveEvents = 0; // so a test sees which events were deleted

int loaderCount()
{
    return QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly).count();
}

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

class tst_RovaRendererPolicy : public QObject
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
        // One request, for the default resources, per event that needs resources: Play, PauseAt, PlayURI.
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
        QVERIFY(!communicator.eventRequiresResources(nullptr));
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

        // Waiting commands die with the communicator.
        m_log.clear();
        {
            RovaRendererPolicyCommunicator doomed(*m_machine, &newPolicy);
            process(doomed, {Play, Stop});
            QCOMPARE(liveEvents, 2);
        }
        QCOMPARE(liveEvents, 0);
        newPolicy.answer(RovaRendererPolicy::ResourcesGranted); // nobody listens any more
        QCoreApplication::processEvents();
        QCOMPARE(log(), u"request(0)"_s);
    }

    void shouldUseDefaultPluginDirectory()
    {
        QCOMPARE(RovaRegistry::pluginDirectory(), QStringLiteral("/usr/lib/qrova-plugin"));
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 QStringLiteral("/usr/lib/qrova-plugin/policy/libqrova-tarsi-renderer-policy-plugin.so"));
    }

    void shouldGrantEachDummyRequestOnNextTurnOnly()
    {
        RovaDummyRendererPolicy policy;
        QVERIFY(policy.initialize(RovaRendererPolicy::PlayerGroup));
        QSignalSpy spy(&policy, &RovaRendererPolicy::policyEvent);
        policy.request({});
        policy.request(RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource);
        policy.release({}); // never answered
        QCOMPARE(spy.count(), 0); // never within the call

        QTRY_COMPARE(spy.count(), 2);
        for (const QList<QVariant>& arguments : std::as_const(spy))
            QCOMPARE(arguments.at(0).value<RovaRendererPolicy::PolicyEvent>(), RovaRendererPolicy::ResourcesGranted);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 2);

        // Deleting the policy first cancels its grant.
        auto* deleted = new RovaDummyRendererPolicy;
        QSignalSpy deletedSpy(deleted, &RovaRendererPolicy::policyEvent);
        deleted->request({});
        delete deleted;
        QCoreApplication::processEvents();
        QCOMPARE(deletedSpy.count(), 0);
    }

    void shouldLoadNewPolicyFromPluginEachTime()
    {
        const int loaders = loaderCount();
        const QString path = QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
        std::unique_ptr<RovaRendererPolicy> first(RovaRendererPolicyPlugin::loadPolicy(path));
        std::unique_ptr<RovaRendererPolicy> second(RovaRendererPolicyPlugin::loadPolicy(path));
        QVERIFY(first && second && first != second);
        QCOMPARE(first->metaObject()->className(), "PluginTestPolicy");
        // Each loader stays with the application, and the code stays loaded.
        QCOMPARE(loaderCount(), loaders + 2);
        QVERIFY(QCoreApplication::instance()->findChildren<QPluginLoader*>().last()->isLoaded());
        QSignalSpy spy(first.get(), &RovaRendererPolicy::policyEvent);
        first->request({});
        QTRY_COMPARE(spy.count(), 1);
    }

    void shouldRefuseFilesThatGiveNoPolicy_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plugin with another interface") << QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY);
        QTest::newRow("library that is not a plugin") << QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN);
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/libqrova-policy.so");
        QTest::newRow("empty file name") << QString();
    }

    void shouldRefuseFilesThatGiveNoPolicy()
    {
        QFETCH(QString, fileName);
        const int loaders = loaderCount();
        const QByteArray warning = "Unable to instantiate policy from plugin \"" + fileName.toUtf8() + '"';
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
        QCOMPARE(RovaRendererPolicyPlugin::loadPolicy(fileName), nullptr);
        QCOMPARE(loaderCount(), loaders + 1);
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPolicy)
#include "tst_rovarendererpolicy.moc"
