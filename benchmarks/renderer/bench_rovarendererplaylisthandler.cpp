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
#include <QEventLoop>
#include <QLoggingCategory>
#include <QStateMachine>
#include <QStringListModel>
#include <QTest>

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
        QSparqlConnection connection(QStringLiteral("QTRACKER"));
        IdentifierPlaylist playlist(&m_model);
        QStateMachine machine;
        auto* root = new QState(&machine);
        auto* ready = new ReadyTransition;
        root->addTransition(ready);
        machine.setInitialState(root);
        machine.start();
        QVERIFY(QTest::qWaitFor([&] { return machine.isRunning(); }));
        RovaRendererPlaylistHandler handler;
        handler.setStateMachine(&machine);
        handler.setPlaylist(&playlist);
        QVERIFY(QTest::qWaitFor([&] { return ready->ready == 1; }));

        QEventLoop loop;
        ready->loop = &loop;
        int item = 0;
        int found = 0;
        const auto next = [&] {
            if (handler.stepForward(1) || handler.gotoFirst()) {
                handler.updateItemPlaying(1);
                handler.fetchBasicMetadata();
            }
        };
        QBENCHMARK {
            for (int i = 0; i < steps; ++i) {
                item = (item + 1) % itemCount;
                if (way.startsWith(QLatin1String("exec"))) {
                    std::unique_ptr<QSparqlResult> result(connection.exec(QSparqlQuery(
                        RovaRendererPlaylistHandler::basicMetadataQuery.arg(RovaTrackerFixture::item(item).objectId))));
                    if (way == QLatin1String("exec")) {
                        connect(result.get(), &QSparqlResult::finished, &loop, &QEventLoop::quit);
                    } else {
                        connect(result.get(), &QSparqlResult::finished, &machine,
                                [&machine] { machine.postEvent(new RovaRendererEvent(RovaRendererEvent::MetadataReady)); });
                    }
                    loop.exec();
                    if (result->first() && !result->stringValue(0).isEmpty()) {
                        const QString count = result->stringValue(1);
                        const QString duration = result->stringValue(2);
                        found += !count.isNull() && !duration.isNull();
                    }
                } else {
                    next();
                    if (way == QLatin1String("handler"))
                        loop.exec();
                }
            }
            if (way == QLatin1String("burst"))
                loop.exec();
        }
        if (way.startsWith(QLatin1String("exec")))
            QVERIFY(found > 0);
        else
            QVERIFY(handler.currentContent()->isPlayable());
    }

private:
    std::unique_ptr<RovaTrackerFixture> m_store;
    QStringListModel m_model;
};

QTEST_GUILESS_MAIN(bench_RovaRendererPlaylistHandler)
#include "bench_rovarendererplaylisthandler.moc"
