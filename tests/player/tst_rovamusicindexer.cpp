// SPDX-License-Identifier: LGPL-2.1-or-later
// The indexer of qrova-play, run as a process on real files: awkward names and
// tags, files gone, renamed or replaced by FIFOs between runs, linked folders.

#include "playertest.h"
#include "rovamusicindexer.h"

#include <QTest>
#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <sys/stat.h>

class tst_RovaMusicIndexer : public QObject, PlayerFolder
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(addPlugins(u"plugins"_s)); }

    // Each file is stored under its fully encoded URL and listed with its tags as they are.
    void shouldStoreAwkwardNamesAndTags_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QString>("tags");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("encoded"); // the name in the file's URL
        QTest::newRow("flac, ?<>{| in the name") << u"a?b<c>{d}|e.flac"_s << u"flacenc"_s << uR"(title="100%1 pure %3F",artist="x|y <z>")"_s << u"100%1 pure %3F - x|y <z>"_s << u"a%3Fb%3Cc%3E%7Bd%7D%7Ce.flac"_s;
        QTest::newRow("vorbis, newline in the name") << u"new\nline.ogg"_s << u"vorbisenc ! oggmux"_s << QString() << u"new\nline"_s << u"new%0Aline.ogg"_s;
        QTest::newRow("mp3, escapes in the name") << u"x%41 %3F ^`.mp3"_s << u"lamemp3enc ! id3v2mux"_s << uR"(title="%2 of %1",artist="50% off")"_s << u"%2 of %1 - 50% off"_s << u"x%2541%20%253F%20%5E%60.mp3"_s;
        QTest::newRow("wav, braces in the name") << u"w{1}.wav"_s << u"wavenc"_s << uR"(title="Take %1",artist="%9")"_s << u"Take %1 - %9"_s << u"w%7B1%7D.wav"_s;
    }

    void shouldStoreAwkwardNamesAndTags()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(QString, tags);
        QFETCH(QString, listed);
        QFETCH(QString, encoded);
        const QString folder = u"names/"_s + encoded.section(u'.', -1), cache = u"cache-"_s + folder;
        QVERIFY(encode(folder + u'/' + name, encoder, tags));
        QVERIFY(encode(folder + u"/plain.flac"_s, u"flacenc"_s, u"title=Plain,artist=Band"_s));
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
        QVERIFY(encode(u"lib/a.flac"_s, u"flacenc"_s, u"title=Ay,artist=Band"_s) && encode(u"lib/b.mp3"_s, u"lamemp3enc ! id3v2mux"_s, u"title=Bee,artist=Band"_s)
                && encode(u"elsewhere/c.ogg"_s, u"vorbisenc ! oggmux"_s, u"title=Cee,artist=Band"_s));
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
        if (!QFile::exists(u"/dev/pts/ptmx"_s))
            QSKIP("no pseudo-terminals here (/dev/pts), so the player cannot run on a terminal");
        QVERIFY(encode(u"tty/t.flac"_s, u"flacenc"_s));
        const auto [output, code] = play({u"--list"_s, path(u"tty"_s)}, u"cache-tty"_s, u"plugins"_s, true);
        QVERIFY2(code == 0 && output.contains(u"\x1b[Kindexing 1 of 1 files, "_s) && output.contains(u" files/s, 0:00 left\r\x1b[K1. t 0:01"_s),
                 qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(tst_RovaMusicIndexer)
#include "tst_rovamusicindexer.moc"
