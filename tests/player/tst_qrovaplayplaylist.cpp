// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play with playlist files: played in their order with their unusable entries named,
// http entries streamed from a server of the test's own, and the queue written out.
#include "playertest.h"
#include "rovawavgaps.h"

#include <rovaplaylistfile.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

class tst_QrovaPlayPlaylist : public QObject, PlayerFolder
{
    Q_OBJECT

    QList<RovaTone> tones;
    QTcpServer server; // serves music/t2.flac to whoever asks, whatever the path

    QString tone(int item) const { return path(u"music/t%1.flac"_s.arg(item)); }
    QString fileUrl(int item) const { return QString::fromUtf8(QUrl::fromLocalFile(tone(item)).toEncoded()); }
    bool write(const QString& name, const QString& content) const
    {
        QFile file(path(name));
        return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) && file.write(content.toUtf8()) >= 0;
    }
    // Runs qrova-play while this test's event loop serves the http entries.
    std::pair<QString, int> playServed(const QStringList& args)
    {
        QProcess process;
        process.setProcessEnvironment(alone(u"cache"_s));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(QROVA_PLAY), args);
        const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000);
        return {QString::fromUtf8(process.readAll()).trimmed(), ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1};
    }
    QStringList names(const QString& file) const
    {
        QStringList names;
        for (const RovaPlaylistFile::Entry& entry : RovaPlaylistFile::read(path(file)).entries)
            names << entry.location.fileName();
        return names;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(addPlugins(u"plugins"_s) && write(u"music/notes.flac"_s, u"not audio"_s) && write(u"lists/inner.m3u"_s, u""_s));
        const QString stereo = u"format=S16LE,rate=44100,channels=2"_s;
        for (int i = 1; i <= 3; ++i) {
            tones.append({220.0 * i, (i * 44100 / 1024 + 1) * 1024});
            QVERIFY(encode(tone(i), u"flacenc"_s, u"title=Tone-%1,artist=Band,album=Tones"_s.arg(i), tones.last().frames / 1024, stereo, 220 * i));
        }
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return; // the whole request first
                QFile file(tone(2));
                const QByteArray body = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: audio/x-flac\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
        const QString stream = u"http://127.0.0.1:%1/t2.flac"_s.arg(server.serverPort());
        // relative, a file URL, a missing file, a playlist, a folder, a file that is no audio, a stream
        QVERIFY(write(u"lists/mix.m3u8"_s, u"#EXTM3U\r\n../music/t3.flac\r\n%1\r\n../music/gone.flac\r\ninner.m3u\r\n../music\r\n../music/notes.flac\r\n#EXTINF:2,Web - Stream\r\n%2\r\n"_s.arg(fileUrl(1), stream)));
        QVERIFY(write(u"lists/mix.pls"_s, u"[playlist]\nFile1=%1\nFile2=../music/t3.flac\n"_s.arg(stream)));
    }

    // The entries in the playlist's order, each one that cannot be used named once.
    void shouldListAPlaylistInItsOrder()
    {
        const auto [text, code] = playServed({u"--list"_s, path(u"lists/mix.m3u8"_s)});
        const QString list = path(u"lists/mix.m3u8"_s);
        const QStringList lines = text.split(u'\n');
        QCOMPARE(lines.mid(0, 3), (QStringList{u"qrova-play: skipped %1 line 4: no such file"_s.arg(list), u"qrova-play: skipped %1 line 5: a playlist, not followed"_s.arg(list),
                                               u"qrova-play: skipped %1 line 6: a folder"_s.arg(list)}));
        QVERIFY2(lines.value(3).startsWith(u"qrova-play: skipped %1: "_s.arg(path(u"music/notes.flac"_s))), qPrintable(text));
        QCOMPARE(lines.mid(4), (QStringList{u"1. Tone-3 - Band (Tones) 0:03"_s, u"2. Tone-1 - Band (Tones) 0:01"_s, u"3. Stream - Web 0:02"_s}));
        QCOMPARE(code, 0);
    }

    // Played in order, local files and a stream alike, gaplessly; with --play the queue is written at the end.
    void shouldRenderAPlaylistInItsOrder_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("m3u8") << u"lists/mix.m3u8"_s << QList<int>{3, 1, 2};
        QTest::newRow("pls") << u"lists/mix.pls"_s << QList<int>{2, 3};
    }

    void shouldRenderAPlaylistInItsOrder()
    {
        QFETCH(QString, list);
        QFETCH(QList<int>, order);
        const QString wav = path(QString::fromLatin1(QTest::currentDataTag()) + u".wav"_s), saved = path(u"played.xspf"_s);
        const auto [text, code] = playServed({u"--output"_s, wav, u"--save-playlist"_s, saved, u"--play"_s, path(list)});
        QVERIFY2(code == 0, qPrintable(text));
        QList<RovaTone> played;
        QStringList expected;
        for (int item : order) {
            played << tones.at(item - 1);
            expected << u"t%1.flac"_s.arg(item);
        }
        const RovaWav rendered = RovaWav::read(wav);
        QVERIFY2(rendered.error.isEmpty(), qPrintable(rendered.error));
        QCOMPARE(rendered.gaps(played), QList<qint64>(order.size() - 1, 0));
        QCOMPARE(names(u"played.xspf"_s), expected);
    }

    // --save-playlist writes the queue (after --search, --shuffle) and exits; below its folder relative.
    void shouldSaveTheQueue_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("content"); // exact, or empty when only the names count
        QTest::addColumn<QStringList>("names"); // in order, or sorted after a shuffle
        QTest::newRow("search") << QStringList{u"--search"_s, u"tone-2"_s, path(u"music"_s)} << u"out.m3u8"_s << u"#EXTM3U\n#EXTINF:2,Band - Tone-2\nmusic/t2.flac\n"_s << QStringList{u"t2.flac"_s};
        QTest::newRow("from a playlist") << QStringList{path(u"lists/mix.m3u8"_s)} << u"lists/out.pls"_s << u""_s << QStringList{u"t3.flac"_s, u"t1.flac"_s, u"t2.flac"_s};
        QTest::newRow("shuffled") << QStringList{u"--shuffle"_s, path(u"music"_s)} << u"out.m3u"_s << u""_s << QStringList{u"t1.flac"_s, u"t2.flac"_s, u"t3.flac"_s};
    }

    void shouldSaveTheQueue()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, file);
        QFETCH(QString, content);
        QFETCH(QStringList, names);
        const auto [text, code] = playServed(QStringList{u"--save-playlist"_s, path(file)} + args);
        QCOMPARE(code, 0);
        QStringList saved = this->names(file);
        if (args.contains(u"--shuffle"_s))
            saved.sort();
        QCOMPARE(saved, names);
        QFile written(path(file));
        QVERIFY(written.open(QIODevice::ReadOnly));
        if (!content.isEmpty())
            QCOMPARE(QString::fromUtf8(written.readAll()), content);
    }
};

QTEST_GUILESS_MAIN(tst_QrovaPlayPlaylist)
#include "tst_qrovaplayplaylist.moc"
