// SPDX-License-Identifier: LGPL-2.1-or-later
// The renderer interface, the renderer events and the states the basic renderer's machine is built from.
#include "rovatestobjects.h"

#include <rovarendererevent.h>
#include <rovarendererpausestate.h>
#include <rovarendererpendingstate.h>
#include <rovarendererplayingstate.h>
#include <rovarendererplayuristate.h>
#include <rovarendererplayuritransitionstate.h>
#include <rovarendererstopstate.h>
#include <rovarenderertransitionstate.h>

#include <QAbstractTransition>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QStateMachine>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Records the play and seek commands that reach it.
class RecordingRenderer : public RovaTestRenderer
{
public:
    RecordingRenderer() : RovaTestRenderer(u"uuid-1"_s) {}
    QStringList calls;

    using RovaRenderer::play;
    bool play() override { return record(u"play()"_s); }
    bool play(const QUrl& url, uint start) override { return record(u"play(%1,%2)"_s.arg(url.toString()).arg(start)); }
    bool setPosition(int seconds, RovaRenderer::SeekMode mode) override
    {
        return record(u"setPosition(%1,%2)"_s.arg(seconds).arg(int(mode)));
    }

private:
    bool record(const QString& call)
    {
        calls << call;
        return true;
    }
};

class PropertyReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers;
public Q_SLOTS:
    void propertyResult(const QString& name, const QVariant& value)
    {
        answers << name + u'=' + (value.isValid() ? value.toString() : u"<invalid>"_s);
    }
    void nameOnly(QString name) { answers << name; }
    void wrongTypes(int, const QVariant&) { answers << u"unfit"_s; }
};

// Fires on events of \a type; or, given a log, never fires and writes each
// renderer event that reaches it down as "<type>[:<payload>]".
class EventTransition : public QAbstractTransition
{
public:
    EventTransition(int type, QAbstractState* target, QStringList* log = nullptr) : m_type(type), m_log(log)
    {
        setTargetState(target);
    }

protected:
    bool eventTest(QEvent* event) override
    {
        const int type = event->type();
        if (m_log && type >= RovaRendererEvent::Play && type <= RovaRendererEvent::Eos) {
            const QVariant& data = static_cast<RovaRendererEvent*>(event)->data;
            *m_log << QString::number(type) + (data.isValid() ? u':' + data.toString() : QString());
        }
        return !m_log && type == m_type;
    }
    void onTransition(QEvent*) override {}

private:
    int m_type;
    QStringList* m_log;
};

// A signal event as a signal transition hands it on; typed otherwise, it shows
// whether a state checks an event's type before it reads an item from it.
struct SignalEvent : QStateMachine::SignalEvent
{
    SignalEvent(QObject* sender, const QVariantList& arguments, int type = QEvent::StateMachineSignal)
        : QStateMachine::SignalEvent(sender, 0, arguments)
    {
        t = QEvent::Type(type);
    }
};

enum StateKind { Stop, Pause, Playing, PlayingWithoutMachine, PlayURI, Transition, Pending, PlayURITransition };
const int leaveType = QEvent::User + 1000;

// Stand-in for the renderer the stop state refers to; the state only keeps the reference.
QObject rendererPlaceholder;

// A real machine: root { idle (initial), the state under test }. Renderer
// events that no active state takes reach the root's recording transition.
struct StateRig
{
    QStateMachine machine;
    QState* root = new QState(&machine);
    QState* idle = new QState(root);
    QStringList log;
    std::unique_ptr<QSignalSpy> reports;

    QState* make(StateKind kind, int delay)
    {
        switch (kind) {
        case Stop: return new RovaRendererStopState(*reinterpret_cast<RovaBasicRenderer*>(&rendererPlaceholder), root);
        case Pause: return new RovaRendererPauseState(root);
        case Playing: return new RovaRendererPlayingState(&machine, root);
        case PlayingWithoutMachine: return new RovaRendererPlayingState(nullptr, root);
        case PlayURI: return new RovaRendererPlayURIState(&machine, root);
        case Transition: return new RovaRendererTransitionState(&machine, delay, root);
        case Pending: return new RovaRendererPendingState(&machine, delay, root);
        case PlayURITransition: return new RovaRendererPlayURITransitionState(&machine, root);
        }
        return nullptr;
    }

    // The state is entered from idle on a signal event and on SetPosition, and
    // left on the leave event, Next, Previous, GotoIndex and Resume.
    bool start(StateKind kind, int delay)
    {
        QState* target = make(kind, delay);
        root->setInitialState(idle);
        machine.setInitialState(root);
        root->addTransition(new EventTransition(0, nullptr, &log));
        for (int type : {int(QEvent::StateMachineSignal), int(RovaRendererEvent::SetPosition)})
            idle->addTransition(new EventTransition(type, target));
        for (int type : {leaveType, int(RovaRendererEvent::Next), int(RovaRendererEvent::Previous),
                         int(RovaRendererEvent::GotoIndex), int(RovaRendererEvent::Resume)})
            target->addTransition(new EventTransition(type, idle));
        if (target->metaObject()->indexOfSignal("stateID(RovaRenderer::State)") >= 0)
            reports = std::make_unique<QSignalSpy>(target, SIGNAL(stateID(RovaRenderer::State)));
        machine.start();
        return QTest::qWaitFor([this] { return idle->active(); });
    }

    // Steps: "signal" (no arguments), "playing(<item>)", "1008+item", "leave",
    // or the number of a renderer event to post.
    void drive(const QString& script)
    {
        for (const QString& step : script.split(u',')) {
            if (step == u"signal")
                machine.postEvent(new SignalEvent(&machine, {}));
            else if (step.startsWith(u"playing("))
                machine.postEvent(new SignalEvent(&machine, {step.mid(8, 1).toInt()}));
            else if (step == u"1008+item")
                machine.postEvent(new SignalEvent(&machine, {1}, RovaRendererEvent::SetPosition));
            else if (step == u"leave")
                machine.postEvent(new QEvent(QEvent::Type(leaveType)));
            else
                machine.postEvent(new RovaRendererEvent(RovaRendererEvent::RovaRendererEventType(step.toInt())));
        }
    }

    // Posts an Eos marker (after \a ms) and waits until the machine has taken
    // it, and so everything posted before it; returns the states reported and
    // the events that reached the root.
    QString settle(int ms)
    {
        QTimer::singleShot(ms, &machine, [this] { machine.postEvent(new RovaRendererEvent(RovaRendererEvent::Eos)); });
        if (!QTest::qWaitFor([this] { return log.contains(u"1016"_s); }, ms + 5000))
            return u"<marker lost>"_s;
        QStringList all;
        for (int i = 0; reports && i < reports->size(); ++i)
            all << u"state:%1"_s.arg(reports->at(i).at(0).toInt());
        return (all + log).join(u';');
    }
};

} // namespace

class tst_RovaRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldKeepInterfaceAndIdentity()
    {
        // The meta-object indexes signals and slots, so their order is interface.
        const QMetaObject& mo = RovaRenderer::staticMetaObject;
        QString methods;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            methods += (mo.method(i).methodType() == QMetaMethod::Signal ? u" s:"_s : u" "_s) + QString::fromLatin1(mo.method(i).methodSignature());
        QCOMPARE(methods, u" s:stateChanged(RovaRenderer::State) s:playbackCompleted() s:mediaChanged(int,RovaContent)"
                          " s:playlistChanged(RovaPlaylist*) s:metadataChanged(QString,QVariantList) s:bufferingInfo(float)"
                          " s:scanningInfo(float) s:nameChanged(QString) s:rovaPropertyChanged(QString,QVariant) s:error(RovaError)"
                          " play() play(QUrl,uint) play(QUrl) play(QUrl,QString) stop() pause() pauseAt(uint) resume() next()"
                          " previous() gotoIndex(uint) setPosition(int,RovaRenderer::SeekMode) setPosition(int)"_s);
        // Queued stateChanged() connections need the type by its name.
        QVERIFY(QMetaType::fromName("RovaRenderer::State").isValid());

        RecordingRenderer renderer;
        QCOMPARE(renderer.property("uuid").toString() + u'|' + renderer.property("pluginName").toString() + u'|'
                     + renderer.property("name").toString(), u"uuid-1|test-plugin|"_s);
        QVERIFY(!renderer.setProperty("uuid", u"other"_s));

        const QVariantList payload{QUrl(u"file:///a.ogg"_s), 30u};
        const std::unique_ptr<QEvent> copy(RovaRendererEvent(RovaRendererEvent::PlayURI, payload).clone());
        QCOMPARE(int(copy->type()), 1001);
        QCOMPARE(static_cast<RovaRendererEvent*>(copy.get())->data.toList(), payload);
        QVERIFY(!RovaRendererEvent(RovaRendererEvent::Stop).data.isValid());
    }

    void shouldDispatchCommandsToOverridesOrDefaults()
    {
        RecordingRenderer renderer;
        const QUrl url(u"file:///a.ogg"_s);
        // The one-argument slots are meta-object clones that fill in the default.
        QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Q_ARG(QUrl, url)));
        QVERIFY(QMetaObject::invokeMethod(&renderer, "setPosition", Q_ARG(int, 5)));
        // The content-type variant, not overridden here, only warns.
        QTest::ignoreMessage(QtWarningMsg, "virtual bool RovaRenderer::play(const QUrl&, const QString&)  not implemented.");
        QVERIFY(renderer.play(url, u"audio/ogg"_s));
        // The media-info query, not overridden either, answers nothing.
        PropertyReceiver receiver;
        QVERIFY(!renderer.getCurrentMediaInfo(&receiver, SLOT(nameOnly(QString)), QString()));

        // Queued calls copy their arguments, the seek mode included.
        QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Qt::QueuedConnection));
        QVERIFY(QMetaObject::invokeMethod(&renderer, "play", Qt::QueuedConnection, Q_ARG(QUrl, url), Q_ARG(uint, 7)));
        QVERIFY(QMetaObject::invokeMethod(&renderer, "setPosition", Qt::QueuedConnection, Q_ARG(int, 5),
                                          Q_ARG(RovaRenderer::SeekMode, RovaRenderer::SeekMode(2))));
        QCOMPARE(renderer.calls.size(), 2);
        QTRY_COMPARE(renderer.calls.join(u';'),
                     u"play(file:///a.ogg,0);setPosition(5,0);play();play(file:///a.ogg,7);setPosition(5,2)"_s);
        QVERIFY(receiver.answers.isEmpty());
    }

    void shouldStorePropertyAndAnswerFittingCallbackOnly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("answer");
        const QByteArray fit = SLOT(propertyResult(QString, QVariant));
        QTest::newRow("set value") << u"rova_auto_advance"_s << fit << u"rova_auto_advance=true"_s;
        QTest::newRow("never set gives invalid value") << u"volume"_s << fit << u"volume=<invalid>"_s;
        QTest::newRow("slot taking the name only") << u"rova_auto_advance"_s << QByteArray(SLOT(nameOnly(QString)))
                                                   << u"rova_auto_advance"_s;
        QTest::newRow("slot with other types") << u"volume"_s << QByteArray(SLOT(wrongTypes(int, QVariant))) << QString();
    }

    void shouldStorePropertyAndAnswerFittingCallbackOnly()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, slot);
        QFETCH(QString, answer);
        RecordingRenderer renderer;
        PropertyReceiver receiver;
        QSignalSpy spy(&renderer, &RovaRenderer::rovaPropertyChanged);
        QVERIFY(renderer.setRovaProperty(u"rova_auto_advance"_s, true));
        QCOMPARE(spy, (QList<QVariantList>{{u"rova_auto_advance"_s, true}}));
        if (answer.isEmpty()) {
            QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Provided slot has incorrect signature ( %1 )."_s.arg(QString::fromLatin1(slot))));
            QTest::ignoreMessage(QtWarningMsg, "Invoking the callback method failed!");
        }
        QCOMPARE(renderer.rovaProperty(name, &receiver, slot.constData()), !answer.isEmpty());
        QCOMPARE(receiver.answers.join(u';'), answer);
    }

    // Each state kind, entered and left: the states it reported and the events it posted.
    void shouldReportAndPostInOrder_data()
    {
        QTest::addColumn<StateKind>("kind");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("warnings");
        const auto row = [](const char* title, StateKind kind, const char* script, const char* log, int delay = 0,
                            const QStringList& warnings = {}) {
            QTest::newRow(title) << kind << delay << QString::fromLatin1(script) << QString::fromLatin1(log) << warnings;
        };
        row("stop", Stop, "signal,leave", "state:0;1016");
        row("play URI transition", PlayURITransition, "signal,leave", "state:3;1016");
        // Entered with a playing item: ItemPlaying (1015) with the item, then PrepareNext (1010).
        row("playing: rendererPlaying(NextUri)", Playing, "playing(2),leave", "state:1;1015:2;1010;1016");
        row("playing: rendererPlaying(CurrentUri)", Playing, "playing(1)", "state:1;1015:1;1010;1016");
        row("playing: rendererPlaying(NoUri)", Playing, "playing(0)", "state:1;1016");
        row("playing: rendererResumed()", Playing, "signal", "state:1;1016");
        row("playing: SetPosition event with an item", Playing, "1008+item", "state:1;1016");
        row("playing without a machine", PlayingWithoutMachine, "playing(1)", "state:1;1016", 0,
            {u"Renderer state has no state machine to post event 1015 to."_s,
             u"Renderer state has no state machine to post event 1010 to."_s});
        row("play URI: rendererPlaying(CurrentUri)", PlayURI, "playing(1),leave", "state:1;1015:1;1016");
        row("play URI: rendererPlaying(NextUri)", PlayURI, "playing(2)", "state:1;1016");
        row("play URI: rendererPlaying(NoUri)", PlayURI, "playing(0)", "state:1;1016");
        row("play URI: rendererResumed()", PlayURI, "signal", "state:1;1016");
        row("play URI: SetPosition event with an item", PlayURI, "1008+item", "state:1;1016");
        // The Eos marker (1016) is queued behind the leaving event; only a Stop
        // (1002) posted with high priority on the way out overtakes it.
        row("pause left on Next", Pause, "signal,1005", "state:2;1002;1016");
        row("pause left on Previous", Pause, "signal,1006", "state:2;1002;1016");
        row("pause left on GotoIndex", Pause, "signal,1007", "state:2;1002;1016");
        row("pause left on Resume", Pause, "signal,1004", "state:2;1016");
        row("pause left otherwise", Pause, "signal,leave", "state:2;1016");
        // Without a transition for WaitTimeout (1013) the waiting state stays, and the root records the event.
        const QStringList negative{u"Renderer state wait of -5 ms is negative, waiting 0 ms instead."_s};
        row("transition, wait runs out", Transition, "signal", "state:3;1013;1016", 20);
        row("pending, wait runs out", Pending, "signal", "1013;1016", 20);
        row("transition, negative wait", Transition, "signal", "state:3;1013;1016", -5, negative);
        row("pending, negative wait", Pending, "signal", "1013;1016", -5, negative);
        row("transition, left early", Transition, "signal,leave", "state:3;1016", 50);
        row("pending, left early", Pending, "signal,leave", "1016", 50);
        row("transition, entered again", Transition, "signal,leave,signal", "state:3;state:3;1013;1016", 50);
    }

    void shouldReportAndPostInOrder()
    {
        QFETCH(StateKind, kind);
        QFETCH(int, delay);
        QFETCH(QStringList, warnings);
        for (const QString& warning : warnings)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        StateRig rig;
        QVERIFY(rig.start(kind, delay));
        QFETCH(QString, script);
        rig.drive(script);
        // After a wait, the marker comes well after it.
        QTEST(rig.settle(delay ? qMax(delay, 0) + 150 : 0), "log");
    }

    void shouldWarnInsteadOfPostingToAStoppedMachine()
    {
        QStateMachine stopped;
        RovaRendererPendingState pending(&stopped, 0);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state cannot post event 1013 while its state machine is not running.");
        pending.finishWait();
    }
};

QTEST_GUILESS_MAIN(tst_RovaRenderer)
#include "tst_rovarenderer.moc"
