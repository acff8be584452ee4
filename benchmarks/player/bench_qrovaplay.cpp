// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-play on a local store of 10,000 songs, as a user runs it: the time of
// `qrova-play --list` from start to exit, and of `qrova-play --output` from
// start until it says the first song plays. The first song is a real tone; the
// others are songs of the store whose files are not there (the player stops at
// the second one, which is after what is measured).
#include "rovamusicindexer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {
const int songCount = 10000;
const int runs = 5;
} // namespace

class bench_QrovaPlay : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QROVA_PLUGIN_DIR"), m_dir.filePath(QStringLiteral("plugins")));
        env.insert(QStringLiteral("QSPARQL_TRACKER_DATABASE"), m_dir.filePath(QStringLiteral("store")));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        return env;
    }

    // Milliseconds from the start of qrova-play \a args until \a line appears in its output (or it exits).
    qint64 timeUntil(const QStringList& args, const QByteArray& line)
    {
        QProcess player;
        player.setProcessEnvironment(environment());
        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        player.start(QStringLiteral(QROVA_PLAY), args);
        while (player.waitForReadyRead(30000) || player.state() == QProcess::Running) {
            output += player.readAllStandardOutput();
            if (!line.isEmpty() && output.contains(line))
                break;
            if (timer.elapsed() > 60000)
                break;
        }
        const qint64 elapsed = timer.elapsed();
        if (player.state() == QProcess::Running) {
            player.kill(); // our own child
            player.waitForFinished();
        }
        return elapsed;
    }

    static qint64 median(QList<qint64> values)
    {
        std::sort(values.begin(), values.end());
        return values.at(values.size() / 2);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("plugins"))));
        for (const QString& plugin : {QStringLiteral(QROVA_RENDERER_PLUGIN), QStringLiteral(QROVA_SOURCE_PLUGIN)})
            QVERIFY(QFile::copy(plugin, m_dir.filePath(QStringLiteral("plugins/")) + QFileInfo(plugin).fileName()));
        const QString tone = m_dir.filePath(QStringLiteral("first.flac"));
        QCOMPARE(QProcess::execute(QStringLiteral("gst-launch-1.0"),
                                   {QStringLiteral("-q"), QStringLiteral("audiotestsrc"), QStringLiteral("num-buffers=40"),
                                    QStringLiteral("!"), QStringLiteral("flacenc"), QStringLiteral("!"),
                                    QStringLiteral("filesink"), QStringLiteral("location=") + tone}),
                 0);
        QList<RovaMusicIndexer::Track> tracks;
        RovaMusicIndexer::Track first;
        QVERIFY(RovaMusicIndexer::readTrack(tone, &first, nullptr));
        first.artist = QStringLiteral("A first artist");
        tracks.append(first);
        for (int i = 1; i < songCount; ++i) {
            tracks.append({QStringLiteral("file:///music/artist%1/song%2.flac").arg(i / 100).arg(i),
                           QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC), QStringLiteral("Song %1").arg(i),
                           QStringLiteral("Artist %1").arg(i / 100), QString(), QStringLiteral("Album %1").arg(i / 10),
                           i % 10 + 1, 180});
        }
        QString error;
        QVERIFY2(RovaMusicIndexer(m_dir.filePath(QStringLiteral("store"))).write(tracks, &error), qPrintable(error));
    }

    void listAndStart()
    {
        QList<qint64> list;
        QList<qint64> start;
        for (int run = 0; run < runs; ++run) {
            list << timeUntil({QStringLiteral("--list")}, QByteArray());
            start << timeUntil({QStringLiteral("--output"), m_dir.filePath(QStringLiteral("out.wav"))},
                               QByteArrayLiteral("Playing 1/10000"));
        }
        qInfo("qrova-play over %d songs: --list %lld ms, start of playback %lld ms (medians of %d runs; target 2000 ms)",
              songCount, median(list), median(start), runs);
    }
};

QTEST_GUILESS_MAIN(bench_QrovaPlay)
#include "bench_qrovaplay.moc"
