// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarecordingrenderer.h"
#include "rovatrackerfixture.h"

#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovarendererevent.h>
#include <rovarendererplaylisthandler.h>
#include <rovarendererpolicyplugin.h>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Items 0..n-1 of the seeded store, through a general source playlist.
struct StorePlaylist
{
    explicit StorePlaylist(int count)
    {
        QStringList ids;
        for (int i = 0; i < count; ++i)
            ids << RovaTrackerFixture::item(i).objectId;
        model.setStringList(ids);
        playlist.setUnderlyingModel(&model);
    }
    QStringListModel model;
    RovaGeneralSourcePlaylist playlist{RovaPlaylist::getNewPlaylistId(), u"store"_s, u"src"_s};
};

// Grants every request at once, so that commands reach the machine within the call.
struct InstantPolicy : RovaRendererPolicy
{
    bool initialize(PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<PolicyResourceFlag>) override {}
    void request(QFlags<PolicyResourceFlag>) override { Q_EMIT policyEvent(ResourcesGranted); }
    void release(QFlags<PolicyResourceFlag>) override {}
};

class StatusReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers;
public Q_SLOTS:
    void statusResults(QString playlistId, uint index, int state, QString itemId)
    {
        answers << u"%1 %2 %3 %4"_s.arg(playlistId.isEmpty() ? u"-"_s : u"pl"_s).arg(index).arg(state).arg(itemId);
    }
};

} // namespace

class tst_RovaBasicRenderer : public QObject
{
    Q_OBJECT
    std::unique_ptr<RovaTrackerFixture> store;

    // Drives the machine until every command and lookup has been handled. A
    // lookup started and answered within one round posts its event behind the
    // marker: only a second quiet round shows that all is done.
    static void settle(RovaRecordingRenderer& renderer)
    {
        for (int quiet = 0; quiet < 2;) {
            QTRY_VERIFY(!renderer.playlistHandler()->metadataFetchOngoing());
            const int taken = renderer.markersTaken;
            renderer.postMarker();
            QTRY_VERIFY(renderer.markersTaken > taken);
            quiet = renderer.playlistHandler()->metadataFetchOngoing() ? 0 : quiet + 1;
        }
    }

    // Gives the commands and notifications of \a script one after the other;
    // those joined by '+' at once.
    static void run(RovaRecordingRenderer& renderer, const QString& script)
    {
        for (const QString& step : script.split(u',', Qt::SkipEmptyParts)) {
            for (const QString& name : step.split(u'+'))
                command(renderer, name);
            settle(renderer);
        }
    }

    // A renderer on a three-item playlist whose current item 0 is looked up,
    // granted at once, without auto-advance, brought to \a state.
    static void reach(RovaRecordingRenderer& renderer, StorePlaylist& items, const QString& state)
    {
        static const QHash<QString, QString> ways{{u"transition"_s, u"play"_s}, {u"playing"_s, u"play,playing1"_s},
            {u"pause"_s, u"play,playing1,pause,paused"_s}, {u"pending"_s, u"play,playing1,stop"_s}, {u"uriPending"_s, u"url"_s},
            {u"uriPlaying"_s, u"url,playing1"_s}, {u"uriPause"_s, u"url,playing1,pause,paused"_s}};
        renderer.setRendererPolicy(new InstantPolicy, RovaRendererPolicy::DefaultGroup);
        renderer.setRovaProperty(u"rova_auto_advance"_s, false);
        QTRY_VERIFY(renderer.stateMachine()->isRunning());
        renderer.assignPlaylist(&items.playlist);
        settle(renderer);
        run(renderer, ways.value(state));
        QCOMPARE(renderer.machineState(), state);
        renderer.log.clear();
    }

    static void command(RovaRecordingRenderer& renderer, const QString& name)
    {
        if (name == u"play") renderer.play();
        else if (name == u"url") renderer.play(QUrl(u"file:///tmp/x.ogg"_s));
        else if (name == u"stop") renderer.stop();
        else if (name == u"pause") renderer.pause();
        else if (name == u"resume") renderer.resume();
        else if (name == u"next") renderer.next();
        else if (name == u"previous") renderer.previous();
        else if (name == u"goto2") renderer.gotoIndex(2);
        else if (name == u"seek") renderer.setPosition(7);
        else if (name == u"seekBack") renderer.setPosition(-5, RovaRenderer::SeekMode(7));
        else if (name == u"emptyUrl") renderer.play(QUrl());
        else if (name == u"pauseAt") renderer.pauseAt(5);
        else if (name == u"eos") Q_EMIT renderer.rendererEos();
        else if (name == u"ready") renderer.stateMachine()->postEvent(new RovaRendererEvent(RovaRendererEvent::MetadataReady));
        else if (name.startsWith(u"playing")) Q_EMIT renderer.rendererPlaying(name.back().digitValue());
        else if (name == u"resumed") Q_EMIT renderer.rendererResumed();
        else if (name == u"paused") Q_EMIT renderer.rendererPaused();
        else if (name == u"stopped") Q_EMIT renderer.rendererStopped();
        else QFAIL("unknown command");
    }

private Q_SLOTS:
    void initTestCase()
    {
        store = std::make_unique<RovaTrackerFixture>(12);
        QVERIFY2(store->isValid(), qPrintable(store->errorString()));
        store->makeDefault();
    }

    void init()
    {
        // Random use draws the warnings that misuse deserves.
        if (qstrcmp(QTest::currentTestFunction(), "shouldStaySoundUnderRandomUse") != 0)
            QTest::failOnWarning(QRegularExpression(u".*"_s));
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
            {"pause", ">stop", ">pause", "pause>pending", "pause>pending", "pause>pending", "pause>uriPending", ">uriPause", "pause>uriPending"},
            {"resume", ">stop", "resume>pending", ">transition", ">playing", "resume>pending", ">uriPlaying", "resume>uriPending", "resume>uriPending"},
            {"next", "media 1>stop", "media 1,stop>pending", "media 1,play item1.mp3>pending", "media 1,play item1.mp3>pending", "media 1,play item1.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"previous", "media 2>stop", "media 2,stop>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"goto2", "media 2>stop", "media 2,stop>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", "media 2,play item2.mp3>pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"seek", ">stop", "seek 7,0>pause", ">transition", "seek 7,0>playing", ">pending", "seek 7,0>uriPlaying", "seek 7,0>uriPause", ">uriPending"},
            {"pauseAt", "play item0.mp3@5>transition", "play item0.mp3@5>transition", "play item0.mp3@5>transition", ">playing", ">pending", ">uriPlaying", ">uriPause", ">uriPending"},
            {"eos", ">stop", ">pause", ">transition", "pause>pending", "pause>pending", "pause>uriPending", ">uriPause", "pause>uriPending"},
            // After a step the idle states stay where they were, and play the new item.
            {"next,play", "media 1,play item1.mp3>transition", "media 1,stop,play item1.mp3>transition", nullptr},
            {"eos,eos,goto2,play", "media 2,play item2.mp3>transition", nullptr},
            // Values out of range pass through to the implementation untouched.
            {"seekBack", ">stop", "seek -5,7>pause", nullptr},
            {"emptyUrl", "play >uriPending", nullptr},
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
        };
        for (const auto& row : table) {
            for (int column = 0; column < states.size() && row[column + 1]; ++column) {
                QTest::addRow("%s in %s", row[0], qPrintable(states.at(column)))
                    << states.at(column) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[column + 1]);
            }
        }
    }

    void shouldCarryOutCommandsByState()
    {
        QFETCH(QString, state);
        QFETCH(QString, commands);
        StorePlaylist items(3);
        RovaRecordingRenderer renderer;
        QSignalSpy reports(&renderer, &RovaRenderer::stateChanged);
        reach(renderer, items, state);
        connect(&renderer, &RovaRenderer::mediaChanged, this, [&renderer](int index) { renderer.log << u"media %1"_s.arg(index); });

        run(renderer, commands);
        QTEST(QString(renderer.log.join(u',') + u'>' + renderer.machineState()), "expected");
        QVERIFY(renderer.stateMachine()->isRunning());
        // Each state reports itself; the pending states report nothing.
        const QHash<QString, int> own{{u"stop"_s, 0}, {u"playing"_s, 1}, {u"uriPlaying"_s, 1}, {u"pause"_s, 2}, {u"uriPause"_s, 2}, {u"transition"_s, 3}};
        if (own.contains(renderer.machineState()))
            QCOMPARE(reports.last().at(0).toInt(), own.value(renderer.machineState()));
        // A pause-at position is used once.
        QVERIFY(!renderer.playlistHandler()->currentContent()->metaData().contains(u"paused-position"_s));
    }

    // Commands given right after construction wait for the machine and keep their order.
    void shouldKeepCommandsGivenBeforeTheMachineRuns()
    {
        StorePlaylist items(3);
        RovaRecordingRenderer renderer;
        renderer.confirm = true;
        QSignalSpy states(&renderer, &RovaRenderer::stateChanged);
        renderer.assignPlaylist(&items.playlist);
        renderer.gotoIndex(1);
        renderer.pauseAt(4);
        QTRY_COMPARE(renderer.machineState(), u"pause"_s);
        settle(renderer);
        QCOMPARE(renderer.log.filter(u"play"_s), QStringList{u"play item1.mp3@4"_s});
        QCOMPARE(states.first().first().value<RovaRenderer::State>(), RovaRenderer::Stopped);
        QCOMPARE(states.last().first().value<RovaRenderer::State>(), RovaRenderer::Paused);
    }

    void shouldAnswerStatusRequests()
    {
        StorePlaylist items(3);
        auto* receiver = new StatusReceiver;
        auto* gone = new StatusReceiver;
        const char* const fit = SLOT(statusResults(QString, uint, int, QString));
        {
            RovaRecordingRenderer renderer;
            QSignalSpy errors(&renderer, &RovaRenderer::error);
            QByteArray slot(fit);
            QVERIFY(renderer.getStatus(receiver, slot.constData()));
            slot.fill('x'); // the caller's string may go away
            QVERIFY(renderer.getStatus(receiver, fit));
            QVERIFY(renderer.getStatus(gone, fit));
            delete gone;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"statusResults\\(int\\)"_s));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"statusResults\\(int\\)"_s));
            QVERIFY(!renderer.getStatus(receiver, SLOT(statusResults(int))));
            QCOMPARE(errors.takeFirst().first().value<RovaError>().code(), RovaError::CallbackSlotNotFound);

            // Before the first state is entered, the state is 100.
            QTest::ignoreMessage(QtWarningMsg, "RovaRenderer: \"Answering get status failed!\"");
            QTRY_COMPARE(receiver->answers, QStringList(2, u"- 0 100 "_s));
            QCOMPARE(errors.size(), 1);
            QCOMPARE(errors.first().first().value<RovaError>().code(), RovaError::CallbackCouldNotBeInvoked);

            reach(renderer, items, u"playing"_s);
            run(renderer, u"goto2,playing1"_s);
            QVERIFY(renderer.getStatus(receiver, fit));
            QTRY_COMPARE(receiver->answers.size(), 3);
            QCOMPARE(receiver->answers.last(), u"pl 2 1 src::"_s + RovaTrackerFixture::item(2).objectId);
            QVERIFY(renderer.getStatus(receiver, fit));
        }
        QTest::qWait(1); // the renderer went first: its pending answer must not come
        QCOMPARE(receiver->answers.size(), 3);
        delete receiver;
    }

    void shouldGuardPropertiesAndInstallOnlyUsablePolicies()
    {
        StorePlaylist items(4);
        RovaRecordingRenderer renderer;
        RovaRendererPolicy* dummy = renderer.rendererPolicy();
        QVERIFY(dummy);
        const char* refused = "unable to set policy, got null policy or init failed";
        QTest::ignoreMessage(QtWarningMsg, refused);
        QVERIFY(!renderer.setRendererPolicy(nullptr, RovaRendererPolicy::PlayerGroup));
        QTest::ignoreMessage(QtWarningMsg, refused);
        QVERIFY(!renderer.setRendererPolicy(dummy, RovaRendererPolicy::PlayerGroup));
        QVERIFY(dummy->initialize(RovaRendererPolicy::DefaultGroup)); // still alive
        // Files that give no policy: the loader's warning, then the refusal.
        const bool noDefault = !QFileInfo::exists(RovaRendererPolicyPlugin::defaultPolicyPluginPath());
        for (const QString& path : {u"/nonexistent/policy.so"_s, QStringLiteral(ROVA_TEST_PLUGIN_GOOD), QString()}) {
            if (path.isEmpty() && !noDefault)
                break;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
            QTest::ignoreMessage(QtWarningMsg, refused);
            QVERIFY(!(path.isEmpty() ? renderer.setDefaultRendererPolicy()
                                     : renderer.setRendererPolicy(path, RovaRendererPolicy::PlayerGroup)));
        }
        QCOMPARE(renderer.rendererPolicy(), dummy);

        reach(renderer, items, u"playing"_s);
        QSignalSpy changes(&renderer, &RovaRenderer::rovaPropertyChanged);
        QTest::ignoreMessage(QtWarningMsg, "Read-only property: \"rova_policy_override\"");
        QVERIFY(!renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE, true));
        QVERIFY(!renderer.property("rova_policy_override").isValid());
        QVERIFY(renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true));
        settle(renderer);
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
        QStringList seen;
        for (const QVariantList& change : std::as_const(changes))
            seen << change.at(0).toString() + u'=' + change.at(1).toString();
        QCOMPARE(seen.join(u' '), u"rova_auto_advance=true rova_auto_advance=false rova_policy_override=true "
                                  "rova_policy_override=false"_s);
    }

    // Deleting a renderer in the middle of things leaves nothing behind that fires.
    void shouldDestroyCleanlyMidCommand()
    {
        StorePlaylist items(3);
        for (int stage = 0; stage < 4; ++stage) {
            auto* renderer = new RovaRecordingRenderer;
            renderer->assignPlaylist(&items.playlist); // a lookup runs
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

    // A renderer from a plugin plays a store playlist through without gaps and
    // follows the playlist while it plays.
    void shouldPlayAPlaylistThroughFromAPlugin()
    {
        QVERIFY(RovaRegistry::instance()->loadPlugin(QStringLiteral(ROVA_TEST_PLUGIN_RENDERER)));
        auto* renderer = static_cast<RovaRecordingRenderer*>(RovaRegistry::instance()->renderer(u"recording-renderer"_s));
        QVERIFY(renderer);
        renderer->confirm = true;
        StorePlaylist items(3);
        connect(renderer, &RovaRenderer::mediaChanged, this, [renderer](int index) { renderer->log << u"media %1"_s.arg(index); });
        connect(renderer, &RovaRenderer::playbackCompleted, this, [renderer] { renderer->log << u"completed"_s; });
        // Each item ends as an implementation ends it: into the hinted item, or at end of stream.
        const auto finish = [&]() {
            QTRY_COMPARE(renderer->machineState(), u"playing"_s);
            settle(*renderer);
            QTRY_VERIFY(items.playlist.getNext(items.playlist.getCurrentIndex()) < 0 || !renderer->hint.isEmpty());
            if (renderer->hint.isEmpty())
                Q_EMIT renderer->rendererEos();
            else
                Q_EMIT renderer->rendererPlaying(RovaBasicRenderer::NextUri);
            settle(*renderer);
        };

        renderer->assignPlaylist(&items.playlist);
        renderer->play();
        for (int i = 0; i < 3; ++i)
            finish();
        QTRY_COMPARE(renderer->machineState(), u"pause"_s);
        QCOMPARE(renderer->log.join(u','), u"media 0,play item0.mp3,hint -,hint item1.mp3,media 1,hint -,hint item2.mp3,media 2,"
                                           "hint -,completed,pause"_s);

        // Under RepeatAll the first item follows the last one.
        items.playlist.setRepeat(RovaPlaylist::RepeatAll);
        QTRY_COMPARE(renderer->hint, u"item0.mp3"_s);
        renderer->log.clear();
        renderer->resume();
        finish();
        QCOMPARE(renderer->log.mid(0, 3).join(u','), u"resume,media 0,hint -"_s);

        // Shuffling while playing hints the item that now follows.
        items.playlist.shuffle();
        settle(*renderer);
        const QString next = items.playlist.getItemMediaInfo(items.playlist.getNext(items.playlist.getCurrentIndex())).uuid();
        QTRY_COMPARE(renderer->hint, u"item%1.mp3"_s.arg(next.section(u':', -1)));

        // Removing the playing item stops it; the item now current is announced.
        renderer->log.clear();
        QVERIFY(items.playlist.removeItem(items.playlist.getCurrentIndex()));
        QTRY_COMPARE(renderer->machineState(), u"stop"_s);
        QCOMPARE(renderer->log.join(u','), u"media %1,stop"_s.arg(items.playlist.getCurrentIndex()));
        renderer->assignPlaylist(nullptr);
        settle(*renderer);
    }

    // A playlist that goes away while it plays, through the registry or deleted,
    // is let go: the renderer stops and has nothing to play.
    void shouldLetGoOfAPlaylistThatGoes()
    {
        QStringListModel model({RovaTrackerFixture::item(0).objectId});
        RovaRecordingRenderer renderer;
        renderer.confirm = true;
        QSignalSpy errors(&renderer, &RovaRenderer::error);
        auto* registry = RovaInternalRegistry::internalInstance();
        for (bool throughRegistry : {true, false}) {
            auto* playlist = new RovaGeneralSourcePlaylist(RovaPlaylist::getNewPlaylistId(), u"gone"_s, u"src"_s);
            playlist->setUnderlyingModel(&model);
            QVERIFY(registry->addPlaylist(playlist));
            renderer.assignPlaylist(playlist);
            renderer.play();
            QTRY_COMPARE(renderer.machineState(), u"playing"_s);
            if (throughRegistry)
                registry->removePlaylist(playlist->id());
            else
                delete playlist;
            QTRY_COMPARE(renderer.machineState(), u"stop"_s);
            QCOMPARE(renderer.playlistHandler()->currentPlaylistID(), QString());
            renderer.play();
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
        StorePlaylist items(6);
        RovaRecordingRenderer renderer;
        QList<int> reported;
        connect(&renderer, &RovaRenderer::stateChanged, &renderer, [&](RovaRenderer::State s) { reported << int(s); });
        renderer.assignPlaylist(&items.playlist);
        QTRY_VERIFY(renderer.stateMachine()->isRunning());
        const QStringList commands = {u"play"_s, u"url"_s, u"stop"_s, u"pause"_s, u"resume"_s, u"next"_s,
                                      u"previous"_s, u"goto2"_s, u"seek"_s, u"pauseAt"_s, u"eos"_s};
        for (int step = 0; step < 150; ++step) {
            const int what = random.bounded(20);
            if (what < 11) {
                command(renderer, commands.at(what));
            } else if (what < 15) {
                renderer.confirm = !renderer.confirm;
            } else if (what == 15) {
                Q_EMIT renderer.rendererPlaying(random.bounded(3));
            } else if (what == 16) {
                Q_EMIT renderer.rendererStopped();
            } else if (what == 17) {
                items.playlist.removeItem(random.bounded(qMax(1, items.playlist.size())));
            } else if (what == 18) {
                items.playlist.setRepeat(RovaPlaylist::RovaRepeatMode(random.bounded(3)));
                random.bounded(2) ? items.playlist.shuffle() : items.playlist.unShuffle();
            } else {
                renderer.setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, bool(random.bounded(2)));
            }
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
        for (int i = 0; i < reported.size(); ++i) {
            QVERIFY(reported.at(i) >= RovaRenderer::Stopped && reported.at(i) <= RovaRenderer::Transitioning);
            QVERIFY(i == 0 || reported.at(i) != reported.at(i - 1));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RovaBasicRenderer)
#include "tst_rovabasicrenderer.moc"
