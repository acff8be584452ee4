// SPDX-License-Identifier: LGPL-2.1-or-later
// The player's indexer over tones made with gst-launch-1.0, read back through the
// Tracker source and the renderer's own lookup.
#include "rovamusicindexer.h"
#include "rovatrackersource.h"

#include <rovacontent.h>
#include <rovarendererplaylisthandler.h>

#include <QtSparql/QtSparql>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class tst_RovaMusicIndexer : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void listResults(const QList<RovaContent>& items)
    {
        for (const RovaContent& item : items) {
            QStringList values;
            for (const char* key : { "title", "artist", "album", "track-number", "duration" })
                values += item.metaData(QString::fromLatin1(key)).toString();
            m_listed += values.join(QLatin1Char('|'));
            m_urls += item.metaData(QStringLiteral("uri")).toUrl();
        }
        m_answered = true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("music/Band")));
        // Two-second tones at 8 kHz: 20 buffers of 800 samples.
        const QString tone = QStringLiteral("audiotestsrc num-buffers=20 samplesperbuffer=800 ! audio/x-raw,rate=8000,channels=1 ! ");
        makeTone(tone + QStringLiteral("taginject tags=\"title=Tone-1,artist=Band,album=Tones,track-number=(uint)1\" ! flacenc"), QStringLiteral("music/Band/t1.flac"));
        makeTone(tone + QStringLiteral("taginject tags=\"title=Tone-2,artist=Band,album=Tones,track-number=(uint)2\" ! flacenc"), QStringLiteral("music/Band/t2.flac"));
        makeTone(tone + QStringLiteral("wavenc"), QStringLiteral("music/un tagged.wav"));
        QFile broken(path(QStringLiteral("music/broken.mp3")));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not audio at all") > 0);
        QFile text(path(QStringLiteral("music/notes.txt"))); // not looked at in a directory
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("notes") > 0);
    }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldIndexOnceAndSkipUnchangedFiles()
    {
        RovaMusicIndexer indexer(path(QStringLiteral("store")));
        const QStringList paths{ path(QStringLiteral("music")), path(QStringLiteral("music/Band/t1.flac")), path(QStringLiteral("gone")) };
        const QString counts = QStringLiteral("%1 indexed, %2 unchanged, failed: %3");
        auto run = [&]() -> QString {
            const RovaIndexResult result = indexer.index(paths);
            QStringList failed;
            for (const QString& line : result.failed)
                failed += line.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('/'), -1);
            return result.storeError + counts.arg(result.indexed).arg(result.unchanged).arg(failed.join(QLatin1Char(',')));
        };
        QCOMPARE(run(), counts.arg(3).arg(0).arg(QStringLiteral("gone,broken.mp3")));
        QCOMPARE(run(), counts.arg(0).arg(3).arg(QStringLiteral("gone,broken.mp3")));
        QFile t2(path(QStringLiteral("music/Band/t2.flac")));
        QVERIFY(t2.open(QIODevice::ReadWrite));
        QVERIFY(t2.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60), QFileDevice::FileModificationTime));
        t2.close();
        QCOMPARE(run(), counts.arg(1).arg(2).arg(QStringLiteral("gone,broken.mp3")));
        QCOMPARE(RovaMusicIndexer(path(QStringLiteral("store/meta.db/x"))).index(paths).storeError.isEmpty(), false);
    }

    void shouldStoreWhatTheSourceListsAndTheRendererFinds()
    {
        QSparqlConnectionOptions options;
        options.setOption(QStringLiteral("databasePath"), path(QStringLiteral("store")));
        RovaTrackerSource source(nullptr, options);
        QVERIFY(source.query(QString(), QStringLiteral("title"), this, SLOT(listResults(QList<RovaContent>)), nullptr) > 0);
        QTRY_VERIFY(m_answered);
        QCOMPARE(m_listed, (QStringList{ QStringLiteral("Tone-1|Band|Tones|1|2"), QStringLiteral("Tone-2|Band|Tones|2|2"),
                                         QStringLiteral("un tagged|||0|2") }));
        QSparqlConnection connection(QStringLiteral("QTRACKER"), options);
        for (const QUrl& url : std::as_const(m_urls)) {
            QVERIFY(url.isLocalFile() && QFile::exists(url.toLocalFile()));
            const QString id = QString::fromLatin1(url.toEncoded());
            std::unique_ptr<QSparqlResult> result(connection.syncExec(QSparqlQuery(RovaRendererPlaylistHandler::basicMetadataQuery.arg(id))));
            QVERIFY2(result->next(), qPrintable(id));
            QCOMPARE(result->stringValue(0), id);
        }
    }

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void makeTone(const QString& pipeline, const QString& file)
    {
        QProcess gst;
        gst.start(QStringLiteral("gst-launch-1.0"), QProcess::splitCommand(QString(QStringLiteral("-q ") + pipeline)) << QStringLiteral("!")
                      << QStringLiteral("filesink") << QString(QStringLiteral("location=") + path(file)));
        QVERIFY2(gst.waitForFinished(30000) && gst.exitCode() == 0, gst.readAllStandardError().constData());
    }

    QTemporaryDir m_dir;
    QStringList m_listed;
    QList<QUrl> m_urls;
    bool m_answered = false;
};

QTEST_GUILESS_MAIN(tst_RovaMusicIndexer)
#include "tst_rovamusicindexer.moc"
