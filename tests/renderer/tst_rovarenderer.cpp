// SPDX-License-Identifier: LGPL-2.1-or-later
// The renderer interface, the renderer events, and the waiting states of the
// basic renderer's machine (its other states are tested in the machine itself).
#include "rovatestobjects.h"

#include <rovarendererevent.h>
#include <rovarendererpendingstate.h>
#include <rovarendererplayingstate.h>
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
struct RecordingRenderer : RovaTestRenderer
{
    RecordingRenderer() : RovaTestRenderer(u"uuid-1"_s) {}
    QStringList calls;
    using RovaRenderer::play;
    bool play() override { return record(u"play()"_s); }
    bool play(const QUrl& url, uint start) override { return record(u"play(%1,%2)"_s.arg(url.toString()).arg(start)); }
    bool setPosition(int s, SeekMode mode) override { return record(u"setPosition(%1,%2)"_s.arg(s).arg(int(mode))); }
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
// renderer event that reaches it down by its type.
struct EventTransition : QAbstractTransition
{
    EventTransition(int type, QAbstractState* target, QStringList* log = nullptr) : type(type), log(log) { setTargetState(target); }
    bool eventTest(QEvent* event) override
    {
        if (log && int(event->type()) >= RovaRendererEvent::Play && int(event->type()) <= RovaRendererEvent::Eos)
            *log << QString::number(event->type());
        return !log && event->type() == type;
    }
    void onTransition(QEvent*) override {}
    const int type;
    QStringList* const log;
};

const int enterType = QEvent::User + 1000;
const int leaveType = QEvent::User + 1001;

} // namespace

class tst_RovaRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldKeepInterfaceAndEvents()
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
        // Queued connections by signature need the types by their names.
        QVERIFY(QMetaType::fromName("RovaRenderer::State").isValid());
        QVERIFY(QMetaType::fromName("RovaRenderer::SeekMode").isValid());

        const QVariantList payload{QUrl(u"file:///a.ogg"_s), 30u};
        const std::unique_ptr<QEvent> copy(RovaRendererEvent(RovaRendererEvent::PlayURI, payload).clone());
        QCOMPARE(int(copy->type()), 1001);
        QCOMPARE(static_cast<RovaRendererEvent*>(copy.get())->data.toList(), payload);
    }

    void shouldDispatchCommandsAndPropertiesToOverridesOrDefaults()
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

        // Properties are stored, and answered to callbacks that fit only.
        QSignalSpy spy(&renderer, &RovaRenderer::rovaPropertyChanged);
        QVERIFY(renderer.setRovaProperty(u"rova_auto_advance"_s, true));
        QCOMPARE(spy, (QList<QVariantList>{{u"rova_auto_advance"_s, true}}));
        QString name = u"rova_auto_advance"_s;
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(propertyResult(QString, QVariant))));
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(nameOnly(QString))));
        name = u"volume"_s; // never set: an invalid value
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(propertyResult(const QString&, const QVariant&))));
        // A slot taking other types would read the values as something they are not.
        QTest::ignoreMessage(QtWarningMsg, "Provided slot has incorrect signature ( 1wrongTypes(int, QVariant) ).");
        QTest::ignoreMessage(QtWarningMsg, "Invoking the callback method failed!");
        QVERIFY(!renderer.rovaProperty(name, &receiver, SLOT(wrongTypes(int, QVariant))));
        QCOMPARE(receiver.answers.join(u' '), u"rova_auto_advance=true rova_auto_advance volume=<invalid>"_s);
    }

    // A waiting state posts WaitTimeout (1013) when its wait runs out while it
    // is active, never once it was left, and waits afresh when entered again.
    void shouldPostWaitTimeoutOnlyWhileWaiting_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::newRow("transition, wait runs out") << false << 0 << "enter" << "state:3 1013";
        QTest::newRow("pending, wait runs out") << true << 20 << "enter" << "1013";
        QTest::newRow("transition, negative wait") << false << -5 << "enter" << "state:3 1013";
        QTest::newRow("pending, negative wait") << true << -5 << "enter" << "1013";
        QTest::newRow("transition, left early") << false << 50 << "enter leave" << "state:3";
        QTest::newRow("pending, left early") << true << 50 << "enter leave" << "";
        QTest::newRow("transition, entered again") << false << 50 << "enter leave enter" << "state:3 state:3 1013";
    }

    void shouldPostWaitTimeoutOnlyWhileWaiting()
    {
        QFETCH(bool, pending);
        QFETCH(int, delay);
        QFETCH(QString, script);
        if (delay < 0)
            QTest::ignoreMessage(QtWarningMsg, "Renderer state wait of -5 ms is negative, waiting 0 ms instead.");
        QStringList log;
        QStateMachine machine;
        auto* root = new QState(&machine);
        auto* idle = new QState(root);
        QState* waiting = nullptr;
        if (pending) {
            waiting = new RovaRendererPendingState(&machine, delay, root);
        } else {
            auto* transition = new RovaRendererTransitionState(&machine, delay, root);
            connect(transition, &RovaRendererTransitionState::stateID, this, [&log](RovaRenderer::State id) { log << u"state:%1"_s.arg(int(id)); });
            waiting = transition;
        }
        root->addTransition(new EventTransition(0, nullptr, &log));
        idle->addTransition(new EventTransition(enterType, waiting));
        waiting->addTransition(new EventTransition(leaveType, idle));
        root->setInitialState(idle);
        machine.setInitialState(root);
        machine.start();
        QTRY_VERIFY(machine.isRunning());
        for (const QString& step : script.split(u' '))
            machine.postEvent(new QEvent(QEvent::Type(step == u"enter" ? enterType : leaveType)));
        // An Eos marker well after the wait: once it came through, so did every timeout.
        QTimer::singleShot(qMax(delay, 0) + 150, &machine, [&machine] { machine.postEvent(new RovaRendererEvent(RovaRendererEvent::Eos)); });
        QTRY_VERIFY(log.contains(u"1016"_s));
        log.removeAll(u"1016"_s);
        QTEST(log.join(u' '), "log");
    }

    void shouldWarnInsteadOfPostingWithoutRunningMachine()
    {
        QStateMachine stopped;
        RovaRendererPendingState pending(&stopped, 0);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state cannot post event 1013 while its state machine is not running.");
        pending.finishWait();
        RovaRendererPlayingState playing(nullptr, nullptr);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1010 to.");
        playing.fetchNext();
    }
};

QTEST_GUILESS_MAIN(tst_RovaRenderer)
#include "tst_rovarenderer.moc"
