// SPDX-License-Identifier: LGPL-2.1-or-later
// What the player's --list costs: the Tracker source over 10,000 songs written by
// the player's indexer into a local store.
#include "rovamusicindexer.h"
#include "rovatrackersource.h"

#include <rovacontent.h>

#include <QtSparql/QSparqlConnectionOptions>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>

namespace {
const int songCount = 10000;
}

class bench_RovaTrackerSource : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void results(const QList<RovaContent>& items)
    {
        m_received = int(items.size());
        m_loop.quit();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // 100 artists with 10 albums of 10 songs each.
        QList<RovaMusicIndexer::Track> tracks;
        for (int i = 0; i < songCount; ++i) {
            tracks.append({ QStringLiteral("file:///music/artist%1/album%2/song%3.flac").arg(i / 100).arg(i / 10 % 10).arg(i),
                            QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC), QStringLiteral("Song %1").arg(i),
                            QStringLiteral("Artist %1").arg(i / 100), QString(), QStringLiteral("Album %1").arg(i / 10),
                            i % 10 + 1, 180 + i % 120 });
        }
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(RovaMusicIndexer(m_dir.path()).write(tracks, &error), qPrintable(error));
        qInfo("writing %d songs took %lld ms", songCount, timer.elapsed());
        m_options.setOption(QStringLiteral("databasePath"), m_dir.path());
    }

    void list_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fresh"); // a new source each time: the store is opened again
        QTest::addColumn<int>("expected");
        QTest::newRow("browse /Songs") << "browse" << "/Songs" << false << songCount;
        QTest::newRow("browse /Songs, store opened first") << "browse" << "/Songs" << true << songCount;
        QTest::newRow("browse /Songs, first 100") << "first100" << "/Songs" << false << 100;
        QTest::newRow("browse /Artists") << "browse" << "/Artists" << false << 100;
        QTest::newRow("browse /Albums") << "browse" << "/Albums" << false << 1000;
        QTest::newRow("query everything, by title") << "query" << "" << false << songCount;
        QTest::newRow("query \"artist 42\"") << "query" << "artist 42" << false << 100;
        QTest::newRow("query \"song 9999\"") << "query" << "song 9999" << false << 1;
    }
    void list()
    {
        QFETCH(QString, what);
        QFETCH(QString, text);
        QFETCH(bool, fresh);
        QFETCH(int, expected);
        std::unique_ptr<RovaTrackerSource> source;
        QBENCHMARK {
            if (!source || fresh)
                source = std::make_unique<RovaTrackerSource>(nullptr, m_options);
            m_received = -1;
            const uint id = what == QLatin1String("query")
                ? source->query(text, QStringLiteral("title"), this, SLOT(results(QList<RovaContent>)), nullptr)
                : source->browse(text, 0, what == QLatin1String("first100") ? 100 : 0, this, SLOT(results(QList<RovaContent>)), nullptr);
            QVERIFY(id > 0);
            m_loop.exec();
            QCOMPARE(m_received, expected);
        }
    }

private:
    QTemporaryDir m_dir;
    QSparqlConnectionOptions m_options;
    QEventLoop m_loop;
    int m_received = -1;
};

QTEST_GUILESS_MAIN(bench_RovaTrackerSource)
#include "bench_rovatrackersource.moc"
