// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovarendererevent.h>
#include <rovarendererpausestate.h>
#include <rovarendererpendingstate.h>
#include <rovarendererplaybackstate.h>
#include <rovarendererplayingstate.h>
#include <rovarendererplayuristate.h>
#include <rovarendererplayuritransitionstate.h>
#include <rovarendererstopstate.h>
#include <rovarenderertransitionstate.h>

#include <QAbstractTransition>
#include <QSignalSpy>
#include <QStateMachine>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// The notification signals a renderer implementation emits, plus two plain
// ones to move the test machine in and out of the state under test.
class Notifier : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void rendererPlaying(int item);
    void rendererResumed();
    void enter();
    void leave();
};

// Fires on renderer events of one type.
class TypeTransition : public QAbstractTransition
{
public:
    TypeTransition(RovaRendererEvent::RovaRendererEventType type, QAbstractState* target)
        : m_type(type)
    {
        setTargetState(target);
    }

protected:
    bool eventTest(QEvent* event) override { return int(event->type()) == m_type; }
    void onTransition(QEvent*) override {}

private:
    int m_type;
};

// Never fires; writes each renderer event that reaches it into the log as
// "<type>" or "<type>:<payload>".
class RecordingTransition : public QAbstractTransition
{
public:
    explicit RecordingTransition(QStringList& log)
        : m_log(log)
    {
    }

protected:
    bool eventTest(QEvent* event) override
    {
        const int type = event->type();
        if (type >= RovaRendererEvent::Play && type <= RovaRendererEvent::Eos) {
            const QVariant& data = static_cast<RovaRendererEvent*>(event)->data;
            m_log << (data.isValid() ? QStringLiteral("%1:%2").arg(type).arg(data.toString()) : QString::number(type));
        }
        return false;
    }
    void onTransition(QEvent*) override {}

private:
    QStringList& m_log;
};

// Writes stateID reports into the same log as "state:<n>".
class StateLogger : public QObject
{
    Q_OBJECT
public:
    explicit StateLogger(QStringList& log)
        : m_log(log)
    {
    }
public Q_SLOTS:
    void stateID(RovaRenderer::State id) { m_log << QStringLiteral("state:%1").arg(int(id)); }

private:
    QStringList& m_log;
};

// A real QStateMachine: root { idle (initial), target }. The test chooses how
// target is entered and left; events that no state takes reach the root's
// recording transition.
class Harness
{
public:
    QStateMachine machine;
    QState* root = new QState(&machine);
    QState* idle = new QState(root);
    Notifier notifier;
    QStringList log;
    StateLogger logger{log};

    Harness()
    {
        root->setInitialState(idle);
        machine.setInitialState(root);
        root->addTransition(new RecordingTransition(log));
    }

    // Makes \a target reachable from idle by every trigger the tests use and
    // lets it go back on leave() and on the events \a leaveOn.
    void addTarget(QState* target, const QList<RovaRendererEvent::RovaRendererEventType>& leaveOn = {})
    {
        idle->addTransition(&notifier, &Notifier::enter, target);
        idle->addTransition(&notifier, &Notifier::rendererPlaying, target);
        idle->addTransition(&notifier, &Notifier::rendererResumed, target);
        idle->addTransition(new TypeTransition(RovaRendererEvent::SetPosition, target));
        target->addTransition(&notifier, &Notifier::leave, idle);
        for (auto type : leaveOn)
            target->addTransition(new TypeTransition(type, idle));
        if (target->metaObject()->indexOfSignal("stateID(RovaRenderer::State)") >= 0) {
            QObject::connect(target, SIGNAL(stateID(RovaRenderer::State)), &logger,
                             SLOT(stateID(RovaRenderer::State)));
        }
    }

    bool start()
    {
        machine.start();
        return QTest::qWaitFor([this] { return idle->active(); });
    }

    void post(RovaRendererEvent::RovaRendererEventType type, const QVariant& data = QVariant())
    {
        machine.postEvent(new RovaRendererEvent(type, data));
    }

    // Posts an Eos as a marker and waits until it has been processed, so
    // every event posted before it has been processed too.
    bool settle()
    {
        const int before = log.count(QStringLiteral("1016"));
        post(RovaRendererEvent::Eos);
        return QTest::qWaitFor([&] { return log.count(QStringLiteral("1016")) > before; });
    }

    // Waits for \a ms milliseconds of event-loop time to have passed (a timer
    // started now with that delay posts the marker).
    bool settleAfter(int ms)
    {
        bool done = false;
        QTimer::singleShot(ms, &machine, [this] { post(RovaRendererEvent::Eos); });
        done = QTest::qWaitFor([&] { return log.contains(QStringLiteral("1016")); }, ms + 5000);
        return done;
    }

    QString text() const { return log.join(QLatin1Char(';')); }
};

enum Trigger { PlayingSignal, ResumedSignal, RendererEvent };

enum StateKind { Stop, Pause, Playback, Playing, PlayURI, Transition, Pending, PlayURITransition };

// Stand-in for the renderer the stop state refers to. The stop state only
// keeps the reference; it never calls the renderer.
QObject rendererPlaceholder;

QState* makeState(StateKind kind, QStateMachine* machine, int delay, QState* parent)
{
    switch (kind) {
    case Stop:
        return new RovaRendererStopState(*reinterpret_cast<RovaBasicRenderer*>(&rendererPlaceholder), parent);
    case Pause: return new RovaRendererPauseState(parent);
    case Playback: return new RovaRendererPlaybackState(parent);
    case Playing: return new RovaRendererPlayingState(machine, parent);
    case PlayURI: return new RovaRendererPlayURIState(machine, parent);
    case Transition: return new RovaRendererTransitionState(machine, delay, parent);
    case Pending: return new RovaRendererPendingState(machine, delay, parent);
    case PlayURITransition: return new RovaRendererPlayURITransitionState(machine, parent);
    }
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Trigger)
Q_DECLARE_METATYPE(StateKind)

class tst_RovaRendererStates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldTraceAndReportOnEntryAndExit_data();
    void shouldTraceAndReportOnEntryAndExit();
    void shouldAnnounceItemOnlyWhenEnteredWithItem_data();
    void shouldAnnounceItemOnlyWhenEnteredWithItem();
    void shouldPostPrepareNextFromFetchNext();
    void shouldStopWithHighPriorityWhenPauseLeftForAnotherItem_data();
    void shouldStopWithHighPriorityWhenPauseLeftForAnotherItem();
    void shouldPostWaitTimeoutWhenWaitRunsOut_data();
    void shouldPostWaitTimeoutWhenWaitRunsOut();
    void shouldNotPostWaitTimeoutWhenLeftEarly_data();
    void shouldNotPostWaitTimeoutWhenLeftEarly();
    void shouldRestartWaitOnReentry();
    void shouldMoveOnFromUriTransitionOnItsOwnReport();
    void shouldWarnInsteadOfPostingWithoutRunningMachine();
};

void tst_RovaRendererStates::shouldTraceAndReportOnEntryAndExit_data()
{
    QTest::addColumn<StateKind>("kind");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QString>("exited");
    QTest::addColumn<QString>("reports");

    QTest::newRow("stop") << Stop << "Stop entered...!" << "Stop exited...!" << "state:0";
    QTest::newRow("pause") << Pause << "Pause entered...!" << "Pause exited...!" << "state:2";
    QTest::newRow("playback") << Playback << "Playback entered...!" << "Playback exited...!" << "";
    QTest::newRow("playing") << Playing << "Playing entered...!" << "Playing exited...!" << "state:1";
    QTest::newRow("play URI") << PlayURI << "Entering PlayURI..." << "... Exiting PlayURI" << "state:1";
    QTest::newRow("transition") << Transition << "Transition entered...!" << "Transition exited...!"
                                << "state:3";
    QTest::newRow("pending reports nothing") << Pending << "Pending state entered!"
                                             << "Pending state exited!..." << "";
    QTest::newRow("play URI transition") << PlayURITransition << "PlayURI transition state entered!..."
                                         << "PlayURI transition state exited!..." << "state:3";
}

void tst_RovaRendererStates::shouldTraceAndReportOnEntryAndExit()
{
    QFETCH(StateKind, kind);
    QFETCH(QString, entered);
    QFETCH(QString, exited);
    QFETCH(QString, reports);

    Harness h;
    QState* state = makeState(kind, &h.machine, 60000, h.root);
    if (kind == Playback)
        h.idle->addTransition(&h.notifier, &Notifier::enter, state), state->addTransition(&h.notifier, &Notifier::leave, h.idle);
    else
        h.addTarget(state);
    QVERIFY(h.start());

    QTest::ignoreMessage(QtDebugMsg, entered.toUtf8().constData());
    Q_EMIT h.notifier.enter();
    QVERIFY(state->active());
    QCOMPARE(h.text(), reports);

    QTest::ignoreMessage(QtDebugMsg, exited.toUtf8().constData());
    Q_EMIT h.notifier.leave();
    QVERIFY(h.idle->active());
    QVERIFY(h.settle());
    // Entering and leaving through plain signals posts nothing.
    QCOMPARE(h.text(), reports.isEmpty() ? QStringLiteral("1016") : reports + QStringLiteral(";1016"));
}

void tst_RovaRendererStates::shouldAnnounceItemOnlyWhenEnteredWithItem_data()
{
    QTest::addColumn<StateKind>("kind");
    QTest::addColumn<Trigger>("trigger");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("log");

    QTest::newRow("playing: rendererPlaying(NextUri)") << Playing << PlayingSignal << 2 << "state:1;1015:2;1010";
    QTest::newRow("playing: rendererPlaying(CurrentUri)") << Playing << PlayingSignal << 1 << "state:1;1015:1;1010";
    QTest::newRow("playing: rendererPlaying(NoUri)") << Playing << PlayingSignal << 0 << "state:1";
    QTest::newRow("playing: rendererResumed()") << Playing << ResumedSignal << 0 << "state:1";
    QTest::newRow("playing: renderer event") << Playing << RendererEvent << 0 << "state:1";
    QTest::newRow("play URI: rendererPlaying(CurrentUri)") << PlayURI << PlayingSignal << 1 << "state:1;1015:1";
    QTest::newRow("play URI: rendererPlaying(NextUri)") << PlayURI << PlayingSignal << 2 << "state:1";
    QTest::newRow("play URI: rendererPlaying(NoUri)") << PlayURI << PlayingSignal << 0 << "state:1";
    QTest::newRow("play URI: rendererResumed()") << PlayURI << ResumedSignal << 0 << "state:1";
    QTest::newRow("play URI: renderer event") << PlayURI << RendererEvent << 0 << "state:1";
}

void tst_RovaRendererStates::shouldAnnounceItemOnlyWhenEnteredWithItem()
{
    QFETCH(StateKind, kind);
    QFETCH(Trigger, trigger);
    QFETCH(int, item);
    QFETCH(QString, log);

    Harness h;
    QState* state = makeState(kind, &h.machine, 0, h.root);
    h.addTarget(state);
    QVERIFY(h.start());

    switch (trigger) {
    case PlayingSignal: Q_EMIT h.notifier.rendererPlaying(item); break;
    case ResumedSignal: Q_EMIT h.notifier.rendererResumed(); break;
    case RendererEvent: h.post(RovaRendererEvent::SetPosition, QVariantList{5, 0}); break;
    }
    QTRY_VERIFY(state->active());
    QVERIFY(h.settle());
    QCOMPARE(h.text(), log + QStringLiteral(";1016"));
}

void tst_RovaRendererStates::shouldPostPrepareNextFromFetchNext()
{
    Harness h;
    auto* state = new RovaRendererPlayingState(&h.machine, h.root);
    h.addTarget(state);
    QVERIFY(h.start());

    QTest::ignoreMessage(QtDebugMsg, "Fetch next triggered...");
    state->fetchNext();
    QVERIFY(h.settle());
    QCOMPARE(h.text(), QStringLiteral("1010;1016"));
}

void tst_RovaRendererStates::shouldStopWithHighPriorityWhenPauseLeftForAnotherItem_data()
{
    QTest::addColumn<int>("leaveOn");
    QTest::addColumn<QString>("log");

    QTest::newRow("Next") << int(RovaRendererEvent::Next) << "state:2;1002;1016";
    QTest::newRow("Previous") << int(RovaRendererEvent::Previous) << "state:2;1002;1016";
    QTest::newRow("GotoIndex") << int(RovaRendererEvent::GotoIndex) << "state:2;1002;1016";
    QTest::newRow("Resume") << int(RovaRendererEvent::Resume) << "state:2;1016";
    QTest::newRow("Stop") << int(RovaRendererEvent::Stop) << "state:2;1016";
    QTest::newRow("signal") << -1 << "state:2;1016";
}

void tst_RovaRendererStates::shouldStopWithHighPriorityWhenPauseLeftForAnotherItem()
{
    QFETCH(int, leaveOn);
    QFETCH(QString, log);

    Harness h;
    auto* pause = new RovaRendererPauseState(h.root);
    h.addTarget(pause, {RovaRendererEvent::Next, RovaRendererEvent::Previous, RovaRendererEvent::GotoIndex,
                        RovaRendererEvent::Resume, RovaRendererEvent::Stop});
    QVERIFY(h.start());
    Q_EMIT h.notifier.enter();
    QVERIFY(pause->active());

    // The Eos marker is queued behind the leaving event; a high-priority Stop
    // posted on the way out overtakes it.
    if (leaveOn < 0)
        Q_EMIT h.notifier.leave();
    else
        h.post(static_cast<RovaRendererEvent::RovaRendererEventType>(leaveOn));
    QVERIFY(h.settle());
    QVERIFY(h.idle->active());
    QCOMPARE(h.text(), log);
}

void tst_RovaRendererStates::shouldPostWaitTimeoutWhenWaitRunsOut_data()
{
    QTest::addColumn<StateKind>("kind");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("log");

    QTest::newRow("transition") << Transition << 20 << "state:3;1013";
    QTest::newRow("pending") << Pending << 20 << "1013";
    QTest::newRow("transition, negative delay") << Transition << -5 << "state:3;1013";
    QTest::newRow("pending, negative delay") << Pending << -5 << "1013";
}

void tst_RovaRendererStates::shouldPostWaitTimeoutWhenWaitRunsOut()
{
    QFETCH(StateKind, kind);
    QFETCH(int, delay);
    QFETCH(QString, log);

    Harness h;
    if (delay < 0)
        QTest::ignoreMessage(QtWarningMsg, "Renderer state wait of -5 ms is negative, waiting 0 ms instead.");
    QState* state = makeState(kind, &h.machine, delay, h.root);
    h.addTarget(state);
    QVERIFY(h.start());
    Q_EMIT h.notifier.enter();
    QVERIFY(state->active());

    // The state has no transition for WaitTimeout here, so it stays and the
    // root records the event.
    QTRY_VERIFY(h.log.contains(QStringLiteral("1013")));
    QVERIFY(h.settle());
    QCOMPARE(h.text(), log + QStringLiteral(";1016"));
    QVERIFY(state->active());
}

void tst_RovaRendererStates::shouldNotPostWaitTimeoutWhenLeftEarly_data()
{
    QTest::addColumn<StateKind>("kind");
    QTest::newRow("transition") << Transition;
    QTest::newRow("pending") << Pending;
}

void tst_RovaRendererStates::shouldNotPostWaitTimeoutWhenLeftEarly()
{
    QFETCH(StateKind, kind);

    Harness h;
    QState* state = makeState(kind, &h.machine, 50, h.root);
    h.addTarget(state);
    QVERIFY(h.start());
    Q_EMIT h.notifier.enter();
    Q_EMIT h.notifier.leave();
    QVERIFY(h.idle->active());

    // Well past the wait, nothing but the marker has arrived.
    QVERIFY(h.settleAfter(150));
    QVERIFY2(!h.log.contains(QStringLiteral("1013")), qPrintable(h.text()));
}

void tst_RovaRendererStates::shouldRestartWaitOnReentry()
{
    Harness h;
    auto* state = new RovaRendererTransitionState(&h.machine, 50, h.root);
    h.addTarget(state);
    QVERIFY(h.start());
    Q_EMIT h.notifier.enter();
    Q_EMIT h.notifier.leave();
    Q_EMIT h.notifier.enter();
    QVERIFY(state->active());

    // One wait, one WaitTimeout; the state stays, so the root records it.
    QTRY_COMPARE(h.log.count(QStringLiteral("1013")), 1);
    QVERIFY(h.settleAfter(150));
    QCOMPARE(h.text(), QStringLiteral("state:3;state:3;1013;1016"));
}

void tst_RovaRendererStates::shouldMoveOnFromUriTransitionOnItsOwnReport()
{
    Harness h;
    auto* transition = new RovaRendererPlayURITransitionState(&h.machine, h.root);
    auto* pending = new RovaRendererPendingState(&h.machine, 60000, h.root);
    h.addTarget(transition);
    transition->addTransition(transition, &RovaRendererPlayURITransitionState::stateID, pending);
    QSignalSpy entered(pending, &QState::entered);
    QVERIFY(h.start());

    Q_EMIT h.notifier.enter();
    QTRY_COMPARE(entered.size(), 1);
    QVERIFY(pending->active());
    QCOMPARE(h.text(), QStringLiteral("state:3"));
}

void tst_RovaRendererStates::shouldWarnInsteadOfPostingWithoutRunningMachine()
{
    // Without a machine: the item is not announced, the state is still reported.
    {
        Harness h;
        auto* playing = new RovaRendererPlayingState(nullptr, h.root);
        h.addTarget(playing);
        QVERIFY(h.start());
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1015 to.");
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1010 to.");
        Q_EMIT h.notifier.rendererPlaying(1);
        QVERIFY(playing->active());
        QVERIFY(h.settle());
        QCOMPARE(h.text(), QStringLiteral("state:1;1016"));
    }
    // A machine that was never started.
    {
        QStateMachine machine;
        RovaRendererPendingState pending(&machine, 0);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state cannot post event 1013 while its state machine is not "
                                           "running.");
        pending.finishWait();
    }
}

QTEST_GUILESS_MAIN(tst_RovaRendererStates)
#include "tst_rovarendererstates.moc"
