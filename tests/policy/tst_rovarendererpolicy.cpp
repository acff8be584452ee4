// SPDX-License-Identifier: LGPL-2.1-or-later
// Policies loaded from a plugin (the dummy policy), and the communicator that holds commands until granted.
#include <rovaregistry.h>
#include <rovarendererevent.h>
#include <rovarendererpolicycommunicator.h>
#include <rovarendererpolicyplugin.h>

#include <QAbstractTransition>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QStateMachine>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

int liveEvents = 0; // so a test sees that no event leaks and none is deleted twice

struct CountedEvent : RovaRendererEvent
{
    CountedEvent(int type, const QVariant& data) : RovaRendererEvent(RovaRendererEventType(type), data) { ++liveEvents; }
    ~CountedEvent() override { --liveEvents; }
};

// Writes down what it is asked, as "<name>:request(0)", and answers only when the test says so.
struct Policy : RovaRendererPolicy
{
    Policy(QStringList& log, const QString& name) : log(log), name(name) {}
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag> r) override { log << u"%1:request(%2)"_s.arg(name).arg(int(r)); }
    void release(QFlags<PolicyResourceFlag> r) override { log << u"%1:release(%2)"_s.arg(name).arg(int(r)); }
    QStringList& log;
    const QString name;
};

// A targetless transition that writes down each event the machine takes, with its payload.
struct Recorder : QAbstractTransition
{
    explicit Recorder(QStringList& log) : log(log) {}
    bool eventTest(QEvent* e) override { return e->type() >= QEvent::User; }
    void onTransition(QEvent* e) override
    {
        const QVariant data = static_cast<RovaRendererEvent*>(e)->data;
        log << QString::number(int(e->type())) + (data.isValid() ? u':' + data.toString() : QString());
    }
    QStringList& log;
};

} // namespace

class tst_RovaRendererPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // Each step is a command by its event type number, an answer of policy A or B ("A:grant", "A:deny",
    // "A:stop", "A:pause"), "use:B" or "use:none" (the communicator's policy), "delete:A", "stopped" or
    // "paused" (the renderer's state), or "destroy" (the communicator). The log holds the policies' calls,
    // the denials and the events the machine took, after each step.
    void shouldHoldCommandsUntilThePolicyGrants_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        // Play 1000, PlayURI 1001, Resume 1004 and PauseAt 1009 need resources; each asks for the default ones.
        QTest::newRow("held in order until granted, demands overtake")
            << "1007 1000 1005 1009 1001 1008 A:stop A:pause A:grant A:grant"
            << "1007:4 A:request(0) A:request(0) A:request(0) 1002 1003 1000 1005 1009:30 1001:file:///a.ogg 1008:5";
        QTest::newRow("a denial drops what needs resources, once per denial")
            << "1000 1005 1004 A:deny A:deny 1000 A:grant"
            << "A:request(0) A:request(0) denied:329:Resources not available! 1005 denied:329:Resources not available! "
               "A:request(0) 1000";
        QTest::newRow("released when stopped after a standstill command")
            << "1002 paused stopped 1005 stopped 1016 stopped 1000 A:grant stopped 1003 stopped 1009 A:grant stopped"
            << "1002 A:release(0) 1005 1016 A:release(0) A:request(0) 1000 1003 A:release(0) A:request(0) 1009:30 A:release(0)";
        QTest::newRow("without a policy everything passes") << "use:none 1000 1002 1004 stopped 1009" << "1000 1002 1004 1009:30";
        QTest::newRow("a deleted policy counts as none") << "delete:A 1009" << "1009:30";
        QTest::newRow("waiting commands go to the new policy, or at once to none")
            << "1000 1005 use:B A:grant A:stop B:grant 1004 use:none" << "A:request(0) B:request(0) 1000 1005 B:request(0) 1004";
        QTest::newRow("waiting commands die with the communicator") << "1000 1002 destroy A:grant" << "A:request(0)";
        QTest::newRow("what comes before the machine runs waits for it")
            << "idle A:pause 1002 A:stop start" << "1003 1002 1002";
        QTest::newRow("what waits for the machine dies with the communicator") << "idle A:stop destroy start" << "";
    }

    void shouldHoldCommandsUntilThePolicyGrants()
    {
        QFETCH(QString, script);
        QStringList log;
        {
            QStateMachine machine;
            machine.addTransition(new Recorder(log));
            machine.setInitialState(new QState(&machine));
            if (!script.startsWith(u"idle"_s)) // else only its "start" step starts it
                machine.start();
            QTRY_VERIFY(machine.isRunning() != script.startsWith(u"idle"_s));
            QHash<QString, Policy*> policies{{u"A"_s, new Policy(log, u"A"_s)}, {u"B"_s, new Policy(log, u"B"_s)}};
            auto communicator = std::make_unique<RovaRendererPolicyCommunicator>(machine, policies.value(u"A"_s));
            connect(communicator.get(), &RovaRendererPolicyCommunicator::policyDenied, this, [&log](const RovaError& error) {
                log << u"denied:%1:%2"_s.arg(int(error.code())).arg(error.message());
            });
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"processRendererEvent.*got no event$"_s));
            communicator->processRendererEvent(nullptr);
            QVERIFY(!communicator->eventRequiresResources(nullptr));

            const QHash<int, QVariant> payloads{{1001, QUrl(u"file:///a.ogg"_s)}, {1007, 4u}, {1008, 5}, {1009, 30u}};
            const QHash<QString, RovaRendererPolicy::PolicyEvent> answers{
                {u"grant"_s, RovaRendererPolicy::ResourcesGranted}, {u"deny"_s, RovaRendererPolicy::ResourcesDenied},
                {u"stop"_s, RovaRendererPolicy::StopRequested}, {u"pause"_s, RovaRendererPolicy::PauseRequested}};
            for (const QString& step : script.split(u' ')) {
                const QString what = step.section(u':', 0, 0), arg = step.section(u':', 1);
                if (what.toInt() >= QEvent::User)
                    communicator->processRendererEvent(new CountedEvent(what.toInt(), payloads.value(what.toInt())));
                else if (policies.contains(what) && answers.contains(arg))
                    Q_EMIT policies.value(what)->policyEvent(answers.value(arg));
                else if (what == u"use")
                    communicator->setPolicy(policies.value(arg));
                else if (what == u"delete")
                    delete policies.take(arg);
                else if (what == u"destroy")
                    communicator.reset();
                else if (what == u"start")
                    machine.start();
                else if (what == u"idle")
                    continue;
                else
                    communicator->handleRendererStateChange(what == u"paused" ? RovaRenderer::Paused : RovaRenderer::Stopped);
                // A marker behind everything posted so far.
                QTRY_VERIFY(machine.isRunning() || step != u"start"_s);
                if (!machine.isRunning())
                    continue;
                machine.postEvent(new RovaRendererEvent(RovaRendererEvent::RovaRendererEventType(1500)));
                QTRY_COMPARE(log.value(log.size() - 1), u"1500"_s);
                log.removeLast();
            }
            qDeleteAll(policies);
        }
        QTEST(log.join(u' '), "log");
        QCOMPARE(liveEvents, 0);
    }

    void shouldUseDefaultPluginDirectory()
    {
        QCOMPARE(RovaRegistry::pluginDirectory(), u"/usr/lib/qrova-plugin"_s);
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 u"/usr/lib/qrova-plugin/policy/libqrova-tarsi-renderer-policy-plugin.so"_s);
    }

    // A new policy from each load; files that give none are refused. Each loader stays with the application.
    void shouldLoadNewPolicyFromPluginEachTime_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("policy plugin") << QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
        QTest::newRow("plugin with another interface") << QStringLiteral(ROVA_TEST_PLUGIN_GOOD);
        QTest::newRow("library that is not a plugin") << QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN);
        QTest::newRow("missing file") << u"/nonexistent/libqrova-policy.so"_s;
        QTest::newRow("empty file name") << QString();
    }

    void shouldLoadNewPolicyFromPluginEachTime()
    {
        QFETCH(QString, fileName);
        const bool good = fileName == QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
        const qsizetype loaded = QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly).size();
        for (int i = 0; !good && i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Unable to instantiate policy from plugin \"%1\""_s.arg(fileName)));
        std::unique_ptr<RovaRendererPolicy> first(RovaRendererPolicyPlugin::loadPolicy(fileName));
        std::unique_ptr<RovaRendererPolicy> second(RovaRendererPolicyPlugin::loadPolicy(fileName));
        const QList<QPluginLoader*> loaders = QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(loaders.size(), loaded + 2);
        QCOMPARE(bool(first), good);
        QCOMPARE(bool(second), good);
        if (good) {
            QVERIFY(first != second);
            QCOMPARE(first->metaObject()->className(), "PluginTestPolicy");
            QVERIFY(loaders.last()->isLoaded());
            // The plugin's policy is the dummy one: it grants each request on the next turn only and never
            // answers a release; deleting a policy first cancels its grant.
            QVERIFY(first->initialize(RovaRendererPolicy::PlayerGroup));
            QSignalSpy spy(first.get(), &RovaRendererPolicy::policyEvent);
            first->request({});
            first->request(RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource);
            first->release({});
            second->request({});
            second.reset();
            QCOMPARE(spy.count(), 0);
            QTRY_COMPARE(spy, (QList<QVariantList>(2, {QVariant::fromValue(RovaRendererPolicy::ResourcesGranted)})));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPolicy)
#include "tst_rovarendererpolicy.moc"
