// SPDX-License-Identifier: LGPL-2.1-or-later
// The indexer of qrova-play, run as a process on real files: awkward names and
// tags, files gone, renamed or replaced by FIFOs between runs, linked folders.

#include "rovamusicindexer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_RovaMusicIndexer : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString root; // the folder's canonical path, as the player names files

    QString path(const QString& name) const { return root + u'/' + name; }

    // A 1.28 s tone encoded by \a encoder, tagged with \a title and \a artist when given.
    bool make(const QString& name, const QString& encoder, const QString& title = {}, const QString& artist = {})
    {
        QStringList args{u"-q"_s, u"audiotestsrc"_s, u"num-buffers=10"_s, u"!"_s, u"audio/x-raw,rate=8000,channels=1"_s};
        if (!title.isEmpty())
            args << u"!"_s << u"taginject"_s << u"tags=\"title=\\\""_s + title + u"\\\",artist=\\\""_s + artist + u"\\\"\""_s;
        args << u"!"_s << encoder.split(u' ') << u"!"_s << u"filesink"_s << u"location="_s + path(u"encoded"_s);
        return QDir().mkpath(QFileInfo(path(name)).path()) && QProcess::execute(u"gst-launch-1.0"_s, args) == 0
            && QFile::rename(path(u"encoded"_s), path(name));
    }

    // qrova-play (or \a program) with a store of its own in \a cache: what it printed (both channels), and its exit code.
    std::pair<QString, int> play(const QStringList& args, const QString& cache, const QString& program = QStringLiteral(QROVA_PLAY))
    {
        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        env.insert(u"XDG_CACHE_HOME"_s, path(cache));
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(u"plugins"_s));
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start(program, args);
        const bool ended = player.waitForFinished(30000);
        return {QString::fromUtf8(player.readAll()).trimmed(), ended ? player.exitCode() : -1};
    }

private Q_SLOTS:
    void initTestCase()
    {
        root = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(path(u"plugins"_s)));
        for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN)})
            QVERIFY(QFile::copy(plugin, path(u"plugins/"_s + QFileInfo(plugin).fileName())));
    }

    // Each file is stored under its fully encoded URL and listed with its tags as they are.
    void shouldStoreAwkwardNamesAndTags_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("encoded"); // the name in the file's URL
        QTest::newRow("flac, ?<>{| in the name") << u"a?b<c>{d}|e.flac"_s << u"flacenc"_s << u"100%1 pure %3F"_s << u"x|y <z>"_s
                                                 << u"100%1 pure %3F - x|y <z>"_s << u"a%3Fb%3Cc%3E%7Bd%7D%7Ce.flac"_s;
        QTest::newRow("vorbis, newline in the name") << u"new\nline.ogg"_s << u"vorbisenc ! oggmux"_s << QString() << QString()
                                                     << u"new\nline"_s << u"new%0Aline.ogg"_s;
        QTest::newRow("mp3, escapes in the name") << u"x%41 %3F ^`.mp3"_s << u"lamemp3enc ! id3v2mux"_s << u"%2 of %1"_s << u"50% off"_s
                                                  << u"%2 of %1 - 50% off"_s << u"x%2541%20%253F%20%5E%60.mp3"_s;
        QTest::newRow("wav, braces in the name") << u"w{1}.wav"_s << u"wavenc"_s << u"Take %1"_s << u"%9"_s
                                                 << u"Take %1 - %9"_s << u"w%7B1%7D.wav"_s;
    }

    void shouldStoreAwkwardNamesAndTags()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, listed);
        QFETCH(QString, encoded);
        const QString folder = u"names/"_s + encoded.section(u'.', -1), cache = u"cache-"_s + folder;
        QVERIFY(make(folder + u'/' + name, encoder, title, artist));
        QVERIFY(make(folder + u"/plain.flac"_s, u"flacenc"_s, u"Plain"_s, u"Band"_s));
        const auto [output, code] = play({u"--list"_s, path(folder)}, cache);
        QVERIFY2(code == 0 && output.count(u" 0:01"_s) == 2 && output.contains(u". "_s + listed + u" 0:01"_s)
                     && output.contains(u". Plain - Band 0:01"_s), qPrintable(output));
        QSparqlConnectionOptions options;
        options.setOption(u"databasePath"_s, path(cache + u"/qrova-play/store"_s));
        QSparqlConnection store(u"QTRACKER"_s, options);
        std::unique_ptr<QSparqlResult> result(store.syncExec(QSparqlQuery(u"SELECT ?url { ?f nie:url ?url FILTER(!STRENDS(?url, \"/plain.flac\")) }"_s)));
        QVERIFY(result->next());
        const QString url = result->stringValue(0);
        QCOMPARE(url, QString::fromUtf8(QUrl::fromLocalFile(path(folder)).toEncoded()) + u'/' + encoded);
        QCOMPARE(QUrl(url).toLocalFile(), path(folder + u'/' + name));
    }

    // Indexing a folder again: gone files are forgotten, a moved one is listed once, FIFOs are
    // never opened, and linked folders are followed once each (a link cycle too).
    void shouldIndexAFolderAgain()
    {
        QVERIFY(make(u"lib/a.flac"_s, u"flacenc"_s, u"Ay"_s, u"Band"_s));
        QVERIFY(make(u"lib/b.mp3"_s, u"lamemp3enc ! id3v2mux"_s, u"Bee"_s, u"Band"_s));
        QVERIFY(make(u"elsewhere/c.ogg"_s, u"vorbisenc ! oggmux"_s, u"Cee"_s, u"Band"_s));
        QVERIFY(QDir().mkpath(path(u"lib/sub"_s)) && QFile::link(u"../../elsewhere"_s, path(u"lib/sub/linked"_s))
                && QFile::link(u".."_s, path(u"lib/sub/up"_s)));
        QCOMPARE(play({u"--list"_s, path(u"lib"_s)}, u"cache-again"_s),
                 std::pair(u"1. Ay - Band 0:01\n2. Bee - Band 0:01\n3. Cee - Band 0:01"_s, 0));
        QVERIFY(QFile::remove(path(u"lib/a.flac"_s)) && QFile::rename(path(u"lib/b.mp3"_s), path(u"lib/sub/b2.mp3"_s)));
        QCOMPARE(mkfifo(QFile::encodeName(path(u"lib/f.flac"_s)).constData(), 0600), 0);
        QCOMPARE(mkfifo(QFile::encodeName(path(u"pipe.ogg"_s)).constData(), 0600), 0);
        QCOMPARE(play({u"--list"_s, path(u"lib"_s), path(u"pipe.ogg"_s)}, u"cache-again"_s),
                 std::pair(u"qrova-play: skipped %1/lib/f.flac: not a regular file\nqrova-play: skipped %1/pipe.ogg: not a regular file\n"
                           "1. Bee - Band 0:01\n2. Cee - Band 0:01"_s.arg(root), 0));
    }

    // A file the store refuses is left out alone and named; the rest of its batch is stored.
    void shouldSkipAFileTheStoreRefuses()
    {
        RovaMusicIndexer indexer(path(u"cache-refusing/qrova-play/store"_s));
        const QDateTime time = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        QString error;
        QStringList skipped;
        QVERIFY2(indexer.write({{u"file:///m/good.flac"_s, time, u"Good"_s, {}, {}, {}, 0, 0, false, {}}, {u"file:///m/bad.flac"_s, QDateTime(), u"Bad"_s, {}, {}, {}, 0, 0, false, u"/m/bad.flac"_s}},
                               &error, &skipped), qPrintable(error));
        QVERIFY2(skipped.size() == 1 && skipped.first().startsWith(u"/m/bad.flac: "_s), qPrintable(skipped.join(u'\n')));
        QCOMPARE(play({u"--list"_s}, u"cache-refusing"_s), std::pair(u"1. Good 0:00"_s, 0));
    }

    // On a terminal a live line tells how far indexing is, and is cleared before anything else is said.
    void shouldShowProgressOnATerminal()
    {
        QVERIFY(make(u"tty/t.flac"_s, u"flacenc"_s));
        const auto [output, code] = play({u"-qec"_s, QStringLiteral(QROVA_PLAY " --list ") + path(u"tty"_s), u"/dev/null"_s}, u"cache-tty"_s, u"script"_s);
        QVERIFY2(code == 0 && output.contains(u"\x1b[Kindexing 1 of 1 files, "_s) && output.contains(u" files/s, 0:00 left\r\x1b[K1. t 0:01"_s),
                 qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(tst_RovaMusicIndexer)
#include "tst_rovamusicindexer.moc"
