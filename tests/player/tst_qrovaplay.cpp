// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play end to end: its command line, and its desktop control driven by
// playerctl over a private session bus.
#include "playertest.h"
#include "rovawavgaps.h"

#include <QDBusConnection>
#include <QRegularExpression>
#include <QtEndian>
#include <QTest>

#include <csignal>

class tst_QrovaPlay : public QObject, PlayerFolder
{
    Q_OBJECT

    QProcess bus;
    QProcess player;
    QString output; // what the player printed so far
    QList<qlonglong> seeked;
    QStringList changes; // "Name=value" of each property announced as changed
    QList<RovaTone> tones;

    QString tone(int item) const { return path(item == 3 ? u"music/more/t3.flac"_s : u"music/t%1.flac"_s.arg(item)); }
    QString url(int item) const { return QString::fromUtf8(QUrl::fromLocalFile(tone(item)).toEncoded()); }
    QString ctl(const QStringList& args) { return run(u"playerctl"_s, QStringList{u"-p"_s, u"qrova"_s} + args).first; }
    QString gdbus(const QString& command, const QStringList& args = {}) { return run(u"gdbus"_s, QStringList{command, u"--session"_s, u"--dest"_s, u"org.mpris.MediaPlayer2.qrova"_s, u"--object-path"_s, u"/org/mpris/MediaPlayer2"_s} + args).first; }
    QString call(const QString& method, const QStringList& args) { return gdbus(u"call"_s, QStringList{u"--method"_s, method} + args); }

    // The number of the item the player last said it plays, and how many it announced.
    std::pair<int, int> played()
    {
        output += QString::fromUtf8(player.readAllStandardOutput());
        const QStringList announced = output.split(u"Playing "_s); // "Playing 2/3: Tone-2 ..."
        return {announced.last().left(1).toInt(), int(announced.size() - 1)};
    }

    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }
    bool reaches(const QString& status) { return waitFor([&] { return ctl({u"status"_s}) == status; }); }
    // Whether playerctl comes to show the item the player last said it plays.
    bool showsWhatPlays()
    {
        return waitFor([&] {
            const int item = played().first;
            return ctl({u"metadata"_s, u"--format"_s, u"{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{mpris:length}}|{{xesam:url}}|{{mpris:trackid}}"_s})
                == u"Tone-%1|Band|Tones|%2|%3|'/org/qrova/track/%4'"_s.arg(item).arg((item + 3) * 1000000).arg(url(item)).arg(item - 1);
        });
    }

private Q_SLOTS:
    void seekedSignal(qlonglong position) { seeked.append(position); }
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
    {
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            changes.append(it.key() + u'=' + it.value().toString());
    }

    void initTestCase()
    {
        QVERIFY(addPlugins(u"plugins"_s) && addPlugins(u"policy-plugins"_s) && copy(QStringLiteral(QROVA_POLICY_PLUGIN), path(u"policy-plugins/policy"_s))
                && QDir().mkpath(path(u"empty"_s)));
        const QString stereo = u"format=S16LE,rate=44100,channels=2"_s;
        // Tones of 4, 5 and 6 s, long enough to be steered while they play; the last in a folder of its own.
        for (int i = 1; i <= 3; ++i) {
            tones.append({220.0 * i, ((3 + i) * 44100 / 1024 + 1) * 1024}); // whole buffers of 1024 frames
            QVERIFY(encode(tone(i), u"flacenc"_s, u"title=Tone-%1,artist=Band,album=Tones,track-number=(uint)%1"_s.arg(i), tones.last().frames / 1024, stereo, 220 * i));
        }
        QVERIFY(encode(u"mono.flac"_s, u"flacenc"_s, u"title=Mono,artist=Band,album=Tones,track-number=(uint)0"_s, 20, u"format=S16LE,rate=22050,channels=1"_s));
        QVERIFY(encode(u"percent.flac"_s, u"flacenc"_s, uR"(title="100%1 pure %3F",artist=Band,album=Tones,track-number=(uint)4)"_s, 20, stereo));
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(bus.waitForReadyRead(30000));
        QVERIFY(qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed()));
        qputenv("QROVA_PLUGIN_DIR", QFile::encodeName(path(u"plugins"_s)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path(u"cache"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path(u"cache"_s)));
        QVERIFY(QDBusConnection::sessionBus().connect(QString(), u"/org/mpris/MediaPlayer2"_s, u"org.mpris.MediaPlayer2.Player"_s, u"Seeked"_s, this, SLOT(seekedSignal(qlonglong))));
        QVERIFY(QDBusConnection::sessionBus().connect(QString(), u"/org/mpris/MediaPlayer2"_s, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s, this, SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        player.start(QStringLiteral(QROVA_PLAY), {u"--repeat"_s, u"all"_s, u"--audio-sink"_s, u"fakesink sync=true"_s, path(u"music"_s)});
        QVERIFY(reaches(u"Playing"_s));
    }

    void cleanupTestCase()
    {
        player.close();
        bus.close();
    }

    // Lists and searches what it indexed (the first row indexes the folder), and fails clearly.
    void shouldAnswerOnItsCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("plugins");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        const QString nowhere = path(u"nothing-here"_s), empty = path(u"empty"_s);
        QTest::newRow("list") << QStringList{u"--list"_s, path(u"music"_s)} << u"plugins"_s << 0 << u"1. Tone-1 - Band (Tones) 0:04\n2. Tone-2 - Band (Tones) 0:05\n3. Tone-3 - Band (Tones) 0:06"_s;
        QTest::newRow("search") << QStringList{u"--list"_s, u"--search"_s, u"ONE-2"_s} << u"plugins"_s << 0 << u"1. Tone-2 - Band (Tones) 0:05"_s;
        QTest::newRow("wrong path") << QStringList{nowhere} << u"plugins"_s << 1 << u"qrova-play: skipped %1: no such file or directory\nqrova-play: no audio files in %1"_s.arg(nowhere);
        QTest::newRow("empty folder") << QStringList{empty} << u"plugins"_s << 1 << u"qrova-play: no audio files in "_s + empty;
        QTest::newRow("no plugins") << QStringList{u"--list"_s} << u"empty"_s << 1 << u"qrova-play: the Tracker source plugin is not in "_s + empty;
        QTest::newRow("no match") << QStringList{u"--search"_s, u"zzz"_s} << u"plugins"_s << 1 << u"qrova-play: no music found in the store"_s;
        QTest::newRow("bad repeat") << QStringList{u"--repeat"_s, u"twice"_s} << u"plugins"_s << 2 << u"qrova-play: --repeat takes none, one or all"_s;
        QTest::newRow("repeat into a file") << QStringList{u"--repeat"_s, u"one"_s, u"--output"_s, path(u"never.wav"_s)} << u"plugins"_s << 2 << u"qrova-play: --repeat one never ends, so it cannot render into a file"_s;
        QTest::newRow("resume another queue") << QStringList{u"--resume"_s, u"--shuffle"_s} << u"plugins"_s << 2 << u"qrova-play: --resume continues the last run: it takes no paths, --search or --shuffle"_s;
        QTest::newRow("bad rate") << QStringList{u"--rate"_s, u"44.1"_s, u"--output"_s, path(u"never.wav"_s)} << u"plugins"_s << 2 << u"qrova-play: --rate takes a sample rate from 1000 to 768000 Hz"_s;
        QTest::newRow("control character") << QStringList{u"--list"_s, u"--search"_s, u"a\x01"_s} << u"plugins"_s << 2 << u"qrova-play: the store refuses the search \"a\uFFFD\": it holds control characters"_s;
    }

    void shouldAnswerOnItsCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, plugins);
        const auto [text, code] = play(args, u"alone"_s, plugins);
        QTEST(text, "output");
        QTEST(code, "code");
    }

    // Renders 16-bit stereo at one rate whatever the items are, gaplessly; an item gone since it was
    // indexed is skipped with a line, and the header is whole however the run ends.
    void shouldRenderIntoAFile_data()
    {
        QTest::addColumn<QStringList>("files"); // indexed from a folder of their own, in this order
        QTest::addColumn<QStringList>("gone"); // then deleted
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("frames");
        const qint64 t1 = tones.at(0).frames, t3 = tones.at(2).frames;
        const QStringList all{tone(1), tone(2), tone(3)};
        QTest::newRow("gapless") << all << QStringList() << QStringList() << 0 << 44100 << t1 + tones.at(1).frames + t3;
        QTest::newRow("mono 22,050 Hz first") << QStringList{path(u"mono.flac"_s), tone(1)} << QStringList() << QStringList() << 0 << 44100 << 2 * 20 * 1024 + t1;
        QTest::newRow("48 kHz") << QStringList{tone(1)} << QStringList() << QStringList{u"--rate"_s, u"48000"_s} << 0 << 48000 << t1 * 48000 / 44100;
        QTest::newRow("an item gone") << all << QStringList{u"t2.flac"_s} << QStringList() << 0 << 44100 << t1 + t3;
        QTest::newRow("every item gone") << QStringList{tone(1)} << QStringList{u"t1.flac"_s} << QStringList() << 1 << 44100 << qint64(0);
    }

    void shouldRenderIntoAFile()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, gone);
        QFETCH(QStringList, args);
        QFETCH(qint64, frames);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()), folder = path(u"render/"_s + tag), store = u"render-store/"_s + tag;
        for (const QString& file : files)
            QVERIFY(copy(file, folder));
        play({u"--list"_s, folder}, store);
        for (const QString& name : gone)
            QVERIFY(QFile::remove(folder + u'/' + name));
        const auto [text, code] = play(args << u"--output"_s << folder + u".wav"_s, store);
        QTEST(code, "code");
        QVERIFY2(text.count(u"qrova-play: no D-Bus session bus"_s) == 1, qPrintable(text));
        for (const QString& name : gone)
            QVERIFY2(text.contains(u"qrova-play: skipped %1/%2: "_s.arg(folder, name)), qPrintable(text));
        const RovaWav wav = RovaWav::read(folder + u".wav"_s);
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QTEST(wav.rate, "rate");
        QVERIFY2(qAbs(wav.samples.size() - frames) <= 2, qPrintable(u"%1 frames"_s.arg(wav.samples.size())));
        // a whole header: the sizes of the file and of its 16-bit stereo frames
        QFile file(folder + u".wav"_s);
        const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(44) : QByteArray(44, 0);
        QCOMPARE(qFromLittleEndian<quint32>(header.constData() + 4), quint32(file.size() - 8));
        QCOMPARE(qFromLittleEndian<quint32>(header.constData() + 40), quint32(wav.samples.size() * 4));
        if (tag == u"gapless"_s)
            QCOMPARE(wav.gaps(tones), (QList<qint64>{0, 0}));
    }

    // SIGTERM ends the run through the event loop, as quitting does.
    void shouldEndOnASignal()
    {
        QProcess process;
        process.setProcessEnvironment(alone(u"alone"_s));
        process.start(QStringLiteral(QROVA_PLAY), {u"--audio-sink"_s, u"fakesink sync=true"_s});
        QVERIFY(process.waitForReadyRead(30000)); // "Playing 1/3: ..."
        process.terminate();
        QVERIFY(process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + SIGTERM);
    }

    // On a terminal: titles shown as they are, a file gone skipped on a line above the status line
    // and the run goes on to its end, each condition said once and no library time stamps.
    void shouldKeepTheTerminalTidy()
    {
        if (!QFile::exists(u"/dev/pts/ptmx"_s))
            QSKIP("no pseudo-terminals here (/dev/pts), so the player cannot run on a terminal");
        const QString folder = path(u"terminal"_s);
        QVERIFY(copy(tone(1), folder) && copy(path(u"percent.flac"_s), folder));
        play({u"--list"_s, folder}, u"terminal-store"_s);
        QVERIFY(QFile::remove(folder + u"/t1.flac"_s));
        const auto [text, code] = play({u"--audio-sink"_s, u"fakesink"_s}, u"terminal-store"_s, u"policy-plugins"_s, true);
        QCOMPARE(code, 0);
        QVERIFY2(text.contains(u"\r\x1b[Kqrova-play: skipped %1/t1.flac: "_s.arg(folder)) && text.contains(u"playing 100%1 pure %3F - Band (Tones) ["_s)
                     && text.count(u"session bus"_s) == 1 && !text.contains(QRegularExpression(u"\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d"_s)), qPrintable(text));
    }

    // One player steered over D-Bus from start to end: both interfaces with every member; what it
    // plays; pause, seek, resume, steps, loop, shuffle, volume; bad input refused; quit.
    void shouldBeSteeredFromTheDesktop()
    {
        const QString xml = gdbus(u"introspect"_s);
        const QString members = u"interface org.mpris.MediaPlayer2 {;interface org.mpris.MediaPlayer2.Player {;Raise();Quit();CanQuit;CanRaise;HasTrackList;"
                                "Identity;DesktopEntry;SupportedUriSchemes;SupportedMimeTypes;Next();Previous();Pause();PlayPause();Stop();Play();Seek(in  x Offset);"
                                "SetPosition(in  o TrackId,;OpenUri(in  s Uri);Seeked(x Position);PlaybackStatus;LoopStatus;Rate;Shuffle;Metadata;Volume;Position;"
                                "MinimumRate;MaximumRate;CanGoNext;CanGoPrevious;CanPlay;CanPause;CanSeek;CanControl"_s;
        for (const QString& member : members.split(u';'))
            QVERIFY2(xml.contains(member), qPrintable(member + u'\n' + xml));
        QVERIFY(showsWhatPlays());
        QCOMPARE(ctl({u"play-pause"_s}), QString());
        QVERIFY(waitFor([&] { return changes.contains(u"PlaybackStatus=Paused"_s) && ctl({u"status"_s}) == u"Paused"_s; }));
        ctl({u"position"_s, u"2"_s}); // while paused, so that the position stays where the renderer put it
        QVERIFY(waitFor([&] { return seeked.endsWith(2000000); }));
        QCOMPARE(ctl({u"position"_s}).toDouble(), 2.0);
        ctl({u"position"_s, u"10-"_s}); // before the start: to the start
        QVERIFY(waitFor([&] { return seeked.endsWith(0); }));
        const qsizetype seeks = seeked.size();
        call(u"org.mpris.MediaPlayer2.Player.SetPosition"_s, {u"/org/qrova/track/9"_s, u"3000000"_s});
        ctl({u"position"_s, u"1+"_s});
        QVERIFY(waitFor([&] { return seeked.mid(seeks) == QList<qlonglong>{1000000}; })); // the stale track id was ignored
        ctl({u"play-pause"_s});
        QVERIFY(reaches(u"Playing"_s));
        for (const QString& step : {u"next"_s, u"previous"_s, u"9223372036854775807"_s}) { // a seek past the end steps on
            const qsizetype before = seeked.size();
            QVERIFY(waitFor([&] { ctl({u"position"_s, u"1"_s}); return seeked.size() > before; })); // far from the item's end
            const qsizetype seeks = seeked.size();
            const auto [item, count] = played();
            step.front().isDigit() ? void(call(u"org.mpris.MediaPlayer2.Player.Seek"_s, {step})) : void(ctl({step}));
            const std::pair expected{step == u"previous"_s ? (item + 1) % 3 + 1 : item % 3 + 1, count + 1};
            QVERIFY2(waitFor([&] { return played() == expected; }), qPrintable(output));
            QVERIFY(!seeked.mid(seeks).contains(0)); // not back to the start of the item instead
            QVERIFY(showsWhatPlays());
        }
        // One item over and over: the player plays the same item again at its end.
        ctl({u"loop"_s, u"Track"_s});
        QCOMPARE(ctl({u"loop"_s}), u"Track"_s);
        const auto [item, count] = played();
        ctl({u"position"_s, u"%1"_s.arg(item + 2)});
        QVERIFY2(waitFor([&] { return played() == std::pair{item, count + 1}; }), qPrintable(output));
        // What playerctl sets, and what it reads back then: the volume is at most 1.
        const QList<std::pair<QStringList, QString>> settings = {{{u"shuffle"_s, u"On"_s}, u"On"_s}, {{u"shuffle"_s, u"Off"_s}, u"Off"_s},
            {{u"volume"_s, u"0.5"_s}, u"0.500000"_s}, {{u"volume"_s, u"2"_s}, u"1.000000"_s}, {{u"loop"_s, u"None"_s}, u"None"_s},
            {{u"loop"_s, u"Playlist"_s}, u"Playlist"_s}};
        for (const auto& [set, shown] : settings) {
            ctl(set);
            QVERIFY2(waitFor([&] { return ctl({set.first()}) == shown; }), qPrintable(set.join(u' ')));
        }
        QVERIFY(waitFor([&] { return changes.contains(u"Shuffle=true"_s) && changes.contains(u"Shuffle=false"_s); }));
        call(u"org.freedesktop.DBus.Properties.Set"_s, {u"org.mpris.MediaPlayer2.Player"_s, u"LoopStatus"_s, u"<'Sometimes'>"_s});
        QCOMPARE(ctl({u"loop"_s}), u"Playlist"_s); // refused
        QVERIFY(call(u"org.mpris.MediaPlayer2.Player.OpenUri"_s, {u"file://"_s + path(u"music/none.flac"_s)}).contains(u"InvalidArgs"_s));
        QCOMPARE(ctl({u"status"_s}), u"Playing"_s);
        ctl({u"open"_s, url(2) + u"?x=1#y"_s}); // the file, whatever the address adds
        QVERIFY(waitFor([&] { return ctl({u"metadata"_s, u"--format"_s, u"{{mpris:trackid}} {{xesam:url}}"_s}) == u"'/org/qrova/uri/1' "_s + url(2); }));
        const int announced = played().second;
        ctl({u"position"_s, u"10+"_s}); // to the end of the opened file: the playlist goes on
        QVERIFY2(waitFor([&] { return played().second == announced + 1; }), qPrintable(output));
        QCOMPARE(player.state(), QProcess::Running);
        call(u"org.mpris.MediaPlayer2.Quit"_s, {});
        QVERIFY(player.waitForFinished(30000) && player.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(tst_QrovaPlay)
#include "tst_qrovaplay.moc"
