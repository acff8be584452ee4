// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play end to end: its command line, and its desktop control driven by
// playerctl over a private session bus.
#include "rovawavgaps.h"

#include <QDBusConnection>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

static const QString OBJECT = u"/org/mpris/MediaPlayer2"_s;

class tst_QrovaPlay : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QProcess bus;
    QProcess player;
    QString address;
    QString output; // what the player printed so far
    QList<qlonglong> seeked;
    QStringList changes; // "Name=value" of each property announced as changed
    QList<RovaTone> tones;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString tone(int item) const { return path(item == 3 ? u"music/more/t3.flac"_s : u"music/t%1.flac"_s.arg(item)); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(u"plugins"_s));
        env.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        return env;
    }

    // Runs \a program to its end on the private bus; its output and errors.
    QString run(const QString& program, const QStringList& args, const QProcessEnvironment& env = {}, int* exitCode = nullptr) const
    {
        QProcess process;
        process.setProcessEnvironment(env.isEmpty() ? environment() : env);
        process.start(program, args);
        const bool finished = process.waitForFinished(120000);
        if (exitCode)
            *exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
    }
    // qrova-play without a session bus and with a store of its own.
    QString cli(const QStringList& args, const QString& plugins = u"plugins"_s, int* exitCode = nullptr) const
    {
        QProcessEnvironment env = environment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        env.insert(u"XDG_CACHE_HOME"_s, path(u"alone"_s));
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(plugins));
        return run(QStringLiteral(QROVA_PLAY), args, env, exitCode);
    }
    QString ctl(const QStringList& args) const { return run(u"playerctl"_s, QStringList{u"-p"_s, u"qrova"_s} + args); }
    QString call(const QString& method, const QStringList& args) const
    {
        return run(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, address, u"--dest"_s, u"org.mpris.MediaPlayer2.qrova"_s,
                                           u"--object-path"_s, u"/org/mpris/MediaPlayer2"_s, u"--method"_s, method} + args);
    }

    // The number of the item the player last said it plays, and how many it announced.
    std::pair<int, int> played()
    {
        output += QString::fromUtf8(player.readAllStandardOutput());
        static const QRegularExpression line(u"Playing (\\d)/3"_s);
        int item = 0, count = 0;
        for (auto it = line.globalMatch(output); it.hasNext(); ++count)
            item = it.next().captured(1).toInt();
        return {item, count};
    }

    // playerctl's view of the current item, and what it should be after the player's own word.
    std::pair<QString, QString> metadata()
    {
        const int item = played().first;
        return {ctl({u"metadata"_s, u"--format"_s, u"{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{mpris:length}}|{{xesam:url}}|{{mpris:trackid}}"_s}),
                u"Tone-%1|Band|Tones|%2|%3|'/org/qrova/track/%4'"_s.arg(item).arg((item + 3) * 1000000)
                    .arg(QString::fromUtf8(QUrl::fromLocalFile(tone(item)).toEncoded())).arg(item - 1)};
    }

    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }
    bool reaches(const QString& status) { return waitFor([&] { return ctl({u"status"_s}) == status; }); }

private Q_SLOTS:
    void seekedSignal(qlonglong position) { seeked.append(position); }
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
    {
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            changes.append(it.key() + u'=' + it.value().toString());
    }

    void initTestCase()
    {
        QVERIFY(QDir().mkpath(path(u"music/more"_s)) && QDir().mkpath(path(u"plugins"_s)) && QDir().mkpath(path(u"empty"_s)));
        for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN)})
            QVERIFY(QFile::copy(plugin, path(u"plugins/"_s + QFileInfo(plugin).fileName())));
        // Tones of 4, 5 and 6 s, long enough to be steered while they play; the last in a folder of its own.
        for (int i = 1; i <= 3; ++i) {
            const int buffers = (3 + i) * 44100 / 1024 + 1;
            tones.append({220.0 * i, qint64(buffers) * 1024});
            QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s,
                {u"-q"_s, u"audiotestsrc"_s, u"freq=%1"_s.arg(220 * i), u"num-buffers=%1"_s.arg(buffers),
                 u"samplesperbuffer=1024"_s, u"!"_s, u"audio/x-raw,format=S16LE,rate=44100,channels=2"_s, u"!"_s,
                 u"taginject"_s, u"tags=title=Tone-%1,artist=Band,album=Tones,track-number=(uint)%1"_s.arg(i), u"!"_s,
                 u"flacenc"_s, u"!"_s, u"filesink"_s, u"location="_s + tone(i)}), 0);
        }
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(bus.waitForReadyRead(30000));
        address = QString::fromUtf8(bus.readLine()).trimmed();
        QDBusConnection connection = QDBusConnection::connectToBus(address, u"mpris-test"_s);
        QVERIFY(connection.connect(QString(), u"/org/mpris/MediaPlayer2"_s, u"org.mpris.MediaPlayer2.Player"_s, u"Seeked"_s, this, SLOT(seekedSignal(qlonglong))));
        QVERIFY(connection.connect(QString(), OBJECT, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s, this, SLOT(propertiesChanged(QString, QVariantMap, QStringList))));

        player.setProcessEnvironment(environment());
        player.start(QStringLiteral(QROVA_PLAY), {u"--repeat"_s, u"all"_s, u"--audio-sink"_s, u"fakesink sync=true"_s, path(u"music"_s)});
        QVERIFY(reaches(u"Playing"_s));
    }

    void cleanupTestCase()
    {
        player.kill(), bus.kill(), player.waitForFinished(), bus.waitForFinished();
    }

    // Without a session bus, in a store of its own: lists and searches what it
    // indexed, plays into a file gaplessly, and says once that desktop control is off.
    void shouldListSearchAndPlayWithoutABus()
    {
        QCOMPARE(cli({u"--list"_s, path(u"music"_s)}), u"1. Tone-1 - Band (Tones) 0:04\n2. Tone-2 - Band (Tones) 0:05\n3. Tone-3 - Band (Tones) 0:06"_s);
        QCOMPARE(cli({u"--list"_s, u"--search"_s, u"ONE-2"_s}), u"1. Tone-2 - Band (Tones) 0:05"_s);
        const QString text = cli({u"--output"_s, path(u"out.wav"_s)});
        QVERIFY2(text.count(u"qrova-play: no D-Bus session bus"_s) == 1 && text.contains(u"Playing 1/3: Tone-1"_s)
                     && text.indexOf(u"Playing 3/3: Tone-3"_s) > text.indexOf(u"Playing 2/3: Tone-2"_s), qPrintable(text));
        const RovaWav wav = RovaWav::read(path(u"out.wav"_s));
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QCOMPARE(qint64(wav.samples.size()), tones.at(0).frames + tones.at(1).frames + tones.at(2).frames);
        QCOMPARE(wav.gaps(tones), (QList<qint64>{0, 0}));
    }

    void shouldFailClearly_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("plugins");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong path") << QStringList{path(u"nothing-here"_s)} << u"plugins"_s << 1 << u"no audio files in"_s;
        QTest::newRow("empty folder") << QStringList{path(u"empty"_s)} << u"plugins"_s << 1 << u"no audio files in"_s;
        QTest::newRow("no plugins") << QStringList{u"--list"_s} << u"empty"_s << 1 << u"the Tracker source plugin is not in"_s;
        QTest::newRow("no match") << QStringList{u"--search"_s, u"zzz"_s} << u"plugins"_s << 1 << u"no music found"_s;
        QTest::newRow("bad repeat") << QStringList{u"--repeat"_s, u"twice"_s} << u"plugins"_s << 2 << u"--repeat takes"_s;
    }

    void shouldFailClearly()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, plugins);
        QFETCH(int, code);
        QFETCH(QString, message);
        int exitCode = -1;
        const QString text = cli(args, plugins, &exitCode);
        QCOMPARE(exitCode, code);
        QVERIFY2(text.contains(u"qrova-play: "_s + message), qPrintable(text));
    }

    void shouldServeBothInterfacesWithEveryMember()
    {
        const QString xml = run(u"gdbus"_s, {u"introspect"_s, u"--address"_s, address, u"--dest"_s, u"org.mpris.MediaPlayer2.qrova"_s, u"--object-path"_s, OBJECT});
        QVERIFY2(xml.contains(u"interface org.mpris.MediaPlayer2 {"_s) && xml.contains(u"interface org.mpris.MediaPlayer2.Player {"_s), qPrintable(xml));
        const QString members = u"Raise() Quit() CanQuit CanRaise HasTrackList Identity DesktopEntry SupportedUriSchemes SupportedMimeTypes "
                                "Next() Previous() Pause() PlayPause() Stop() Play() Seek(in x Offset) SetPosition(in o TrackId, OpenUri(in s Uri) "
                                "Seeked(x Position) PlaybackStatus LoopStatus Rate Shuffle Metadata Volume Position MinimumRate MaximumRate "
                                "CanGoNext CanGoPrevious CanPlay CanPause CanSeek CanControl"_s;
        for (const QString& member : members.split(u' '))
            QVERIFY2(xml.contains(member), qPrintable(member));
    }

    void shouldShowWhatPlaysPauseResumeAndStep()
    {
        QVERIFY(waitFor([&] { const auto [shown, expected] = metadata(); return shown == expected; }));
        QCOMPARE(ctl({u"play-pause"_s}), QString());
        QVERIFY(reaches(u"Paused"_s));
        QVERIFY(waitFor([&] { return changes.contains(u"PlaybackStatus=Paused"_s); }));
        ctl({u"play-pause"_s});
        QVERIFY(reaches(u"Playing"_s));
        for (const QString& step : {u"next"_s, u"previous"_s}) {
            ctl({u"position"_s, u"0"_s}); // far from the item's end
            const auto [item, count] = played();
            ctl({step});
            QVERIFY2(waitFor([&] { return played().second > count; }), qPrintable(output));
            QCOMPARE(played().first, step == u"next"_s ? item % 3 + 1 : (item + 1) % 3 + 1);
            QVERIFY(waitFor([&] { const auto [shown, expected] = metadata(); return shown == expected; }));
        }
    }

    // Seeks while paused, so that the position stays where the renderer put it.
    void shouldSeekWithinTheItem()
    {
        ctl({u"pause"_s});
        QVERIFY(reaches(u"Paused"_s));
        ctl({u"position"_s, u"2"_s});
        QVERIFY(waitFor([&] { return seeked.endsWith(2000000); }));
        QCOMPARE(ctl({u"position"_s}).toDouble(), 2.0);
        ctl({u"position"_s, u"10-"_s}); // before the start: to the start
        QVERIFY(waitFor([&] { return seeked.endsWith(0); }));
        const qsizetype seeks = seeked.size();
        call(u"org.mpris.MediaPlayer2.Player.SetPosition"_s, {u"/org/qrova/track/9"_s, u"3000000"_s});
        ctl({u"position"_s, u"1+"_s});
        QVERIFY(waitFor([&] { return seeked.mid(seeks) == QList<qlonglong>{1000000}; })); // the stale track id was ignored
        ctl({u"play"_s});
        QVERIFY(reaches(u"Playing"_s));
    }

    void shouldShuffleAndLoop()
    {
        ctl({u"shuffle"_s, u"On"_s});
        QVERIFY(waitFor([&] { return changes.contains(u"Shuffle=true"_s) && ctl({u"shuffle"_s}) == u"On"_s; }));
        ctl({u"shuffle"_s, u"Off"_s});
        QVERIFY(waitFor([&] { return changes.contains(u"Shuffle=false"_s) && ctl({u"shuffle"_s}) == u"Off"_s; }));
        // One item over and over: the player plays the same item again at its end.
        ctl({u"loop"_s, u"Track"_s});
        QCOMPARE(ctl({u"loop"_s}), u"Track"_s);
        const auto [item, count] = played();
        ctl({u"position"_s, u"%1"_s.arg(item + 2)});
        QVERIFY2(waitFor([&] { return played().second > count; }), qPrintable(output));
        QCOMPARE(played().first, item);
        ctl({u"loop"_s, u"None"_s});
        QCOMPARE(ctl({u"loop"_s}), u"None"_s);
        ctl({u"loop"_s, u"Playlist"_s});
        call(u"org.freedesktop.DBus.Properties.Set"_s, {u"org.mpris.MediaPlayer2.Player"_s, u"LoopStatus"_s, u"<'Sometimes'>"_s});
        QCOMPARE(ctl({u"loop"_s}), u"Playlist"_s); // refused
    }

    void shouldSetTheVolumeAndRefuseBadInput()
    {
        for (const auto& [asked, kept] : {std::pair{u"0.5"_s, 0.5}, std::pair{u"2"_s, 1.0}}) {
            ctl({u"volume"_s, asked});
            QVERIFY(waitFor([&] { return ctl({u"volume"_s}).toDouble() == kept; }));
        }
        QVERIFY(call(u"org.mpris.MediaPlayer2.Player.OpenUri"_s, {u"file://"_s + path(u"music/none.flac"_s)}).contains(u"InvalidArgs"_s));
        QCOMPARE(ctl({u"status"_s}), u"Playing"_s);
        ctl({u"open"_s, QUrl::fromLocalFile(tone(2)).toString()});
        QVERIFY(waitFor([&] { return ctl({u"metadata"_s, u"mpris:trackid"_s}) == u"'/org/qrova/uri/1'"_s; }));
        QCOMPARE(ctl({u"metadata"_s, u"xesam:url"_s}), QUrl::fromLocalFile(tone(2)).toString());
        call(u"org.mpris.MediaPlayer2.Quit"_s, {});
        QVERIFY(player.waitForFinished(30000) && player.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(tst_QrovaPlay)
#include "tst_qrovaplay.moc"
