// SPDX-License-Identifier: LGPL-2.1-or-later
// The Tracker source on the desktop's own files miner and extractor, run on a private
// session bus over files made with gst-launch-1.0.
#include "rovatrackerfixture.h"
#include "rovatrackersource.h"

#include <rovacontent.h>
#include <rovaerror.h>

#include <QtSparql/QtSparql>

#include <QDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {
const QString minerName = u"org.freedesktop.Tracker3.Miner.Files"_s;
}

class MinerReceiver : public QObject
{
    Q_OBJECT
public:
    QStringList answers; // per answer: the titles split by '|', or "error <code>: <message>"
public Q_SLOTS:
    void queryResults(const QList<RovaContent>& items, uint)
    {
        QStringList titles;
        for (const RovaContent& item : items)
            titles += item.metaData(RovaTrackerSource::ROVA_KEY_TITLE).toString();
        answers += titles.join(u'|');
    }
    void errorResult(const RovaError& error) { answers += u"error %1: %2"_s.arg(int(error.code())).arg(error.message()); }
};

class tst_RovaTrackerMiner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString music = m_dir.filePath(u"music"_s);
        QVERIFY(QDir(music).mkpath(u"Band"_s));
        const QString tone = u"-q audiotestsrc num-buffers=20 samplesperbuffer=800 ! audio/x-raw,rate=8000,channels=1 ! %1 ! filesink location=\"%2\""_s;
        for (const auto& [encoder, file] : {std::pair(u"taginject tags=\"title=Tone,artist=Band\" ! flacenc"_s, u"Band/t1.flac"_s),
                                            std::pair(u"wavenc"_s, u"un tagged 100%.v2.wav"_s)})
            QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(tone.arg(encoder, music + u'/' + file))), 0);
        QVERIFY2(m_miner.start(music), qPrintable(m_miner.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_miner.busAddress().toUtf8());
        qunsetenv("QSPARQL_TRACKER_BUS_NAME");
        qunsetenv("QSPARQL_TRACKER_DATABASE");
        m_source = std::make_unique<RovaTrackerSource>(); // the desktop's store, as by default

        // The first query starts the miner; its first start, which makes its store, is slow.
        QSparqlConnection connection(u"QTRACKER"_s);
        const QSparqlQuery count(u"SELECT (COUNT(?s) AS ?n) { ?s a nmm:MusicPiece }"_s);
        QTRY_COMPARE_WITH_TIMEOUT(
            [&] {
                std::unique_ptr<QSparqlResult> result(connection.syncExec(count));
                return result->first() ? result->stringValue(0) : result->lastError().message();
            }(),
            u"2"_s, 240000);
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldCallUntaggedSongsByTheirFileName()
    {
        MinerReceiver receiver;
        QVERIFY(m_source->query(QString(), u"title"_s, &receiver, SLOT(queryResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))));
        QTRY_COMPARE(receiver.answers, QStringList{u"un tagged 100%.v2|Tone"_s});
    }

    void shouldAnswerWhenTheMinerGoesAwayDuringAQuery_data()
    {
        QTest::addColumn<bool>("staysAway");
        QTest::addColumn<QString>("answer");
        QTest::newRow("started again by the bus") << false << u"un tagged 100%.v2|Tone"_s;
        QTest::newRow("not started again") << true
                                           << u"error 406: The Tracker endpoint \"%1\" went away and could not be reached again: "
                                              "The name %1 was not provided by any .service files"_s.arg(minerName);
    }
    void shouldAnswerWhenTheMinerGoesAwayDuringAQuery()
    {
        QFETCH(bool, staysAway);
        QFETCH(QString, answer);
        const qint64 miner = m_miner.processId();
        QVERIFY(miner > 0);
        QVERIFY(!staysAway || m_miner.removeMinerService());
        // The query waits in the stopped miner, which is then killed: the bus answers for it.
        QProcess monitor;
        QByteArray seen;
        const auto saw = [&](const char* what) { return (seen += monitor.readAllStandardOutput()).contains(what); };
        monitor.start(u"dbus-monitor"_s, {u"--address"_s, m_miner.busAddress(), u"destination='%1'"_s.arg(minerName)});
        const auto endMonitor = qScopeGuard([&monitor] { monitor.kill(), monitor.waitForFinished(); });
        QTRY_VERIFY(saw("NameLost")); // monitoring
        MinerReceiver receiver;
        const auto ask = [&] {
            return m_source->query(QString(), u"title"_s, &receiver, SLOT(queryResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError)));
        };
        QVERIFY(ask());
        QTRY_COMPARE(receiver.answers.size(), 1); // the source's connection is open
        QVERIFY(::kill(pid_t(miner), SIGSTOP) == 0);
        QVERIFY(ask());
        QTRY_VERIFY(saw("member=Query"));
        QVERIFY(::kill(pid_t(miner), SIGKILL) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(receiver.answers.size() == 2, 120000);
        QCOMPARE(receiver.answers.last(), answer);
    }

private:
    QTemporaryDir m_dir;
    RovaTrackerMiner m_miner;
    std::unique_ptr<RovaTrackerSource> m_source;
};

QTEST_GUILESS_MAIN(tst_RovaTrackerMiner)
#include "tst_rovatrackerminer.moc"
