// SPDX-License-Identifier: LGPL-2.1-or-later
// One item lookup through the playlist handler (a Next step until MetadataReady
// reaches the state machine) against a bare QSparqlConnection::exec of the same
// query, 1,000 different items in a row, on one local store of 10,000 items.
#include "rovatrackerfixture.h"

#include <rovaplaylistbase.h>
#include <rovarendererevent.h>
#include <rovarendererplaylisthandler.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractTransition>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QStateMachine>
#include <QStringListModel>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {
const int itemCount = 10000;
const int steps = 1000;

QString identifier(int item)
{
    return QStringLiteral("src::") + RovaTrackerFixture::item(item).objectId;
}

class IdentifierPlaylist : public RovaPlaylistBase
{
public:
    explicit IdentifierPlaylist(QAbstractItemModel* model)
        : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), QStringLiteral("bench"))
    {
        setUnderlyingModel(model);
    }
    RovaMediaInfo getItemMediaInfo(int index) override
    {
        return RovaMediaInfo(model()->index(index, 0).data().toString());
    }
};

// Ends the running event loop when MetadataReady reaches the machine.
class ReadyTransition : public QAbstractTransition
{
public:
    QEventLoop* loop = nullptr;
    int ready = 0;

protected:
    bool eventTest(QEvent* event) override
    {
        if (event->type() == QEvent::Type(RovaRendererEvent::MetadataReady)) {
            ++ready;
            if (loop)
                loop->quit();
        }
        return false;
    }
    void onTransition(QEvent*) override {}
};

// A handler on a bare running machine over the playlist of all items, and a
// connection of its own to the same store for the bare queries.
struct Bench
{
    explicit Bench(QAbstractItemModel& model)
        : playlist(&model)
    {
        auto* root = new QState(&machine);
        root->addTransition(ready);
        machine.setInitialState(root);
        machine.start();
        (void)QTest::qWaitFor([this] { return machine.isRunning(); });
        handler.setStateMachine(&machine);
        handler.setPlaylist(&playlist);
        (void)QTest::qWaitFor([this] { return ready->ready == 1; });
        ready->loop = &loop;
    }
    bool isReady() const { return ready->ready == 1 && machine.isRunning(); }

    // What the command transition does for Next.
    void next()
    {
        if (handler.stepForward(1) || handler.gotoFirst()) {
            handler.updateItemPlaying(1);
            handler.fetchBasicMetadata();
        }
    }
    void viaHandler()
    {
        next();
        loop.exec();
    }
    // The same query for the next item, straight through the connection;
    // with \a machine the answer is posted to the machine as the handler does.
    void viaExec(bool machine)
    {
        item = (item + 1) % itemCount;
        std::unique_ptr<QSparqlResult> result(connection.exec(
            QSparqlQuery(RovaRendererPlaylistHandler::basicMetadataQuery.arg(RovaTrackerFixture::item(item).objectId))));
        if (machine) {
            QObject::connect(result.get(), &QSparqlResult::finished, &this->machine,
                             [this] { this->machine.postEvent(new RovaRendererEvent(RovaRendererEvent::MetadataReady)); });
        } else {
            QObject::connect(result.get(), &QSparqlResult::finished, &loop, &QEventLoop::quit);
        }
        loop.exec();
        if (result->first() && !result->stringValue(0).isEmpty())
            found += !result->stringValue(1).isNull() && !result->stringValue(2).isNull();
    }

    QSparqlConnection connection{QStringLiteral("QTRACKER")};
    IdentifierPlaylist playlist;
    QStateMachine machine;
    ReadyTransition* ready = new ReadyTransition;
    RovaRendererPlaylistHandler handler;
    QEventLoop loop;
    int item = 0;
    int found = 0;
};
} // namespace

class bench_RovaRendererPlaylistHandler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The playlist traces every call at debug level; that is not what is measured.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        m_store = std::make_unique<RovaTrackerFixture>(itemCount);
        QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
        m_store->makeDefault();
        QStringList identifiers;
        for (int i = 0; i < itemCount; ++i)
            identifiers << identifier(i);
        m_model.setStringList(identifiers);
    }

    void lookups_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("exec") << QStringLiteral("exec");
        QTest::newRow("exec, answer through the machine") << QStringLiteral("exec+machine");
        QTest::newRow("handler") << QStringLiteral("handler");
        QTest::newRow("handler, steps without waiting") << QStringLiteral("burst");
    }

    // 1,000 lookups of different items, each waited for; "burst" makes the
    // 1,000 steps at once and waits for the one lookup that is left.
    void lookups()
    {
        QFETCH(QString, way);
        Bench bench(m_model);
        QVERIFY(bench.isReady());
        QBENCHMARK {
            for (int i = 0; i < steps; ++i) {
                if (way == QLatin1String("burst"))
                    bench.next();
                else if (way == QLatin1String("handler"))
                    bench.viaHandler();
                else
                    bench.viaExec(way == QLatin1String("exec+machine"));
            }
            if (way == QLatin1String("burst"))
                bench.loop.exec();
        }
        QVERIFY(way.startsWith(QLatin1String("exec")) ? bench.found > 0 : bench.handler.currentContent()->isPlayable());
    }

    // The two ways in turns, lookup by lookup, so that both meet the same load
    // of a shared machine: medians and 90th percentiles of single lookups.
    void interleaved()
    {
        Bench bench(m_model);
        QVERIFY(bench.isReady());
        QList<qint64> handler, exec;
        QElapsedTimer timer;
        for (int i = 0; i < 2 * steps; ++i) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool viaHandler = (i + turn) % 2 == 0;
                timer.start();
                viaHandler ? bench.viaHandler() : bench.viaExec(false);
                (viaHandler ? handler : exec) << timer.nsecsElapsed();
            }
        }
        std::sort(handler.begin(), handler.end());
        std::sort(exec.begin(), exec.end());
        const auto at = [](const QList<qint64>& list, double share) { return list.at(int(share * (list.size() - 1))) / 1000.0; };
        qInfo("per lookup, median (90th percentile): handler %.1f us (%.1f), exec %.1f us (%.1f); handler / exec %.2f",
              at(handler, 0.5), at(handler, 0.9), at(exec, 0.5), at(exec, 0.9), at(handler, 0.5) / at(exec, 0.5));
    }

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    QStringListModel m_model;
};

QTEST_GUILESS_MAIN(bench_RovaRendererPlaylistHandler)
#include "bench_rovarendererplaylisthandler.moc"
