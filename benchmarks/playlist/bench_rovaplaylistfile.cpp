// SPDX-License-Identifier: LGPL-2.1-or-later
// A 100,000-entry extended M3U8 read into a playlist and written back, each compared
// with reading and writing the same lines with plain QFile line I/O in the same run.
#include <rovaplaylistfile.h>

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class bench_RovaPlaylistFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString source;
    QStringList lines;

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(u"*.debug=false"_s);
        source = dir.filePath(u"mix.m3u8"_s);
        lines << u"#EXTM3U"_s;
        for (int i = 0; i < 100000; ++i) {
            lines << u"#EXTINF:%1,Artist %2 - Title of song %3"_s.arg(120 + i % 300).arg(i % 997).arg(i);
            lines << u"music/Artist %1/Album %2/%3 Title of song %3.flac"_s.arg(i % 997).arg(i % 97).arg(i);
        }
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QString& line : std::as_const(lines))
            file.write(line.toUtf8() + '\n');
    }

    void readPlainLines()
    {
        QBENCHMARK {
            QFile file(source);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QStringList read;
            while (!file.atEnd())
                read << QString::fromUtf8(file.readLine());
            QCOMPARE(read.size(), lines.size());
        }
    }

    void readIntoPlaylist()
    {
        QBENCHMARK {
            RovaPlaylistFile playlist(RovaPlaylist::getNewPlaylistId(), u"mix"_s);
            QFile file(source);
            QVERIFY(playlist.import(file));
            QCOMPARE(playlist.size(), 100000);
        }
    }

    void writePlainLines()
    {
        const QString target = dir.filePath(u"plain.m3u8"_s);
        QBENCHMARK {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            for (const QString& line : std::as_const(lines))
                file.write(line.toUtf8() + '\n');
        }
    }

    // The same through QSaveFile, whose commit waits for the disk: what writing atomically costs.
    void writePlainLinesAtomically()
    {
        const QString target = dir.filePath(u"saved.m3u8"_s);
        QBENCHMARK {
            QSaveFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (const QString& line : std::as_const(lines))
                file.write(line.toUtf8() + '\n');
            QVERIFY(file.commit());
        }
    }

    void writeFromPlaylist()
    {
        RovaPlaylistFile playlist(RovaPlaylist::getNewPlaylistId(), u"mix"_s);
        QFile file(source);
        QVERIFY(playlist.import(file));
        const QString target = dir.filePath(u"written.m3u8"_s);
        QBENCHMARK {
            QVERIFY(RovaPlaylistFile::write(target, &playlist));
        }
        QFile written(target);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().count('\n'), lines.size());
    }
};

QTEST_GUILESS_MAIN(bench_RovaPlaylistFile)
#include "bench_rovaplaylistfile.moc"
