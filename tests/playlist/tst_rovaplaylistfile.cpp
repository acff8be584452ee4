// SPDX-License-Identifier: LGPL-2.1-or-later
// Playlist files as other players write them, hostile ones, round trips in every format, and the
// playlist of their entries.
#include <rovacontent.h>
#include <rovaplaylistfile.h>

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Entry = RovaPlaylistFile::Entry;
using Entries = QList<Entry>;

class tst_RovaPlaylistFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath();

    QString path(const QString& name) const { return root + u'/' + name; }
    QUrl local(const QString& name) const { return QUrl::fromLocalFile(name.startsWith(u'/') ? name : path(name)); }
    bool make(const QString& name, const QByteArray& content = {}) const
    {
        QFile file(path(name));
        return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    // "location|artist|title|duration" per entry, local files below the folder as "~/name".
    QString show(const Entries& entries) const
    {
        QStringList lines;
        for (const Entry& e : entries)
            lines << QString::fromUtf8(e.location.toEncoded()).replace(QString::fromUtf8(local(u""_s).toEncoded()), u"~/"_s) + u'|' + e.artist + u'|' + e.title + u'|' + QString::number(e.duration);
        return lines.join(u'\n');
    }
    static QString show(const RovaPlaylistFile::ReadResult& result)
    {
        QStringList lines;
        for (const auto& s : result.skipped)
            lines << QString::number(s.line) + u':' + s.reason;
        return lines.join(u';');
    }

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void initTestCase() { QVERIFY(make(u"music/a.flac"_s) && make(u"music/b c.ogg"_s) && make(u"music/100% pure.flac"_s)); }

    // Each shape other players write; unusable entries skipped with their line and reason.
    void shouldReadWhatOtherPlayersWrite_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("skipped");
        const int check = RovaPlaylistFile::CheckLocalFiles;
        QTest::newRow("plain paths") << u"a.m3u"_s << "music/a.flac\n/srv/x.mp3\n  ./music/../music/b c.ogg  \nmusic\\sub\\w.mp3\n"_ba << 0
                                     << u"~/music/a.flac|||-1\nfile:///srv/x.mp3|||-1\n~/music/b%20c.ogg|||-1\n~/music/sub/w.mp3|||-1"_s << u""_s;
        QTest::newRow("extended, CRLF, BOM") << u"b.m3u8"_s << "\xef\xbb\xbf#EXTM3U\r\n#EXTINF:123.4,Band - Song - Live\r\nmusic/a.flac\r\n\r\n# note\r\n#EXTINF:-1 tvg-name=\"a,b\",Radio One\r\nhttp://radio.example/live?x=1\r\n#EXTINF:7,\r\n/x.ogg"_ba << 0
                                             << u"~/music/a.flac|Band|Song - Live|123\nhttp://radio.example/live?x=1||Radio One|-1\nfile:///x.ogg|||7"_s << u""_s;
        QTest::newRow("file URLs") << u"c.m3u8"_s << "file:///music/b%20c.ogg\nfile://localhost/x/100%.flac\nfile://server/share.flac\nfile:relative.mp3\nHTTPS://H.example/%E2%82%AC.mp3\n"_ba << 0
                                   << u"file:///music/b%20c.ogg|||-1\nfile:///x/100%25.flac|||-1\nhttps://h.example/%E2%82%AC.mp3|||-1"_s << u"3:a file on another machine;4:not a valid URL"_s;
        QTest::newRow("Latin-1 in m3u") << u"d.m3u"_s << "caf\xe9.mp3\ncaf\xc3\xa9.mp3\n"_ba << 0 << u"~/caf%C3%A9.mp3|||-1\n~/caf%C3%A9.mp3|||-1"_s << u""_s;
        QTest::newRow("invalid UTF-8 in m3u8") << u"e.m3u8"_s << "#EXTINF:1,\xff\ncaf\xe9.mp3\nok.mp3\n"_ba << 0 << u"~/ok.mp3|||-1"_s << u"2:not valid UTF-8"_s;
        QTest::newRow("binary garbage") << u"f.m3u"_s << "\x7f" "ELF\x02\x01\nab\x00" "cd\nx.mp3\n"_ba << 0 << u"~/x.mp3|||-1"_s << u"1:not text;2:not text"_s;
        QTest::newRow("0 bytes") << u"g.m3u8"_s << ""_ba << 0 << u""_s << u""_s;
        QTest::newRow("0-byte XSPF") << u"g.xspf"_s << ""_ba << 0 << u""_s << u""_s;
        QTest::newRow("playlists, other places") << u"h.m3u"_s << "inner.M3U8\nhttp://x.example/list.pls\nsmb:///share/a.mp3\nC:\\Music\\a.mp3\nLive:1999/a.mp3\n"_ba << 0 << u"~/Live:1999/a.mp3|||-1"_s
                                                 << u"1:a playlist, not followed;2:a playlist, not followed;3:unsupported location;4:a Windows path"_s;
        QTest::newRow("1 MB line") << u"i.m3u8"_s << QByteArray(1 << 20, 'a') + "\n#EXTINF:3,T\nb.flac"_ba << 0 << u"~/b.flac||T|3"_s << u"1:line too long"_s;
        QTest::newRow("PLS") << u"j.pls"_s << "[Playlist]\r\nFile2=music/a.flac\r\nTitle2=B - Two\r\nLength2=5\r\nfile1=http://x.example/a\r\nTitle3=lost\r\nNumberOfEntries=2\r\n"_ba << 0
                             << u"http://x.example/a|||-1\n~/music/a.flac|B|Two|5"_s << u""_s;
        QTest::newRow("XSPF") << u"k.xspf"_s
                              << "<?xml version=\"1.0\"?><playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>\n<track><location>music/b%20c.ogg</location><title>T</title><creator>C</creator><duration>61500</duration></track>\n<track><location>file:///y.flac</location></track>\n<track><title>no location</title></track>\n<track><location>http://h.example/s</location></track>\n<track><location>x"_ba
                              << 0 << u"~/music/b%20c.ogg|C|T|62\nfile:///y.flac|||-1\nhttp://h.example/s|||-1"_s << u"4:no location;6:not well-formed XML: Premature end of document."_s;
        QTest::newRow("XSPF by content") << u"l.txt"_s << "\n<playlist><trackList><track><location>a.flac</location></track></trackList></playlist>"_ba << 0 << u"~/a.flac|||-1"_s << u""_s;
        QTest::newRow("checked local files") << u"m.m3u"_s << "music/a.flac\nmissing.flac\nmusic\nmusic/b%20c.ogg\nmusic/100% pure.flac\n"_ba << check
                                             << u"~/music/a.flac|||-1\n~/music/b%20c.ogg|||-1\n~/music/100%25%20pure.flac|||-1"_s << u"2:no such file;3:a folder"_s;
    }

    void shouldReadWhatOtherPlayersWrite()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, options);
        QVERIFY(make(name, content));
        const auto result = RovaPlaylistFile::read(path(name), RovaPlaylistFile::ReadOptions(options));
        QVERIFY(result.error.isEmpty());
        QTEST(show(result.entries), "entries");
        QTEST(show(result), "skipped");
        QCOMPARE(result.skippedCount, result.skipped.size());
    }

    // Hostile input: no crash, no hang, the counts of entries and skipped ones, and the file's own failures.
    void shouldStayBoundedOnHostileInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<QString>("error");
        QByteArray many, garbage(4 << 20, 0), lines;
        for (int i = 0; i < 100000; ++i)
            many += "#EXTINF:1,A - T\nmusic/" + QByteArray::number(i) + ".flac\n";
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        for (int i = 0; i < 200; ++i)
            lines += QByteArray(70000, 'x') + '\n';
        QTest::newRow("100,000 entries") << u"n.m3u8"_s << many << 100000 << 0 << u""_s;
        QTest::newRow("4 MB of noise") << u"o.m3u"_s << garbage << -1 << -1 << u""_s;
        QTest::newRow("4 MB of noise as XSPF") << u"o.xspf"_s << garbage << 0 << 1 << u""_s;
        QTest::newRow("entities that expand") << u"r.xspf"_s << "<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY a \"aaaaaaaaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><playlist><trackList><track><location>&d;&d;&d;&d;&d;&d;&d;&d;</location></track></trackList></playlist>"_ba
                                              << 0 << 1 << u""_s;
        QTest::newRow("long lines") << u"p.pls"_s << lines << 0 << 200 << u""_s;
        QTest::newRow("missing") << u"nothing-here/q.m3u"_s << QByteArray() << 0 << 0 << u"no such file"_s;
        QTest::newRow("a folder") << u"music"_s << QByteArray() << 0 << 0 << u"a folder"_s;
    }

    void shouldStayBoundedOnHostileInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, skipped);
        if (!content.isEmpty())
            QVERIFY(make(name, content));
        const auto result = RovaPlaylistFile::read(path(name));
        QFETCH(int, entries);
        QVERIFY(entries < 0 || result.entries.size() == entries);
        QVERIFY(skipped < 0 ? result.skippedCount > 100 : result.skippedCount == skipped);
        QVERIFY(result.skipped.size() <= 100);
        QTEST(result.error, "error");
    }

    // Written, read back: the same entries in the same order, in each format, whatever the names hold;
    // files below the playlist's folder are named relative to it.
    void shouldRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* format : {"m3u", "m3u8", "pls", "xspf"})
            QTest::newRow(format) << u"lists/out."_s + QLatin1String(format);
    }

    void shouldRoundTrip()
    {
        QFETCH(QString, name);
        const Entries entries{{local(u"lists/Süß café.flac"_s), u"Ünï - 2"_s, u"Ærø"_s, 61},
                              {local(u"lists/#1 hit.flac"_s), u"#1"_s, {}, -1},
                              {local(u"lists/sub/100% pure?.flac"_s), {}, {}, 0},
                              {local(u"lists/ lead & <tag>.flac"_s), u"a,b"_s, u"x\ny"_s, -1},
                              {local(u"lists/http:colon.ogg"_s), {}, {}, -1},
                              {local(u"elsewhere/a\\b.mp3"_s), {}, {}, 5},
                              {QUrl(u"http://h.example/a%20b?c=%25d#e"_s), u"Radio"_s, {}, -1}};
        QString error;
        QVERIFY(QDir().mkpath(path(u"lists"_s)));
        QVERIFY(RovaPlaylistFile::write(path(name), entries, &error));
        Entries expected = entries;
        expected[3].artist = u"x y"_s;
        const auto result = RovaPlaylistFile::read(path(name));
        QCOMPARE(show(result.entries), show(expected));
        QCOMPARE(result.skippedCount, 0);
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(QByteArray(path(u"lists/s"_s).toUtf8())));

        // through a playlist: imported, shuffled, written in its order, its items playable on their own
        RovaPlaylistFile playlist(RovaPlaylist::getNewPlaylistId(), u"mix"_s);
        QAbstractItemModelTester tester(playlist.model());
        QFile again(path(name));
        QVERIFY(playlist.import(again));
        QCOMPARE(playlist.size(), int(entries.size()));
        QVERIFY(playlist.removeItem(1));
        playlist.shuffle();
        const Entries shuffled = RovaPlaylistFile::entriesOf(&playlist);
        QVERIFY(RovaPlaylistFile::write(path(name), &playlist, &error));
        QCOMPARE(show(RovaPlaylistFile::read(path(name)).entries), show(shuffled));
        const RovaMediaInfo info = playlist.getItemMediaInfo(int(shuffled.indexOf(expected.at(6))));
        QCOMPARE(info.uuid(), u"RovaPlaylistFile::http://h.example/a%20b?c=%25d#e"_s);
        QCOMPARE(info.metaData(u"uri"_s), QVariantList{expected.at(6).location});
        QVERIFY(info.isPlayable());
    }

    // Writing fails without touching what is there; import of an unreadable file fails with a warning.
    void shouldFailCleanly()
    {
        QString error;
        QVERIFY(make(u"keep.m3u"_s, "kept\n"));
        QVERIFY(!RovaPlaylistFile::write(path(u"keep.txt"_s), Entries{}, &error));
        QCOMPARE(error, u"the name says no playlist format (.m3u, .m3u8, .pls or .xspf)"_s);
        QVERIFY(!RovaPlaylistFile::write(path(u"nothing-here/keep.m3u"_s), Entries{}, &error) && !error.isEmpty());
        QVERIFY(!RovaPlaylistFile::write(path(u"keep.m3u/x.m3u"_s), Entries{}, &error));
        QCOMPARE(RovaPlaylistFile::read(path(u"keep.m3u"_s)).entries.size(), 1);

        RovaPlaylistFile playlist(RovaPlaylist::getNewPlaylistId(), u"mix"_s);
        QFile missing(path(u"nothing-here.m3u"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^RovaPlaylistFile::import: cannot read .*nothing-here.m3u"_s));
        QVERIFY(!playlist.import(missing));
        QVERIFY(make(u"e2.m3u8"_s, "caf\xe9.mp3\nok.mp3\n"));
        QFile partly(path(u"e2.m3u8"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^RovaPlaylistFile::import: unusable entries skipped: 1 in .*e2.m3u8\"$"_s));
        QVERIFY(playlist.import(partly));
        QCOMPARE(playlist.size(), 1);
        QTest::ignoreMessage(QtWarningMsg, "virtual RovaMediaInfo RovaPlaylistFile::getItemMediaInfo(int) 1 invalid index");
        QVERIFY(!std::unique_ptr<RovaContent>(playlist.getItem(1)));
        QCOMPARE(std::unique_ptr<RovaContent>(playlist.getItem(0))->uuid(), u"RovaPlaylistFile::"_s + QString::fromUtf8(local(u"ok.mp3"_s).toEncoded()));
    }
};

QTEST_GUILESS_MAIN(tst_RovaPlaylistFile)
#include "tst_rovaplaylistfile.moc"
