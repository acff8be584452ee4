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
#include <QStateMachine>
#include <QTest>
#include <QTimer>

namespace {

// Emits what a renderer implementation emits, plus two plain signals that move
// the test machine in and out of the state under test, and writes each stateID
// report into the log as "state:<n>".
class Driver : public QObject
{
    Q_OBJECT
public:
    QStringList log;
Q_SIGNALS:
    void rendererPlaying(int item);
    void rendererResumed();
    void enter();
    void leave();
public Q_SLOTS:
    void stateID(RovaRenderer::State id) { log << QStringLiteral("state:%1").arg(int(id)); }
};

// Fires on renderer events of \a type; or, given a log, never fires and
// writes each renderer event that reaches it down as "<type>[:<payload>]".
class EventTransition : public QAbstractTransition
{
public:
    EventTransition(int type, QAbstractState* target, QStringList* log = nullptr) : m_type(type), m_log(log) { setTargetState(target); }

protected:
    bool eventTest(QEvent* event) override
    {
        const int type = event->type();
        if (m_log && type >= RovaRendererEvent::Play && type <= RovaRendererEvent::Eos) {
            const QVariant& data = static_cast<RovaRendererEvent*>(event)->data;
            *m_log << QString::number(type) + (data.isValid() ? QLatin1Char(':') + data.toString() : QString());
        }
        return !m_log && type == m_type;
    }
    void onTransition(QEvent*) override {}

private:
    int m_type;
    QStringList* m_log;
};

// Carries an item like rendererPlaying() but is typed as SetPosition: a state
// must check the type before it reads an item from an event.
class ItemInOtherEvent : public QStateMachine::SignalEvent
{
public:
    explicit ItemInOtherEvent(QObject* sender) : SignalEvent(sender, 0, {1}) { t = RovaRendererEvent::SetPosition; }
};

// A real QStateMachine: root { idle (initial), state under test }. Renderer
// events that no active state takes reach the root's recording transition.
struct Harness
{
    QStateMachine machine;
    QState* root = new QState(&machine);
    QState* idle = new QState(root);
    Driver driver;

    Harness()
    {
        root->setInitialState(idle);
        machine.setInitialState(root);
        root->addTransition(new EventTransition(0, nullptr, &driver.log));
    }

    // Wires \a target (a child of root) in and starts the machine: \a target is
    // entered from idle on enter(), rendererPlaying(), rendererResumed() and
    // SetPosition, and left on leave(), Next, Previous, GotoIndex and Resume.
    bool start(QState* target)
    {
        idle->addTransition(&driver, &Driver::enter, target);
        idle->addTransition(&driver, &Driver::rendererPlaying, target);
        idle->addTransition(&driver, &Driver::rendererResumed, target);
        idle->addTransition(new EventTransition(RovaRendererEvent::SetPosition, target));
        target->addTransition(&driver, &Driver::leave, idle);
        for (int type : {RovaRendererEvent::Next, RovaRendererEvent::Previous, RovaRendererEvent::GotoIndex,
                         RovaRendererEvent::Resume})
            target->addTransition(new EventTransition(type, idle));
        if (target->metaObject()->indexOfSignal("stateID(RovaRenderer::State)") >= 0)
            QObject::connect(target, SIGNAL(stateID(RovaRenderer::State)), &driver, SLOT(stateID(RovaRenderer::State)));
        machine.start();
        return QTest::qWaitFor([this] { return idle->active(); });
    }

    void post(int type) { machine.postEvent(new RovaRendererEvent(RovaRendererEvent::RovaRendererEventType(type))); }

    // Runs the steps of \a script: "enter", "leave", "resumed", "playing(<item>)",
    // "1008+item" (see ItemInOtherEvent), or the number of a renderer event to post.
    void drive(const QString& script)
    {
        for (const QString& step : script.split(QLatin1Char(','))) {
            if (step == QLatin1String("enter"))
                Q_EMIT driver.enter();
            else if (step == QLatin1String("leave"))
                Q_EMIT driver.leave();
            else if (step == QLatin1String("resumed"))
                Q_EMIT driver.rendererResumed();
            else if (step == QLatin1String("1008+item"))
                machine.postEvent(new ItemInOtherEvent(&driver));
            else if (step.startsWith(QLatin1String("playing(")))
                Q_EMIT driver.rendererPlaying(step.mid(8, 1).toInt());
            else
                post(step.toInt());
        }
    }

    // Posts an Eos marker (at once, or after \a ms) and waits until the machine
    // has processed it, and so everything posted before it; returns the log.
    QString settle(int ms = 0)
    {
        if (ms > 0)
            QTimer::singleShot(ms, &machine, [this] { post(RovaRendererEvent::Eos); });
        else
            post(RovaRendererEvent::Eos);
        const bool seen = QTest::qWaitFor([this] { return driver.log.contains(QStringLiteral("1016")); }, ms + 5000);
        return seen ? driver.log.join(QLatin1Char(';')) : QStringLiteral("<marker lost>");
    }
};

enum StateKind { Stop, Pause, Playback, Playing, PlayURI, Transition, Pending, PlayURITransition };

// Stand-in for the renderer the stop state refers to; the state only keeps
// the reference and never calls the renderer.
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

class tst_RovaRendererStates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldTraceReportAndPostInOrder_data()
    {
        QTest::addColumn<StateKind>("kind");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("traces");

        const auto row = [](const char* title, StateKind kind, const char* script, const char* log,
                            std::initializer_list<const char*> traces = {}, int delay = 0) {
            QStringList expected;
            for (const char* trace : traces)
                expected << QString::fromLatin1(trace);
            QTest::newRow(title) << kind << delay << QString::fromLatin1(script) << QString::fromLatin1(log) << expected;
        };
        // Entered and left through plain signals, a state reports and posts nothing else.
        row("stop", Stop, "enter,leave", "state:0;1016", {"Stop entered...!", "Stop exited...!"});
        row("playback reports nothing", Playback, "enter,leave", "1016", {"Playback entered...!", "Playback exited...!"});
        row("play URI transition", PlayURITransition, "enter,leave", "state:3;1016",
            {"PlayURI transition state entered!...", "PlayURI transition state exited!..."});

        // Entered with a playing item: ItemPlaying (1015) with the item, then PrepareNext (1010).
        row("playing: rendererPlaying(NextUri)", Playing, "playing(2),leave", "state:1;1015:2;1010;1016",
            {"Playing entered...!", "Fetch next triggered...", "Playing exited...!"});
        row("playing: rendererPlaying(CurrentUri)", Playing, "playing(1)", "state:1;1015:1;1010;1016",
            {"Fetch next triggered..."});
        row("playing: rendererPlaying(NoUri)", Playing, "playing(0)", "state:1;1016");
        row("playing: rendererResumed()", Playing, "resumed", "state:1;1016");
        row("playing: SetPosition event with an item", Playing, "1008+item", "state:1;1016");
        row("play URI: rendererPlaying(CurrentUri)", PlayURI, "playing(1),leave", "state:1;1015:1;1016",
            {"Entering PlayURI...", "... Exiting PlayURI"});
        row("play URI: rendererPlaying(NextUri)", PlayURI, "playing(2)", "state:1;1016");
        row("play URI: rendererPlaying(NoUri)", PlayURI, "playing(0)", "state:1;1016");
        row("play URI: rendererResumed()", PlayURI, "resumed", "state:1;1016");
        row("play URI: SetPosition event with an item", PlayURI, "1008+item", "state:1;1016");

        // The Eos marker (1016) is queued behind the leaving event; only a Stop
        // (1002) posted with high priority on the way out overtakes it.
        row("pause left on Next", Pause, "enter,1005", "state:2;1002;1016");
        row("pause left on Previous", Pause, "enter,1006", "state:2;1002;1016");
        row("pause left on GotoIndex", Pause, "enter,1007", "state:2;1002;1016");
        row("pause left on Resume", Pause, "enter,1004", "state:2;1016");
        row("pause left on a signal", Pause, "enter,leave", "state:2;1016", {"Pause entered...!", "Pause exited...!"});

        // Without a transition for WaitTimeout (1013) the waiting state stays, and
        // the root records the event.
        row("transition, wait runs out", Transition, "enter", "state:3;1013;1016", {}, 20);
        row("pending, wait runs out", Pending, "enter", "1013;1016", {}, 20);
        row("transition, negative wait", Transition, "enter", "state:3;1013;1016", {}, -5);
        row("pending, negative wait", Pending, "enter", "1013;1016", {}, -5);
        row("transition, left early", Transition, "enter,leave", "state:3;1016",
            {"Transition entered...!", "Transition exited...!"}, 50);
        row("pending left early, reports nothing", Pending, "enter,leave", "1016",
            {"Pending state entered!", "Pending state exited!..."}, 50);
        row("transition, entered again", Transition, "enter,leave,enter", "state:3;state:3;1013;1016", {}, 50);
    }

    void shouldTraceReportAndPostInOrder()
    {
        QFETCH(StateKind, kind);
        QFETCH(int, delay);
        QFETCH(QString, script);
        QFETCH(QString, log);
        QFETCH(QStringList, traces);

        if (delay < 0)
            QTest::ignoreMessage(QtWarningMsg, "Renderer state wait of -5 ms is negative, waiting 0 ms instead.");
        for (const QString& trace : traces)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(trace));
        Harness h;
        QVERIFY(h.start(makeState(kind, &h.machine, delay, h.root)));
        h.drive(script);
        // After a wait, the marker comes well after it.
        QCOMPARE(h.settle(delay ? qMax(delay, 0) + 150 : 0), log);
    }

    void shouldWarnInsteadOfPostingWithoutRunningMachine()
    {
        // Without a machine the item is not announced, but the state is still reported.
        Harness h;
        auto* playing = new RovaRendererPlayingState(nullptr, h.root);
        QVERIFY(h.start(playing));
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1015 to.");
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1010 to.");
        h.drive(QStringLiteral("playing(1)"));
        QVERIFY(playing->active());
        QCOMPARE(h.settle(), QStringLiteral("state:1;1016"));

        // A machine that is not running would refuse the event.
        QStateMachine stopped;
        RovaRendererPendingState pending(&stopped, 0);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state cannot post event 1013 while its state machine is not running.");
        pending.finishWait();
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererStates)
#include "tst_rovarendererstates.moc"
