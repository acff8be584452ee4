// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovawavgaps.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_QrovaPlay : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QList<RovaTone> tones;

    QString path(const QString& name) const { return dir.filePath(name); }

    // Runs qrova-play with \a args; its exit code, and its output and errors joined.
    std::pair<int, QString> play(const QStringList& args, const QString& plugins = u"plugins"_s)
    {
        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(plugins));
        env.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
        env.remove(u"QSPARQL_TRACKER_DATABASE"_s);
        env.remove(u"QSPARQL_TRACKER_BUS_NAME"_s);
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s); // never the desktop's store
        player.setProcessEnvironment(env);
        player.start(QStringLiteral(QROVA_PLAY), args);
        if (!player.waitForFinished(120000))
            return {-1, u"hung"_s};
        return {player.exitCode(), QString::fromLocal8Bit(player.readAllStandardOutput() + player.readAllStandardError())};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(path(u"music/more"_s)) && QDir().mkpath(path(u"plugins"_s)) && QDir().mkpath(path(u"empty"_s)));
        for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN)})
            QVERIFY(QFile::copy(plugin, path(u"plugins/"_s + QFileInfo(plugin).fileName())));
        // Tones of different lengths and pitches; the last in a folder of its own.
        for (int i = 1; i <= 3; ++i) {
            const int buffers = 20 + 5 * i;
            tones.append({220.0 + 220 * i, qint64(buffers) * 1024});
            const QString file = path(i == 3 ? u"music/more/t%1.flac"_s.arg(i) : u"music/t%1.flac"_s.arg(i));
            const int rc = QProcess::execute(u"gst-launch-1.0"_s,
                {u"-q"_s, u"audiotestsrc"_s, u"wave=sine"_s, u"freq=%1"_s.arg(tones.last().frequency),
                 u"num-buffers=%1"_s.arg(buffers), u"samplesperbuffer=1024"_s, u"!"_s,
                 u"audio/x-raw,format=S16LE,rate=44100,channels=2"_s, u"!"_s, u"taginject"_s,
                 u"tags=title=Tone-%1,artist=Band,album=Tones,track-number=(uint)%1"_s.arg(i), u"!"_s, u"flacenc"_s,
                 u"!"_s, u"filesink"_s, u"location="_s + file});
            QCOMPARE(rc, 0);
        }
    }

    void shouldListAndSearchWhatItIndexed()
    {
        auto [code, text] = play({u"--list"_s, path(u"music"_s)});
        QCOMPARE(code, 0);
        QCOMPARE(text.trimmed(), u"1. Tone-1 - Band (Tones) 0:01\n2. Tone-2 - Band (Tones) 0:01\n3. Tone-3 - Band (Tones) 0:01"_s);
        std::tie(code, text) = play({u"--list"_s, u"--search"_s, u"ONE-2"_s});
        QCOMPARE(code, 0);
        QCOMPARE(text.trimmed(), u"1. Tone-2 - Band (Tones) 0:01"_s);
    }

    // Played into a file, the items follow each other in order without a frame lost or added.
    void shouldPlayGaplesslyIntoAFile()
    {
        const auto [code, text] = play({u"--output"_s, path(u"out.wav"_s), path(u"music"_s)});
        QCOMPARE(code, 0);
        QVERIFY2(text.contains(u"Playing 1/3: Tone-1"_s) && text.indexOf(u"Playing 3/3: Tone-3"_s) > text.indexOf(u"Playing 2/3: Tone-2"_s),
                 qPrintable(text));
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
        const auto [exitCode, text] = play(args, plugins);
        QCOMPARE(exitCode, code);
        QVERIFY2(text.contains(u"qrova-play: "_s + message), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(tst_QrovaPlay)
#include "tst_qrovaplay.moc"
