// SPDX-License-Identifier: LGPL-2.1-or-later
// The renderer interface, the basic renderer's machine and its playlist handler, on a seeded Tracker store.
#include "rovarecordingrenderer.h"
#include "rovatestobjects.h"
#include "rovatrackerfixture.h"

#include <rovacontent.h>
#include <rovainternalregistry.h>
#include <rovarendererevent.h>
#include <rovarenderereventtransition.h>
#include <rovarendererpendingstate.h>
#include <rovarendererplayingstate.h>
#include <rovarendererplaylisthandler.h>
#include <rovarenderertransitionstate.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractTransition>
#include <QMetaMethod>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStateMachine>
#include <QStringListModel>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Item n of the store as "src::urn:rova:media:<n>"; a word w as "src::urn:rova:<w>".
QString id(const QString& item)
{
    bool number = false;
    const int n = item.toInt(&number);
    return u"src::"_s + (number ? RovaTrackerFixture::item(n).objectId : u"urn:rova:"_s + item);
}
QStringList ids(const QString& items)
{
    QStringList list;
    for (const QString& item : items.split(u' ', Qt::SkipEmptyParts))
        list << id(item);
    return list;
}

// Items named by the model's column 0 as it stands; a "web" item carries its own location, as a network source's do.
struct RawPlaylist : RovaPlaylistBase
{
    explicit RawPlaylist(QAbstractItemModel* model) : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), u"test"_s) { setUnderlyingModel(model); }
    RovaMediaInfo getItemMediaInfo(int index) override
    {
        RovaMediaInfo info(model()->index(index, 0).data().toString());
        if (info.uuid().contains(u":web"_s))
            info.appendMetaData(u"uri"_s, {QUrl(u"http://host/"_s + info.uuid().section(u':', -1))});
        return info;
    }
};

struct StorePlaylist
{
    explicit StorePlaylist(const QString& items) : model(ids(items)) {}
    QStringListModel model;
    RawPlaylist playlist{&model};
};

// Grants every request at once, so that commands reach the machine within the call.
struct InstantPolicy : RovaRendererPolicy
{
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag>) override { Q_EMIT policyEvent(ResourcesGranted); }
    void release(QFlags<PolicyResourceFlag>) override {}
};

class Receiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers;
public Q_SLOTS:
    void statusResults(QString playlistId, uint index, int state, QString itemId)
    {
        answers << u"%1 %2 %3 %4"_s.arg(playlistId.isEmpty() ? u"-"_s : u"pl"_s).arg(index).arg(state).arg(itemId);
    }
    void propertyResult(const QString& name, const QVariant& value)
    {
        answers << name + u'=' + (value.isValid() ? value.toString() : u"<invalid>"_s);
    }
    void nameOnly(QString name) { answers << name; }
    void wrongTypes(int, const QVariant&) { answers << u"unfit"_s; }
};

// "7" for item 7, or "7 file:///rova/media/item7.mp3 67 2" once looked up.
QString describe(const RovaMediaInfo* info, bool full = true)
{
    if (!info)
        return u"none"_s;
    if (info->uuid().isEmpty())
        return info->isPlayable() ? u"uri"_s : QString();
    QString text = info->uuid().section(u':', -1);
    for (const char* key : {"uri", "duration", "play-count"})
        text += full && info->isPlayable() ? u' ' + info->firstMetaData(QLatin1String(key)).toString() : QString();
    return text;
}

// True unless \a info was looked up and holds another item's URL.
bool hasOwnUrl(const RovaMediaInfo* info)
{
    return !info || !info->isPlayable()
        || info->firstMetaData(u"uri"_s).toUrl().toString() == RovaTrackerFixture::item(info->uuid().section(u':', -1).toInt()).url;
}

// The call's result, with \a warning expected on the way.
const auto warned = [](const char* warning, auto call) { QTest::ignoreMessage(QtWarningMsg, warning); return call(); };

const QEvent::Type markerType = QEvent::Type(QEvent::User + 901), flushType = QEvent::Type(QEvent::User + 902);

// A handler on a running bare machine, and a playlist. The log holds the handler's signals as they come and its
// events as the machine takes them; "!" marks an event that overtook one posted before it: high priority.
struct Rig : QObject
{
    QStringListModel model;
    std::unique_ptr<RawPlaylist> playlist;
    QStateMachine machine;
    RovaRendererPlaylistHandler handler;
    QStringList log;
    int markers = 0;
    bool flushed = false;

    struct Recorder : QAbstractTransition
    {
        explicit Recorder(Rig* owner) : rig(owner) {}
        Rig* rig;
        bool eventTest(QEvent* e) override
        {
            static const QHash<int, QString> names{{1002, u"Stop"_s}, {1003, u"Pause"_s}, {1005, u"Next"_s}, {1010, u"PrepareNext"_s},
                {1011, u"RefreshNext"_s}, {1012, u"NextReady"_s}, {1014, u"Ready"_s}};
            if (e->type() == markerType)
                --rig->markers;
            else if (e->type() == flushType)
                rig->flushed = true;
            else if (e->type() >= 1000 && e->type() <= 1016)
                rig->log << names.value(e->type(), QString::number(e->type())) + (rig->markers > 0 ? u"!"_s : QString());
            return false;
        }
        void onTransition(QEvent*) override {}
    };

    explicit Rig(const QStringList& items) : model(items), playlist(new RawPlaylist(&model))
    {
        auto* root = new QState(&machine);
        root->addTransition(new Recorder(this));
        machine.setInitialState(root);
        machine.start();
        (void)QTest::qWaitFor([this] { return machine.isRunning(); });
        handler.setStateMachine(&machine);
        using H = RovaRendererPlaylistHandler;
        connect(&handler, &H::currentItemChanged, this, [this](int index, const RovaMediaInfo& info) {
            const QString name = describe(&info, false);
            log << u"item(%1%2)"_s.arg(index).arg(name.isEmpty() ? QString() : u',' + name);
        });
        connect(&handler, &H::currentPlaylistChanged, this, [this](RovaPlaylist* p) { log << (p ? u"list"_s : u"list(null)"_s); });
        connect(&handler, &H::playlistHandlingError, this, [this](const RovaError& e) {
            log << u"error(%1:%2)"_s.arg(int(e.code())).arg(e.message());
            arm(); // what the handler posts after an error is told apart from what it posted before
        });
        connect(&handler, &H::noMoreItemsToPlay, this, [this] { log << u"end"_s; });
    }

    void arm()
    {
        ++markers;
        machine.postEvent(new QEvent(markerType));
    }

    // Runs \a script (steps separated by ';'), waits for the lookup and the machine; returns the log.
    QString run(const QString& script)
    {
        log.clear();
        arm();
        for (const QString& step : script.split(u';'))
            perform(step.section(u' ', 0, 0), step.section(u' ', 1));
        (void)QTest::qWaitFor([this] { return !handler.metadataFetchOngoing(); }, 20000);
        flushed = false;
        machine.postEvent(new QEvent(flushType));
        (void)QTest::qWaitFor([this] { return flushed; });
        return log.join(u' ');
    }

    void perform(const QString& word, const QString& arg)
    {
        const uint n = arg.toUInt();
        RovaRendererPlaylistHandler& h = handler;
        const auto transition = [&](bool moved) { // what the command transition does for Next, Previous and GotoIndex
            if (moved)
                h.updateItemPlaying(1), h.fetchBasicMetadata();
        };
        const QHash<QString, std::function<void()>> steps{
            {u"next"_s, [&] { transition(h.stepForward(1) || h.gotoFirst()); }},
            {u"previous"_s, [&] { transition(h.stepBack(1) || h.gotoLast()); }},
            {u"goto"_s, [&] { h.cancelNextPreparation(), transition(h.gotoIndex(n)); }},
            {u"forward"_s, [&] { h.stepForward(n); }},
            {u"back"_s, [&] { h.stepBack(n); }},
            {u"last"_s, [&] { h.gotoLast(); }},
            {u"assign"_s, [&] { h.setPlaylist(arg == u"null"_s ? nullptr : playlist.get()); }},
            {u"current"_s, [&] { delete playlist->getItem(int(n)); }},
            {u"delete"_s, [&] { playlist.reset(); }},
            {u"fetch"_s, [&] { if (!h.fetchBasicMetadata()) log << u"refused"_s; }},
            {u"wait"_s, [&] { (void)QTest::qWaitFor([&] { return !h.metadataFetchOngoing(); }); }},
            {u"prepare"_s, [&] { h.prepareNext(arg.split(u',')); }},
            {u"eos"_s, [&] { h.handleEos(n); }},
            {u"uri"_s, [&] { h.setURI(u"file:///direct.ogg"_s); }},
            {u"announce"_s, [&] { h.updateItemPlaying(int(n)); }},
            {u"remove"_s, [&] { model.removeRows(arg.section(u' ', 0, 0).toInt(), qMax(1, arg.section(u' ', 1).toInt())); }},
            {u"insert"_s, [&] { model.insertRows(int(n), 1), model.setData(model.index(int(n)), id(arg.section(u' ', 1).isEmpty() ? u"30"_s : arg.section(u' ', 1))); }},
            {u"sort"_s, [&] { playlist->sort(0, n ? RovaPlaylist::SortAscending : RovaPlaylist::SortDescending); }},
            {u"shuffle"_s, [&] { n ? playlist->shuffle() : playlist->unShuffle(); }},
            {u"repeat"_s, [&] { playlist->setRepeat(RovaPlaylist::RovaRepeatMode(n)); }},
            {u"reset"_s, [&] { model.setStringList(ids(u"9 10 11"_s)); }},
            {u"events"_s, [&] { QCoreApplication::processEvents(); }},
            {u"halt"_s, [&] { markers = 0, machine.stop(), (void)QTest::qWaitFor([&] { return !machine.isRunning(); }), h.setStateMachine(&machine); }},
            {u"start"_s, [&] { machine.start(), (void)QTest::qWaitFor([&] { return machine.isRunning(); }); }},
            {u"update"_s, [&] { QMetaObject::invokeMethod(&h, "playlistCurrentUpdated", Q_ARG(RovaPlaylist::RovaPlaylistUpdate, RovaPlaylist::RovaPlaylistUpdate(n)), Q_ARG(int, 0)); }},
        };
        QVERIFY2(steps.contains(word), qPrintable(word));
        steps.value(word)();
    }
};

} // namespace

class tst_RovaBasicRenderer : public QObject
{
    Q_OBJECT
    std::unique_ptr<RovaTrackerFixture> store;

    // Drives the machine until every command and lookup has been handled. A lookup started and answered
    // within one round posts its event behind the marker: only a second quiet round shows that all is done.
    static void settle(RovaRecordingRenderer& renderer)
    {
        QTRY_VERIFY(renderer.stateMachine()->isRunning());
        for (int quiet = 0; quiet < 2;) {
            QTRY_VERIFY(!renderer.playlistHandler()->metadataFetchOngoing());
            const int taken = renderer.markersTaken;
            renderer.postMarker();
            QTRY_VERIFY(renderer.markersTaken > taken);
            quiet = renderer.playlistHandler()->metadataFetchOngoing() ? 0 : quiet + 1;
        }
    }

    // Gives the commands of \a script one after the other; those joined by '+' at once.
    static void run(RovaRecordingRenderer& renderer, const QString& script)
    {
        for (const QString& step : script.split(u',', Qt::SkipEmptyParts)) {
            for (const QString& name : step.split(u'+'))
                command(renderer, name);
            settle(renderer);
        }
    }

    // A renderer on a three-item playlist whose current item 0 is looked up, granted at once, without auto-advance,
    // brought to \a state. Without a state: the playlist is given before the machine runs; hooks confirm themselves.
    static void reach(RovaRecordingRenderer& renderer, StorePlaylist& items, const QString& state)
    {
        static const QHash<QString, QString> ways{{u"transition"_s, u"play"_s}, {u"playing"_s, u"play,playing1"_s},
            {u"pause"_s, u"play,playing1,pause,paused"_s}, {u"pending"_s, u"play,playing1,stop"_s}, {u"uriPending"_s, u"url"_s},
            {u"uriPlaying"_s, u"url,playing1"_s}, {u"uriPause"_s, u"url,playing1,pause,paused"_s}};
        renderer.confirm = state.isEmpty();
        renderer.setRovaProperty(u"rova_auto_advance"_s, false);
        if (!state.isEmpty())
            renderer.setRendererPolicy(new InstantPolicy, RovaRendererPolicy::DefaultGroup);
        renderer.assignPlaylist(&items.playlist);
        if (state.isEmpty())
            return;
        settle(renderer);
        run(renderer, ways.value(state));
        QCOMPARE(renderer.machineState(), state);
        renderer.log.clear();
    }

    // Gives a command, which never fails at the call, a notification of the implementation, or a
    // change of the playlist or the settings. "url" and "seek" go through the one-argument slots,
    // meta-object clones that fill in the defaults.
    static void command(RovaRecordingRenderer& renderer, const QString& name)
    {
        RovaPlaylist* const playlist = renderer.playlistHandler()->playlist();
        bool accepted = true;
        if (name == u"play") accepted = renderer.play();
        else if (name == u"url") QMetaObject::invokeMethod(&renderer, "play", Q_RETURN_ARG(bool, accepted), Q_ARG(QUrl, QUrl(u"file:///tmp/x.ogg"_s)));
        else if (name == u"stop") accepted = renderer.stop();
        else if (name == u"pause") accepted = renderer.pause();
        else if (name == u"resume") accepted = renderer.resume();
        else if (name == u"next") accepted = renderer.next();
        else if (name == u"previous") accepted = renderer.previous();
        else if (name == u"goto2") accepted = renderer.gotoIndex(2);
        else if (name == u"seek") QMetaObject::invokeMethod(&renderer, "setPosition", Q_RETURN_ARG(bool, accepted), Q_ARG(int, 7));
        else if (name == u"seekBack") accepted = renderer.setPosition(-5, RovaRenderer::SeekMode(7));
        else if (name == u"emptyUrl") accepted = renderer.play(QUrl());
        else if (name == u"urlAt") accepted = renderer.play(QUrl(u"file:///tmp/x.ogg"_s), 9);
        else if (name == u"urlTyped") accepted = renderer.play(QUrl(u"file:///tmp/x.ogg"_s), u"audio/ogg"_s);
        else if (name == u"pauseAt") accepted = renderer.pauseAt(5);
        else if (name == u"eos") Q_EMIT renderer.rendererEos();
        else if (name == u"ready") renderer.stateMachine()->postEvent(new RovaRendererEvent(RovaRendererEvent::MetadataReady));
        else if (name.startsWith(u"playing")) renderer.hintTaken = false, Q_EMIT renderer.rendererPlaying(name.back().digitValue());
        else if (name == u"resumed") Q_EMIT renderer.rendererResumed();
        else if (name == u"paused") Q_EMIT renderer.rendererPaused();
        else if (name == u"stopped") Q_EMIT renderer.rendererStopped();
        else if (name.startsWith(u"auto")) accepted = renderer.setRovaProperty(u"rova_auto_advance"_s, name == u"autoOn");
        else if (name == u"confirm") renderer.confirm = !renderer.confirm;
        else if (name == u"hinted") QTRY_VERIFY(!renderer.hint.isEmpty()); // the next item's lookup answered
        else if (name == u"taken") renderer.hintTaken = true; // the implementation plays on into its hint
        else if (name == u"remove") playlist->removeItem(playlist->getCurrentIndex());
        else if (name == u"repeat") playlist->setRepeat(RovaPlaylist::RovaRepeatMode((playlist->repeatMode() + 1) % 3));
        else if (name == u"shuffle") playlist->isShuffled() ? playlist->unShuffle() : playlist->shuffle();
        else QFAIL("unknown command");
        QVERIFY2(accepted, qPrintable(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        store = std::make_unique<RovaTrackerFixture>(40);
        QVERIFY2(store->isValid(), qPrintable(store->errorString()));
        store->makeDefault();
        QSparqlConnection connection(u"QTRACKER"_s);
        std::unique_ptr<QSparqlResult> insert(connection.syncExec(
            QSparqlQuery(u"INSERT DATA { <urn:rova:nourl> a nfo:FileDataObject ; nie:url \"\" }"_s, QSparqlQuery::InsertStatement)));
        QVERIFY(!insert->hasError());
    }

    void init()
    {
        // Random use draws the warnings that misuse deserves.
        if (qstrcmp(QTest::currentTestFunction(), "shouldStaySoundUnderRandomUse") != 0)
            QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

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
        // A state warns instead of posting where there is no running machine.
        QStateMachine stopped;
        RovaRendererPendingState pending(&stopped, 0);
        warned("Renderer state cannot post event 1013 while its state machine is not running.", [&] { pending.finishWait(); });
        RovaRendererPlayingState playing(nullptr, nullptr);
        warned("Renderer state has no state machine to post event 1010 to.", [&] { playing.fetchNext(); });
    }

    // A waiting state posts WaitTimeout when its wait runs out while it is active, never once it was left.
    void shouldPostWaitTimeoutOnlyWhileWaiting_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::newRow("transition, wait runs out") << false << 0 << "enter" << "state:3 timeout";
        QTest::newRow("pending, wait runs out") << true << 20 << "enter" << "timeout";
        QTest::newRow("transition, negative wait") << false << -5 << "enter" << "state:3 timeout";
        QTest::newRow("pending, negative wait") << true << -5 << "enter" << "timeout";
        QTest::newRow("transition, left early") << false << 50 << "enter leave" << "state:3";
        QTest::newRow("pending, left early") << true << 50 << "enter leave" << "";
        QTest::newRow("transition, entered again") << false << 50 << "enter leave enter" << "state:3 state:3 timeout";
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
        QState* waiting = pending ? static_cast<QState*>(new RovaRendererPendingState(&machine, delay, root))
                                  : new RovaRendererTransitionState(&machine, delay, root);
        if (auto* transition = qobject_cast<RovaRendererTransitionState*>(waiting))
            connect(transition, &RovaRendererTransitionState::stateID, this, [&log](RovaRenderer::State id) { log << u"state:%1"_s.arg(int(id)); });
        // Play enters the waiting state and Stop leaves it; Eos marks the end.
        idle->addTransition(new RovaRendererEventTransition(RovaRendererEvent::Play, waiting));
        waiting->addTransition(new RovaRendererEventTransition(RovaRendererEvent::Stop, idle));
        auto* timeout = new RovaRendererEventTransition(RovaRendererEvent::WaitTimeout, nullptr);
        auto* end = new RovaRendererEventTransition(RovaRendererEvent::Eos, nullptr);
        root->addTransition(timeout);
        root->addTransition(end);
        connect(timeout, &QAbstractTransition::triggered, this, [&log] { log << u"timeout"_s; });
        QSignalSpy ended(end, &QAbstractTransition::triggered);
        root->setInitialState(idle);
        machine.setInitialState(root);
        machine.start();
        QTRY_VERIFY(machine.isRunning());
        for (const QString& step : script.split(u' '))
            machine.postEvent(new RovaRendererEvent(step == u"enter" ? RovaRendererEvent::Play : RovaRendererEvent::Stop));
        // Well after the wait: once the end came through, so did every timeout.
        QTimer::singleShot(qMax(delay, 0) + 150, &machine, [&machine] { machine.postEvent(new RovaRendererEvent(RovaRendererEvent::Eos)); });
        QVERIFY(ended.wait());
        QTEST(log.join(u' '), "log");
    }

    // For every state and command: the hooks that ran and the state the machine settled in.
    void shouldCarryOutCommandsByState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("expected");

        // One row per command; the columns are the states of the header line.
        const QStringList states = {u"stop"_s, u"pause"_s, u"transition"_s, u"playing"_s, u"pending"_s,
                                    u"uriPlaying"_s, u"uriPause"_s, u"uriPending"_s};
        const char* const table[][9] = {
            {"play", "play item0.mp3>transition", "play item0.mp3>transition", ">transition", ">playing", "play item0.mp3>transition", ">uriPlaying", ">uriPause", ">uriPending"},
            {"url", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending", "play x.ogg>uriPending"},
            {"stop", ">stop", "stop>pending", "stop>pending", "stop>pending", "stop>pending", "stop>pending", "stop>pending", "stop>pending"},
            {"pause", ">stop", ">pause", "pause>pending", "pause>pending", ">pending", "pause>uriPending", ">uriPause", "pause>uriPending"},
            {"resume", ">stop", "resume>pending", ">transition", ">playing", "resume>pending", ">uriPlaying", "resume>uriPending", "resume>uriPending"},
            {"next", "media 1>stop", "media 1,stop>pending", "media 1,play item1.mp3>pending", "media 1,play item1.mp3>pending", "media 1,play item1.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"previous", "media 2>stop", "media 2,stop>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"goto2", "media 2>stop", "media 2,stop>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"seek", ">stop", "seek 7,0>pause", ">transition", "seek 7,0>playing", ">pending", "seek 7,0>uriPlaying", "seek 7,0>uriPause", ">uriPending"},
            {"pauseAt", "play item0.mp3@5>transition", "play item0.mp3@5>transition", "play item0.mp3@5>transition", ">playing", ">pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"eos", ">stop", ">pause", ">transition", "pause>pending", ">pending", "pause>uriPending", ">uriPause", "pause>uriPending"},
            // After a step the idle states stay where they were, and play the new item.
            {"next,play", "media 1,play item1.mp3>transition", "media 1,stop,play item1.mp3>transition", nullptr},
            {"eos,eos,goto2,play", "media 2,play item2.mp3>transition", nullptr},
            // Values out of range pass through to the implementation untouched.
            {"seekBack", ">stop", "seek -5,7>pause", nullptr},
            {"emptyUrl", "play >uriPending", nullptr},
            {"urlAt", "play x.ogg from 9>uriPending", nullptr},
            {"urlTyped", "play x.ogg as audio/ogg>uriPending", nullptr},
            // A pause while the new item is looked up holds the answer: the item is loaded paused, never started, so
            // that the item announced is the one held. (The pending state is reached through a stop, and a pause
            // leaves a stopped implementation stopped.)
            {"next+pause", nullptr, "media 1,stop>pending", "media 1,pause,play item1.mp3@0>pending", "media 1,pause,play item1.mp3@0>pending", "media 1,play item1.mp3@0>pending", nullptr},
            {"confirm,next+pause", nullptr, nullptr, nullptr, "media 1,pause,play item1.mp3@0>pause", nullptr},
            {"confirm,next+pause+resume", nullptr, nullptr, nullptr, "media 1,pause,play item1.mp3,hint ->playing", nullptr},
            {"confirm,next+play+pause", "media 1,pause,play item1.mp3@0>pause", nullptr},
            // A hint the implementation has taken over stays when the repeat mode changes, is the item announced
            // when the implementation moves on to it, and the change takes effect from the item after it.
            {"autoOn,hinted,taken,repeat,playing2,hinted", nullptr, nullptr, nullptr, "hint -,hint item1.mp3,hint -,media 1,hint -,hint item1.mp3>playing", nullptr},
            // A lookup answered while the start waits in the queue starts the item once.
            {"play+ready", "play item0.mp3>pending", nullptr},
            {"pauseAt+ready", "play item0.mp3@5>pending", nullptr},
            // What the implementation reports moves the machine on.
            {"playing0", ">playing", ">playing", ">playing", ">playing", ">playing", ">uriPlaying", ">uriPlaying", ">uriPlaying"},
            {"playing1", "hint ->playing", "hint ->playing", "hint ->playing", "hint ->playing", "hint ->playing", "media -1>uriPlaying", "media -1>uriPlaying", "media -1>uriPlaying"},
            {"playing2", "hint ->playing", "hint ->playing", "hint ->playing", "hint ->playing", "hint ->playing", ">uriPlaying", ">uriPlaying", ">uriPlaying"},
            {"resumed", ">playing", ">playing", ">playing", ">playing", ">playing", ">uriPlaying", ">uriPlaying", ">uriPlaying"},
            {"paused", ">pause", ">pause", ">pause", ">pause", ">pause", ">uriPause", ">uriPause", ">uriPause"},
            {"stopped", ">stop", ">stop", ">stop", ">stop", ">stop", ">stop", ">stop", ">stop"},
            // A play after a directly given URL returns to the playlist: its item is the one announced.
            {"stop,play,playing1", nullptr, nullptr, nullptr, nullptr, nullptr, "stop,play item0.mp3,media 0,hint ->playing", nullptr},
            // Removing the playing item stops it.
            {"remove", nullptr, nullptr, nullptr, "media 0,stop>pending"},
        };
        for (const auto& row : table) {
            for (int column = 0; column < states.size(); ++column) {
                if (row[column + 1])
                    QTest::addRow("%s in %s", row[0], qPrintable(states.at(column)))
                        << states.at(column) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[column + 1]);
            }
        }
        // Commands given right after construction wait for the machine and keep their order.
        QTest::newRow("play before the machine runs") << QString() << u"play"_s << u"hint -,play item0.mp3,hint ->playing"_s;
        QTest::newRow("goto2+pauseAt before the machine runs") << QString() << u"goto2+pauseAt"_s << u"hint -,media 2,play item2.mp3@5>pause"_s;
        QTest::newRow("next+autoOff before the machine runs") << QString() << u"next+autoOff"_s << u"hint -,media 1,hint ->stop"_s;
    }

    void shouldCarryOutCommandsByState()
    {
        QFETCH(QString, state);
        QFETCH(QString, commands);
        StorePlaylist items(u"0 1 2"_s);
        RovaRecordingRenderer renderer;
        QSignalSpy reports(&renderer, &RovaRenderer::stateChanged);
        reach(renderer, items, state);
        connect(&renderer, &RovaRenderer::mediaChanged, this, [&renderer](int index) { renderer.log << u"media %1"_s.arg(index); });

        run(renderer, commands);
        QTEST(QString(renderer.log.join(u',') + u'>' + renderer.machineState()), "expected");
        // Each state reports itself, the stop state first; the pending states report nothing.
        QCOMPARE(reports.first().at(0).toInt(), 0);
        const QHash<QString, int> own{{u"stop"_s, 0}, {u"playing"_s, 1}, {u"uriPlaying"_s, 1}, {u"pause"_s, 2}, {u"uriPause"_s, 2}, {u"transition"_s, 3}};
        if (own.contains(renderer.machineState()))
            QCOMPARE(reports.last().at(0).toInt(), own.value(renderer.machineState()));
        // A pause-at position is used once.
        QVERIFY(!renderer.playlistHandler()->currentContent()->metaData().contains(u"paused-position"_s));
    }

    // Answers go to receivers that are still there and fit; the others are errors.
    void shouldAnswerStatusRequests()
    {
        StorePlaylist items(u"0 1 2"_s);
        Receiver receiver;
        auto* gone = new Receiver;
        const char* const fit = SLOT(statusResults(QString, uint, int, QString));
        auto* renderer = new RovaRecordingRenderer;
        QStringList errors;
        connect(renderer, &RovaRenderer::error, this, [&errors](const RovaError& error) { errors << QString::number(error.code()); });
        QVERIFY(renderer->getStatus(gone, fit));
        delete gone;
        QByteArray slot(fit);
        QVERIFY(renderer->getStatus(&receiver, slot.constData()));
        slot.fill('x'); // the caller's string may go away
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"statusResults\\(int\\)"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"statusResults\\(int\\)"_s));
        QVERIFY(!renderer->getStatus(&receiver, SLOT(statusResults(int))));
        // Before the first state is entered, the state is 100.
        QTest::ignoreMessage(QtWarningMsg, "RovaRenderer: \"Answering get status failed!\"");
        QTRY_COMPARE(receiver.answers, QStringList{u"- 0 100 "_s});
        QCOMPARE(errors.join(u' '), u"41 43"_s);
        reach(*renderer, items, u"playing"_s);
        run(*renderer, u"next,playing1"_s);
        QVERIFY(renderer->getStatus(&receiver, fit));
        QTRY_COMPARE(receiver.answers.last(), u"pl 1 1 src::"_s + RovaTrackerFixture::item(1).objectId);
        QVERIFY(renderer->getStatus(&receiver, fit));
        delete renderer;
        QTest::qWait(1); // the renderer went first: its pending answer must not come
        QCOMPARE(receiver.answers.size(), 2);
    }

    void shouldGuardAndAnswerPropertiesAndInstallOnlyUsablePolicies()
    {
        StorePlaylist items(u"0 1 2"_s);
        RovaRecordingRenderer renderer;
        RovaRendererPolicy* dummy = renderer.rendererPolicy();
        const char* refused = "unable to set policy, got null policy or init failed";
        QVERIFY(!warned(refused, [&] { return renderer.setRendererPolicy(nullptr, RovaRendererPolicy::PlayerGroup); }));
        QVERIFY(!warned(refused, [&] { return renderer.setRendererPolicy(dummy, RovaRendererPolicy::PlayerGroup); }));
        QVERIFY(dummy->initialize(RovaRendererPolicy::DefaultGroup)); // still alive
        // A file that gives no policy: the loader's warning, then the refusal.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
        QVERIFY(!warned(refused, [&] { return renderer.setRendererPolicy(u"/nonexistent/policy.so"_s, RovaRendererPolicy::PlayerGroup); }));
        QCOMPARE(renderer.rendererPolicy(), dummy);
        QVERIFY(!warned("Read-only property: \"rova_policy_override\"", [&] { return renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE, true); }));
        QVERIFY(!renderer.property("rova_policy_override").isValid());
        reach(renderer, items, u"playing"_s);
        QSignalSpy changes(&renderer, &RovaRenderer::rovaPropertyChanged);
        QVERIFY(renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true));
        QTRY_COMPARE(renderer.hint, u"item1.mp3"_s);
        QVERIFY(renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, false));
        settle(renderer);
        QCOMPARE(renderer.log, (QStringList{u"hint -"_s, u"hint item1.mp3"_s, u"hint -"_s}));
        // The policy's word is mirrored once per change.
        auto* policy = new InstantPolicy;
        QVERIFY(renderer.setRendererPolicy(policy, RovaRendererPolicy::DefaultGroup));
        for (auto event : {RovaRendererPolicy::PauseRequested, RovaRendererPolicy::StopRequested,
                           RovaRendererPolicy::ResourcesGranted, RovaRendererPolicy::ResourcesGranted})
            Q_EMIT policy->policyEvent(event);
        QCOMPARE(changes, (QList<QVariantList>{{u"rova_auto_advance"_s, true}, {u"rova_auto_advance"_s, false},
                                               {u"rova_policy_override"_s, true}, {u"rova_policy_override"_s, false}}));
        // Properties are answered to callbacks that fit only.
        Receiver receiver;
        QString name = u"rova_policy_override"_s;
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(propertyResult(QString, QVariant))));
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(nameOnly(QString))));
        name = u"volume"_s; // never set: an invalid value
        QVERIFY(renderer.rovaProperty(name, &receiver, SLOT(propertyResult(const QString&, const QVariant&))));
        // A slot taking other types would read the values as something they are not.
        QTest::ignoreMessage(QtWarningMsg, "Provided slot has incorrect signature ( 1wrongTypes(int, QVariant) ).");
        QTest::ignoreMessage(QtWarningMsg, "Invoking the callback method failed!");
        QVERIFY(!renderer.rovaProperty(name, &receiver, SLOT(wrongTypes(int, QVariant))));
        QCOMPARE(receiver.answers.join(u' '), u"rova_policy_override=false rova_policy_override volume=<invalid>"_s);
        // The interface's content-type play, where not overridden, only warns.
        RovaTestRenderer bare(u"uuid-1"_s);
        QVERIFY(warned("virtual bool RovaRenderer::play(const QUrl&, const QString&)  not implemented.", [&] { return bare.play(QUrl(u"file:///a.ogg"_s), u"audio/ogg"_s); }));
    }

    // Deleting a renderer in the middle of things leaves nothing behind that fires.
    void shouldDestroyCleanlyMidCommand()
    {
        StorePlaylist items(u"0 1 2"_s);
        for (int stage = 0; stage < 4; ++stage) {
            auto* renderer = new RovaRecordingRenderer;
            renderer->assignPlaylist(&items.playlist); // a lookup runs
            renderer->playlistHandler()->prepareNext({u"uri"_s}); // and one for the next item
            if (stage > 0)
                QTRY_VERIFY(renderer->stateMachine()->isRunning());
            if (stage > 1)
                renderer->play(); // a policy request is out
            if (stage > 2)
                QTRY_COMPARE(renderer->machineState(), u"transition"_s); // a wait timer runs
            delete renderer;
            QTest::qWait(1);
        }
    }

    // A renderer from a plugin plays a store playlist through without gaps, and lets go of it when it goes
    // away, through the registry or deleted: the renderer stops and has nothing to play.
    void shouldPlayAPlaylistThroughFromAPluginAndLetGoOfIt()
    {
        QVERIFY(RovaRegistry::instance()->loadPlugin(QStringLiteral(ROVA_TEST_PLUGIN_RENDERER)));
        auto* renderer = static_cast<RovaRecordingRenderer*>(RovaRegistry::instance()->renderer(u"recording-renderer"_s));
        QVERIFY(renderer);
        renderer->confirm = true;
        QSignalSpy errors(renderer, &RovaRenderer::error);
        connect(renderer, &RovaRenderer::mediaChanged, this, [renderer](int index) { renderer->log << u"media %1"_s.arg(index); });
        connect(renderer, &RovaRenderer::playbackCompleted, this, [renderer] { renderer->log << u"completed"_s; });
        QStringListModel model(ids(u"0 1 2"_s));
        for (bool throughRegistry : {true, false}) {
            auto* playlist = new RawPlaylist(&model);
            QVERIFY(RovaInternalRegistry::internalInstance()->addPlaylist(playlist));
            renderer->log.clear();
            renderer->assignPlaylist(playlist);
            renderer->play();
            // Each item ends as an implementation ends it: into the hinted item, or at end of stream.
            for (const bool last : {false, false, true}) {
                QTRY_COMPARE(renderer->machineState(), u"playing"_s);
                settle(*renderer);
                QTRY_VERIFY(last || !renderer->hint.isEmpty());
                last ? Q_EMIT renderer->rendererEos() : Q_EMIT renderer->rendererPlaying(RovaBasicRenderer::NextUri);
                settle(*renderer);
            }
            QTRY_COMPARE(renderer->machineState(), u"pause"_s);
            QCOMPARE(renderer->log.join(u','), u"media 0,play item0.mp3,hint -,hint item1.mp3,media 1,hint -,hint item2.mp3,media 2,"
                                               "hint -,completed,pause"_s);
            if (throughRegistry)
                RovaInternalRegistry::internalInstance()->removePlaylist(playlist->id());
            else
                delete playlist;
            QTRY_COMPARE(renderer->machineState(), u"stop"_s);
            renderer->play();
            QTRY_COMPARE(errors.size(), 1);
            QCOMPARE(errors.takeFirst().first().value<RovaError>().code(), RovaError::RendererNoPlaylist);
        }
    }

    // Random commands, notifications and edits: the reported state stays sound.
    void shouldStaySoundUnderRandomUse_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u})
            QTest::addRow("seed %u", seed) << seed;
    }
    void shouldStaySoundUnderRandomUse()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        StorePlaylist items(u"0 1 2 3 4 5 6 7"_s);
        RovaRecordingRenderer renderer;
        QString reported;
        connect(&renderer, &RovaRenderer::stateChanged, &renderer, [&](RovaRenderer::State s) { reported += QString::number(int(s)); });
        renderer.assignPlaylist(&items.playlist);
        QTRY_VERIFY(renderer.stateMachine()->isRunning());
        // More often than others: a change of whether the hooks confirm themselves.
        const QStringList commands = {u"play"_s, u"url"_s, u"stop"_s, u"pause"_s, u"resume"_s, u"next"_s, u"previous"_s, u"goto2"_s,
            u"seek"_s, u"pauseAt"_s, u"eos"_s, u"playing0"_s, u"playing1"_s, u"playing2"_s, u"stopped"_s, u"paused"_s, u"resumed"_s,
            u"confirm"_s, u"confirm"_s, u"confirm"_s, u"confirm"_s, u"remove"_s, u"repeat"_s, u"shuffle"_s, u"autoOn"_s, u"autoOff"_s};
        for (int step = 0; step < 150; ++step) {
            command(renderer, commands.at(random.bounded(commands.size())));
            if (random.bounded(3) == 0)
                QTest::qWait(random.bounded(3));
            QVERIFY(renderer.stateMachine()->isRunning());
        }
        settle(renderer);
        // Hooks ran only from states whose commands call them.
        const QMap<QString, QString> allowed = {
            {u"stop"_s, u"pause pending playing transition uriPause uriPending uriPlaying"_s},
            {u"pause"_s, u"transition playing pending uriPlaying uriPending"_s},
            {u"resume"_s, u"pause pending uriPause uriPending"_s},
            {u"seek"_s, u"pause playing uriPlaying uriPause"_s}};
        QCOMPARE(renderer.from.size(), renderer.log.size());
        for (int i = 0; i < renderer.log.size(); ++i) {
            const QString hook = renderer.log.at(i).section(u' ', 0, 0);
            const QString from = renderer.from.at(i);
            QVERIFY2(!from.isEmpty() && (!allowed.contains(hook) || allowed.value(hook).split(u' ').contains(from)),
                     qPrintable(renderer.log.at(i) + u" from "_s + from));
        }
        // Only the four states are reported, each on a change only.
        QVERIFY2(!reported.contains(QRegularExpression(u"[^0-3]"_s)), qPrintable(reported));
        QVERIFY2(!reported.contains(QRegularExpression(u"(.)\\1"_s)), qPrintable(reported));
    }

    // Each row: the playlist's items, its repeat mode, the index the handler is brought to first (-1: no playlist
    // assigned), the script; then the signals, events and refused lookups, the current and the next item, and the
    // warnings ("W:") and debug messages ("D:") it causes.
    void shouldPostSignalAndLookUpAsEachScenarioNeeds_data()
    {
        QTest::addColumn<QString>("items");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QStringList>("messages");
        const QString five = u"0 1 2 3 4"_s, url0 = u"0 file:///rova/media/item0.mp3 60 0"_s, url1 = u"1 file:///rova/media/item1.mp3 61 1"_s;
        const QString url4 = u"4 file:///rova/media/item4.mp3 64 4"_s, none = u"none"_s;
        const auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        // Assignment.
        row("assign empty") << "" << 0 << -1 << "assign" << "list" << none << none << QStringList();
        row("assign, nothing current") << five << 0 << -1 << "assign" << "list item(0,0) Ready" << url0 << none << QStringList();
        row("assign at index 3, no counts stored") << five << 0 << -1 << "current 3;assign" << "list item(3,3) Ready" << "3 file:///rova/media/item3.mp3 0 0" << none << QStringList();
        row("assign null") << five << 0 << 0 << "assign null" << "list(null) item(-1)" << none << none << QStringList();
        row("assign null while the lookup is out") << five << 0 << -1 << "assign;assign null" << "list item(0,0) list(null) item(-1)" << none << none << QStringList();
        // A machine given before it runs gets what was posted meanwhile once it starts.
        row("assign before the machine runs") << five << 0 << -1 << "halt;assign;wait;start" << "list item(0,0) Ready" << url0 << none << QStringList();
        // Next and Previous at both ends, in each repeat mode (0 none, 1 one, 2 all).
        row("next") << five << 0 << 0 << "next" << "item(1,1) Ready" << url1 << none << QStringList();
        row("next at the end, none: first") << five << 0 << 4 << "next" << "item(0,0) Ready" << url0 << "" << QStringList();
        row("next at the end, all: wraps") << five << 2 << 4 << "next" << "item(0,0) Ready" << url0 << "" << QStringList();
        row("next, one: stays") << five << 1 << 4 << "next" << "Ready" << url4 << "" << QStringList();
        row("previous") << five << 0 << 4 << "previous" << "item(3,3) Ready" << "3 file:///rova/media/item3.mp3 0 0" << "" << QStringList();
        row("previous at the start, none: last") << five << 0 << 0 << "previous" << "item(4,4) Ready" << url4 << "" << QStringList();
        row("previous at the start, all: wraps") << five << 2 << 0 << "previous" << "item(4,4) Ready" << url4 << none << QStringList();
        row("previous, one: stays") << five << 1 << 0 << "previous" << "Ready" << url0 << none << QStringList();
        row("two quick nexts: only the second is looked up") << five << 0 << 0 << "next;next" << "item(1,1) item(2,2) Ready" << "2 file:///rova/media/item2.mp3 62 2" << none << QStringList{u"D:queued info, refetching!"_s};
        // The prepared next item.
        row("prepare at the end, none") << five << 0 << 4 << "prepare uri;fetch" << "Ready" << url4 << "" << QStringList();
        row("prepare at the end, all") << five << 2 << 4 << "prepare uri;fetch" << "NextReady Ready" << url4 << url0 << QStringList();
        row("prepare two keys") << five << 0 << 0 << "prepare uri,duration" << "" << url0 << "1" << QStringList{u"W:No metadata key or unsupported key(s) given"_s};
        row("prepare wrong case") << five << 0 << 0 << "prepare URI" << "" << url0 << "1" << QStringList{u"W:No metadata key or unsupported key(s) given"_s};
        row("prepare, not in the store") << u"0 absent"_s << 0 << 0 << "prepare uri;fetch" << "error(303:No query results in result set!) Stop! Ready" << url0 << "absent" << QStringList{u"W:Unable to find media to play!"_s};
        row("prepare, no url") << u"0 nourl"_s << 0 << 0 << "prepare uri;fetch" << "Ready" << url0 << "nourl" << QStringList();
        row("prepared item taken as it is") << five << 0 << 0 << "prepare uri;fetch;wait;forward 1" << "NextReady Ready" << url1 << "" << QStringList();
        row("two steps never take it") << five << 0 << 0 << "prepare uri;fetch;wait;forward 2" << "NextReady Ready" << "2" << url1 << QStringList();
        row("a backward step voids it") << five << 0 << 1 << "prepare uri;fetch;wait;back 1" << "NextReady Ready" << "0" << "" << QStringList();
        row("an item inserted after the current one comes next instead") << five << 0 << 0 << "prepare uri;fetch;wait;insert 1;forward 1" << "NextReady Ready PrepareNext" << "30" << "" << QStringList();
        // Edits of the playlist, from item 2.
        row("current removed") << five << 0 << 2 << "remove 2" << "item(2,3) Stop!" << "3" << "" << QStringList();
        row("current removed while a direct uri plays") << five << 0 << 2 << "uri;remove 2" << "item(-1,uri)" << "3" << "" << QStringList();
        row("all removed") << five << 0 << 2 << "remove 0 5" << "item(-1) Stop!" << none << "" << QStringList();
        row("removed before") << five << 0 << 2 << "remove 0" << "item(1,2) PrepareNext" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("inserted before") << five << 0 << 2 << "insert 0" << "item(3,2) PrepareNext" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("inserted after") << five << 0 << 2 << "insert 3" << "PrepareNext" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("sorted") << five << 0 << 2 << "sort" << "item(2,2) PrepareNext" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("repeat mode") << five << 0 << 2 << "repeat 2" << "RefreshNext" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("new content") << five << 0 << 2 << "reset" << "item(0,9)" << "9" << "" << QStringList();
        row("invalid update") << five << 0 << 2 << "update 7" << "" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList{u"W:Invalid RovaPlaylistUpdate value: (7)!"_s};
        // End of stream.
        row("end, auto advance, next item handed over") << five << 0 << 2 << "prepare uri;fetch;wait;eos 1" << "NextReady Ready" << "2 file:///rova/media/item2.mp3 62 2" << "3 file:///rova/media/item3.mp3 0 0" << QStringList();
        row("end, auto advance, nothing handed over: steps on") << five << 0 << 2 << "eos 1" << "Next" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("end, auto advance, next item without url: steps on") << u"0 nourl"_s << 0 << 0 << "prepare uri;fetch;wait;eos 1" << "Ready Next" << url0 << "nourl" << QStringList();
        row("end, auto advance, last item") << five << 0 << 4 << "eos 1" << "end Pause" << url4 << "" << QStringList();
        row("end, no auto advance") << five << 0 << 2 << "eos 0" << "end Pause" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        row("end, direct uri") << five << 0 << 2 << "uri;eos 1" << "end Pause" << "2 file:///rova/media/item2.mp3 62 2" << "" << QStringList();
        // Items the store cannot give a URL for.
        row("current not in the store") << u"absent"_s << 0 << -1 << "assign" << "list item(0,absent) error(303:No query results in result set!) error(303:No URL found!) Stop! Stop!" << "absent" << none << QStringList{u"W:Unable to find media to play!"_s, u"W:\"No URL found!\""_s};
        row("current without url") << u"nourl"_s << 0 << -1 << "assign" << "list item(0,nourl) error(303:No URL found!) Stop!" << "nourl" << none << QStringList{u"W:\"No URL found!\""_s};
        // Items that carry their location are ready at once, current or next; the others are looked up as ever.
        const QString web1 = u"web1 http://host/web1  "_s;
        row("assign, the item has its uri") << u"web1 web2"_s << 0 << -1 << "assign" << "list item(0,web1) Ready" << web1 << none << QStringList();
        row("prepare, the next item has its uri") << u"0 web1"_s << 0 << 0 << "prepare uri" << "NextReady" << url0 << web1 << QStringList();
        row("next onto an item with its uri, a lookup out") << u"0 web1"_s << 0 << -1 << "assign;next" << "list item(0,0) item(1,web1) Ready" << web1 << none << QStringList();
        row("next from an item with its uri, prepared") << u"web1 web2 0"_s << 0 << 0 << "prepare uri;forward 1;fetch" << "NextReady Ready" << u"web2 http://host/web2  "_s << "" << QStringList();
        row("next from an item with its uri onto a stored one") << u"web1 0"_s << 0 << 0 << "next" << "item(1,0) Ready" << url0 << none << QStringList();
        // Misuse.
        row("goto without playlist") << five << 0 << -1 << "goto 5" << "error(320:Cannot goto index 5, no playlist!) Stop!" << none << none << QStringList();
        row("step without playlist") << five << 0 << -1 << "forward 1" << "error(320:No playlist to play!)" << none << none << QStringList();
        row("fetch without playlist") << five << 0 << -1 << "fetch;eos 1" << "refused end Stop! Pause error(320:No playlist to play!)" << none << none << QStringList();
        row("announce without playlist") << five << 0 << -1 << "announce 1;announce 7" << "" << none << none << QStringList{u"W:RovaRendererPlaylistHandler::updateItemPlaying, playlist has been deleted."_s};
        row("goto past the end") << five << 0 << 0 << "goto 5;goto 2147483648;goto 4294967295" << "error(321:No media to play at index: 5!) error(321:No media to play at index: 2147483648!) error(321:No media to play at index: 4294967295!) Stop! Stop! Stop!" << url0 << none << QStringList();
        row("goto last of an empty playlist") << "" << 0 << -1 << "assign;last" << "list error(321:No media to play at index: 4294967295!) Stop!" << none << none << QStringList();
        row("4294967295 steps round 5 items") << five << 2 << 0 << "forward 4294967295" << "" << url0 << none << QStringList();
        row("4294967294 steps back round 5 items") << five << 2 << 0 << "back 4294967294" << "" << "1" << none << QStringList();
        row("4294967295 steps, none") << five << 0 << 0 << "forward 4294967295" << "" << url0 << none << QStringList();
        row("playlist deleted") << five << 0 << 0 << "delete;eos 1;fetch" << "list(null) item(-1) end refused Stop! Pause error(320:No playlist to play!)" << none << none << QStringList();
        row("fetch from an empty playlist") << "" << 0 << -1 << "assign;fetch" << "list refused Stop! error(300:Empty playlist!)" << none << none << QStringList();
    }
    void shouldPostSignalAndLookUpAsEachScenarioNeeds()
    {
        QFETCH(QString, items);
        QFETCH(int, mode);
        QFETCH(int, from);
        QFETCH(QString, script);
        QFETCH(QStringList, messages);
        Rig rig(ids(items));
        rig.playlist->setRepeat(RovaPlaylist::RovaRepeatMode(mode));
        if (from >= 0)
            QCOMPARE(rig.run(from ? u"assign;goto %1"_s.arg(from) : u"assign"_s).count(u"Ready"_s), 1);
        for (const QString& message : messages)
            QTest::ignoreMessage(message.startsWith(u"W:"_s) ? QtWarningMsg : QtDebugMsg, qPrintable(message.mid(2)));
        QTEST(rig.run(script), "log");
        QTEST(describe(rig.handler.currentContent()), "current");
        QTEST(describe(rig.handler.nextContent()), "next");
        RovaPlaylist* const playlist = rig.handler.playlist();
        const int index = playlist ? playlist->getCurrentIndex() : -1;
        QCOMPARE(rig.handler.currentItemID(), index < 0 ? QString() : playlist->getItemMediaInfo(index).uuid());
        QCOMPARE(rig.handler.currentPlaylistID(), playlist ? playlist->id() : QString());
        if (describe(rig.handler.currentContent()).contains(u' ') && !rig.handler.currentItemID().contains(u":web"_s))
            QCOMPARE(rig.handler.currentContent()->metaData().keys(), QStringList({u"duration"_s, u"play-count"_s, u"uri"_s}));
    }

    // The current item's identifier: an error at once; the next item's: a warning only. Nothing reaches the store.
    void shouldNeverQueryUnusableIdentifiers_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("no separator") << "urn:rova:media:1";
        QTest::newRow("nothing after the separator") << "src::";
        for (const QChar c : u" \t\n\u00a0<>\"{}|^`\\"_s)
            QTest::newRow(qPrintable(u"'%1'"_s.arg(c))) << u"src::urn:rova:media:1"_s + c;
        QTest::newRow("query-shaped") << "src::urn:rova:media:1> ?x ?y . <urn:rova:media:2";
        QTest::newRow("update-shaped") << "src::x> ?p ?o } ; DELETE WHERE { ?s nie:url ?u } #";
    }
    void shouldNeverQueryUnusableIdentifiers()
    {
        QFETCH(QString, item);
        QSparqlConnection store(u"QTRACKER"_s);
        const auto urls = [&store] {
            std::unique_ptr<QSparqlResult> result(store.syncExec(QSparqlQuery(u"SELECT (COUNT(?u) AS ?n) WHERE { ?s nie:url ?u }"_s)));
            return result->first() ? result->stringValue(0).toInt() : -1;
        };
        const int before = urls();
        for (int i = 0; i < 3; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Invalid uuid"_s));
        Rig rig({item, item});
        const QString log = rig.run(u"assign;prepare uri"_s);
        QVERIFY2(log.endsWith(u"error(303:Cannot look up item \"%1\": not a valid item identifier!) Stop!"_s.arg(item)), qPrintable(log));
        QSparqlResult* result = reinterpret_cast<QSparqlResult*>(1);
        QVERIFY(QMetaObject::invokeMethod(&rig.handler, "createResultSet", Q_RETURN_ARG(QSparqlResult*, result), Q_ARG(RovaMediaInfo, RovaMediaInfo(item))));
        QCOMPARE(result, nullptr);
        QVERIFY(before > 40);
        QCOMPARE(urls(), before);
    }

    void shouldReportAStoreThatCannotBeReached()
    {
        QTemporaryDir scratch;
        const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS"), database = qgetenv("QSPARQL_TRACKER_DATABASE");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(scratch.filePath(u"no-bus"_s)));
        qunsetenv("QSPARQL_TRACKER_DATABASE");
        Rig rig(ids(u"0 1"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
        const QString log = rig.run(u"assign"_s);
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        qputenv("QSPARQL_TRACKER_DATABASE", database);
        QVERIFY2(QRegularExpression(u"^list item\\(0,0\\) error\\(303:.+\\) Stop!$"_s).match(log).hasMatch(), qPrintable(log));
    }

    // Steps, jumps, edits, assignments, deletions and answers in any order: the handler's current item
    // stays the playlist's, and what the store answered is always the answered item's own.
    void shouldKeepToThePlaylistsCurrentItemWhateverHappens_data() { shouldStaySoundUnderRandomUse_data(); }
    void shouldKeepToThePlaylistsCurrentItemWhateverHappens()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        static const QStringList steps{u"next"_s, u"next"_s, u"previous"_s, u"goto"_s, u"insert"_s, u"remove"_s, u"sort"_s, u"shuffle"_s,
            u"repeat"_s, u"prepare uri"_s, u"announce 2"_s, u"events"_s, u"wait"_s, u"assign"_s, u"delete"_s, u"fetch"_s};
        Rig rig(ids(u"0 1 2 3 4 5 6 7 8 9"_s));
        rig.perform(u"assign"_s, QString());
        for (int step = 0; step < 500; ++step) {
            const QString word = steps.at(random.bounded(steps.size()));
            const int rows = rig.model.rowCount();
            if (!rig.playlist && word != u"events"_s && word != u"wait"_s)
                rig.playlist.reset(new RawPlaylist(&rig.model));
            if (word == u"goto"_s) {
                rig.perform(word, QString::number(uint(random.bounded(-2, rows + 2))));
            } else if (word == u"insert"_s) {
                rig.perform(word, u"%1 %2"_s.arg(rows).arg(random.bounded(40)));
                rig.model.moveRows({}, rows, 1, {}, random.bounded(rows + 1));
            } else if (word == u"remove"_s || word == u"sort"_s || word == u"shuffle"_s || word == u"repeat"_s) {
                rig.perform(word, QString::number(random.bounded(word == u"remove"_s ? qMax(rows, 1) : word == u"repeat"_s ? 3 : 2)));
            } else if (word == u"assign"_s) {
                rig.perform(word, random.bounded(4) ? QString() : u"null"_s);
            } else if (word != u"delete"_s || random.bounded(4) == 0) {
                rig.perform(word.section(u' ', 0, 0), word.section(u' ', 1));
            }
            RovaPlaylist* const now = rig.handler.playlist();
            const int current = now ? now->getCurrentIndex() : -1;
            QCOMPARE(rig.handler.currentItemID(), current < 0 ? QString() : now->getItemMediaInfo(current).uuid());
            QVERIFY(hasOwnUrl(rig.handler.currentContent()));
            QVERIFY(hasOwnUrl(rig.handler.nextContent()));
        }
        // In the end the current item's own URL arrives.
        QCoreApplication::processEvents(); // errors still waiting to be told
        rig.run(u"assign"_s);
        QVERIFY(!rig.handler.hasContent() || (rig.handler.currentContent()->isPlayable() && hasOwnUrl(rig.handler.currentContent())));
    }
};

QTEST_GUILESS_MAIN(tst_RovaBasicRenderer)
#include "tst_rovabasicrenderer.moc"
