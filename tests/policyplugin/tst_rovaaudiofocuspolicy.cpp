// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarecordingrenderer.h"
#include "rovatrackerfixture.h"

#include <rovaplaylistbase.h>
#include <rovarendererplaylisthandler.h>
#include <rovarendererpolicyplugin.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;
using Policy = std::unique_ptr<RovaRendererPolicy>;

static const QString pluginFile = qEnvironmentVariable("QROVA_PLUGIN_DIR") + u"/policy/libqrova-tarsi-renderer-policy-plugin.so"_s;

static Policy load(int group = RovaRendererPolicy::PlayerGroup)
{
    Policy policy(RovaRendererPolicyPlugin::loadPolicy(pluginFile));
    return policy && policy->initialize(RovaRendererPolicy::PolicyGroup(group)) ? std::move(policy) : nullptr;
}

static QDBusConnectionInterface* observer() { return QDBusConnection(u"observer"_s).interface(); }
static QString owner() { return observer()->serviceOwner(u"org.qrova.AudioFocus"_s).value(); }

// The events a policy reported, e.g. "0,3".
static QString events(const QSignalSpy& spy)
{
    QStringList list;
    for (const QList<QVariant>& arguments : spy)
        list << QString::number(arguments.at(0).toInt());
    return list.join(u',');
}

static void startChild(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); // dies with the test
    process.start(program, arguments);
}

// Reads \a process until its output from \a from on contains \a text (a terminal
// player writes its status line twice a second); whether it came.
[[maybe_unused]] static bool waitFor(QProcess& process, QString& output, const QString& text, qsizetype from = 0)
{
    const QDeadlineTimer deadline(120000);
    while (output.indexOf(text, from) < 0 && !deadline.hasExpired() && process.waitForReadyRead(60000))
        output += QString::fromLocal8Bit(process.readAll());
    return output.indexOf(text, from) >= 0;
}

// Items of the store, by their identifiers.
struct StorePlaylist : RovaPlaylistBase
{
    explicit StorePlaylist(QAbstractItemModel* model) : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), u"test"_s)
    {
        setUnderlyingModel(model);
    }
    RovaMediaInfo getItemMediaInfo(int index) override { return RovaMediaInfo(model()->index(index, 0).data().toString()); }
};

// Until every command, lookup and confirmation of \a renderer has been handled.
static void settle(RovaRecordingRenderer& renderer)
{
    for (int quiet = 0; quiet < 2;) {
        QVERIFY(QTest::qWaitFor([&] { return !renderer.playlistHandler()->metadataFetchOngoing(); }));
        const int taken = renderer.markersTaken;
        renderer.postMarker();
        QVERIFY(QTest::qWaitFor([&] { return renderer.markersTaken > taken; }));
        quiet = renderer.playlistHandler()->metadataFetchOngoing() ? 0 : quiet + 1;
    }
}

class tst_RovaAudioFocusPolicy : public QObject
{
    Q_OBJECT

    QProcess bus;
    QTemporaryDir dir;

private Q_SLOTS:
    // Each case on a session bus of its own.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        startChild(bus, u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY2(bus.waitForReadyRead(20000), "dbus-daemon gave no address");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        QVERIFY(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"observer"_s).isConnected());
    }

    void cleanup()
    {
        QDBusConnection::disconnectFromBus(u"observer"_s);
        bus.close();
    }

    // The focus moves to the latest audio request and back to nobody when released or deleted; without a bus, every request is granted.
    void shouldMoveTheFocusGiveItBackAndGrantWithoutABus()
    {
        RovaRecordingRenderer renderer;
        QSignalSpy stopped(&renderer, &RovaRenderer::stateChanged);
        QVERIFY(renderer.setDefaultRendererPolicy());
        QVERIFY(stopped.wait()); // the first stop releases the resources, before anyone asked
        RovaRendererPolicy* first = renderer.rendererPolicy();
        QTest::ignoreMessage(QtWarningMsg, "RovaAudioFocusPolicy: unknown policy group 7");
        QVERIFY(!load(7));
        Policy second = load(), background = load(RovaRendererPolicy::DefaultGroup), video = load();
        QSignalSpy firstEvents(first, &RovaRendererPolicy::policyEvent), secondEvents(second.get(), &RovaRendererPolicy::policyEvent);
        QSignalSpy backgroundEvents(background.get(), &RovaRendererPolicy::policyEvent), videoEvents(video.get(), &RovaRendererPolicy::policyEvent);
        first->request({});
        QCOMPARE(firstEvents.count(), 0); // never within the call
        QTRY_COMPARE(events(firstEvents), u"0"_s);
        const QString holder = owner();
        background->request({});
        video->request(RovaRendererPolicy::VideoResource);
        QTRY_COMPARE(events(backgroundEvents) + events(videoEvents), u"00"_s);
        QCOMPARE(owner(), holder);
        // In quick succession; the policy's own release pauses nothing.
        second->request({});
        second->request({});
        second->release({});
        second->request({});
        QTRY_COMPARE(events(firstEvents) + u'|' + events(secondEvents), u"0,3|0,0,0"_s);
        QVERIFY(renderer.property("rova_policy_override").toBool());
        first->request({});
        QTRY_COMPARE(events(firstEvents) + u'|' + events(secondEvents), u"0,3,0|0,0,0,3"_s);
        first->release({});
        QTRY_VERIFY(owner().isEmpty());
        second->request({});
        QTRY_COMPARE(events(firstEvents) + u'|' + events(secondEvents), u"0,3,0|0,0,0,3,0"_s);
        second.reset();
        QTRY_VERIFY(owner().isEmpty());
        // A request may still go out before the connection notices that the bus has gone.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^RovaAudioFocusPolicy: the session bus (has gone away|refused \"org\\.qrova\\.AudioFocus\": .+); every request is granted$"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^RovaAudioFocusPolicy: no session bus \\(.+\\); every request is granted$"_s));
        bus.close();
        Policy alone = load();
        QSignalSpy aloneEvents(alone.get(), &RovaRendererPolicy::policyEvent);
        for (RovaRendererPolicy* policy : {first, first, alone.get(), alone.get()})
            policy->request({});
        QTRY_COMPARE(events(firstEvents) + u'|' + events(aloneEvents), u"0,3,0,0,0|0,0"_s);
    }

    // Two players started together, each while its first item is still looked up: exactly one plays. The
    // policy grants the loser's request before it asks it to pause, and the pause holds although the answer
    // of its lookup comes later.
    void shouldPlayExactlyOneOfTwoPlayersStartedTogether()
    {
        RovaTrackerFixture store(1);
        QVERIFY2(store.isValid(), qPrintable(store.errorString()));
        store.makeDefault();
        QStringListModel model({u"src::"_s + RovaTrackerFixture::item(0).objectId});
        StorePlaylist playlist(&model);
        for (int trial = 0; trial < 20; ++trial) {
            RovaRecordingRenderer players[2];
            std::unique_ptr<QSignalSpy> demands[2];
            for (RovaRecordingRenderer& player : players) {
                QVERIFY(player.setDefaultRendererPolicy());
                player.confirm = true;
                demands[&player - players] = std::make_unique<QSignalSpy>(player.rendererPolicy(), &RovaRendererPolicy::policyEvent);
            }
            for (RovaRecordingRenderer& player : players)
                player.assignPlaylist(&playlist), player.play();
            const auto said = [&](RovaRecordingRenderer& player) { return QString(player.machineState() + u' ' + events(*demands[&player - players])); };
            QVERIFY2(QTest::qWaitFor([&] { return said(players[0]).contains(u'3') || said(players[1]).contains(u'3'); }),
                     qPrintable(said(players[0]) + u'|' + said(players[1])));
            for (RovaRecordingRenderer& player : players)
                settle(player);
            QStringList outcome = {said(players[0]), said(players[1])};
            outcome.sort();
            QCOMPARE(outcome.join(u'|'), u"pause 0,3|playing 0"_s);
        }
    }

    // Two players in real time: the second pauses the first, which says so; the first takes the focus back
    // with a key and the second says so. A third, in the background, plays alongside and takes it from neither.
    void shouldPauseTheFirstPlayerWhenASecondStarts()
    {
#ifndef QROVA_PLAY
        QSKIP("qrova-play and its plugins are not built");
#else
        if (!QFile::exists(u"/dev/pts/ptmx"_s)) // the first player runs on a pseudo-terminal, to take keys
            QSKIP("no pseudo-terminals here (/dev/pts), so no player can take keys");
        QVERIFY(QDir().mkpath(dir.filePath(u"plugins/policy"_s)));
        for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN), pluginFile})
            QVERIFY(QFile::copy(plugin, dir.filePath(u"plugins/"_s + (plugin == pluginFile ? u"policy/"_s : QString()) + QFileInfo(plugin).fileName())));
        const QString tone = dir.filePath(u"tone.flac"_s);
        QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, u"-q audiotestsrc num-buffers=120 samplesperbuffer=44100 ! flacenc ! filesink"_s.split(u' ') << u"location="_s + tone), 0);
        qputenv("QROVA_PLUGIN_DIR", QFile::encodeName(dir.filePath(u"plugins"_s)));
        QProcess players[3]; // each with a store of its own
        QString out[3];
        const auto holds = [](const QProcess& player) { return observer()->servicePid(u"org.qrova.AudioFocus"_s).value() == uint(player.processId()); };
        for (int i : {0, 1, 2}) {
            qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(u"cache%1"_s.arg(i))));
            if (i == 0)
                startChild(players[0], u"script"_s, {u"-qfec"_s, QStringLiteral(QROVA_PLAY " --audio-sink 'fakesink sync=true' ") + tone, u"/dev/null"_s});
            else
                startChild(players[i], QStringLiteral(QROVA_PLAY), {u"--audio-sink"_s, u"fakesink sync=true"_s, i == 2 ? u"--background"_s : u"--repeat=none"_s, tone});
            QVERIFY2(waitFor(players[i], out[i], i == 0 ? u"playing"_s : u"Playing 1/1"_s), qPrintable(out[i].right(3000)));
            QVERIFY2(i != 1 || waitFor(players[0], out[0], u"paused by another player"_s), qPrintable(out[0].right(3000)));
        }
        // Once the background player plays (its request answered), the second still holds the focus.
        QTRY_COMPARE(QDBusInterface(u"org.mpris.MediaPlayer2.qrova.instance%1"_s.arg(players[2].processId()), u"/org/mpris/MediaPlayer2"_s,
                                    u"org.mpris.MediaPlayer2.Player"_s, QDBusConnection(u"observer"_s)).property("PlaybackStatus").toString(), u"Playing"_s);
        QVERIFY(holds(players[1]));
        players[0].write(" ");
        QVERIFY2(waitFor(players[0], out[0], u"playing"_s, out[0].lastIndexOf(u"paused by another player"_s)), qPrintable(out[0].right(3000)));
        QVERIFY2(waitFor(players[1], out[1], u"\npaused by another player\n"_s), qPrintable(out[1]));
        QVERIFY(!holds(players[1]) && !holds(players[2]));
        players[0].write("q");
        QVERIFY(players[0].waitForFinished(60000));
        QTRY_VERIFY(owner().isEmpty()); // neither the paused one nor the background one holds it
        QCOMPARE(players[2].state(), QProcess::Running);
        players[1].close();
        players[2].close();
#endif
    }
};

QTEST_GUILESS_MAIN(tst_RovaAudioFocusPolicy)
#include "tst_rovaaudiofocuspolicy.moc"
