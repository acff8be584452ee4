// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatrackerfixture.h"

#include <rovacontent.h>
#include <rovaplaylistbase.h>
#include <rovarendererevent.h>
#include <rovarendererplaylisthandler.h>

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QAbstractTransition>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStateMachine>
#include <QStringListModel>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

// QFETCH as an expression.
#define FETCHED(Type, name) (*static_cast<Type*>(QTest::qData(#name, ::qMetaTypeId<Type>())))

namespace {

QString id(int item) { return u"src::"_s + RovaTrackerFixture::item(item).objectId; }
QStringList ids(int count, int first = 0)
{
    QStringList list;
    for (int i = first; i < first + count; ++i)
        list << id(i);
    return list;
}

// An item's short name, "7" for "src::urn:rova:media:7"; with its looked-up
// metadata when \a full: "7 file:///rova/media/item7.mp3 67 2".
QString describe(const RovaMediaInfo* info, bool full = true)
{
    if (!info)
        return u"none"_s;
    QString text = info->uuid().isEmpty() && info->metaData().contains(u"uri"_s) ? u"uri"_s
                                                                                          : info->uuid().section(u':', -1);
    if (full && info->metaData().contains(u"uri"_s) && !info->uuid().isEmpty()) {
        for (const char* key : {"uri", "duration", "play-count"})
            text += u' ' + info->firstMetaData(QLatin1String(key)).toString();
    }
    return text;
}

// Items named by the model's column 0 as it stands.
class RawPlaylist : public RovaPlaylistBase
{
public:
    explicit RawPlaylist(QAbstractItemModel* model)
        : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), u"test"_s)
    {
        setUnderlyingModel(model);
    }
    RovaMediaInfo getItemMediaInfo(int index) override { return RovaMediaInfo(model()->index(index, 0).data().toString()); }
};

const QEvent::Type markerType = QEvent::Type(QEvent::User + 901);
const QEvent::Type flushType = QEvent::Type(QEvent::User + 902);

// A handler on a running bare machine and a playlist. The log holds the
// handler's signals as they come and the events it posted as the machine takes
// them; "!" marks an event that overtook a normal one posted before it (high
// priority).
struct Rig : QObject
{
    QStringListModel model;
    std::unique_ptr<RawPlaylist> playlist;
    QStateMachine machine;
    RovaRendererPlaylistHandler handler;
    QStringList log;
    int markers = 0;
    bool flushed = false;

    struct Recorder : QAbstractTransition
    {
        Rig* rig;
        bool eventTest(QEvent* e) override
        {
            static const QHash<int, QString> names{{1002, u"Stop"_s}, {1003, u"Pause"_s},
                {1010, u"PrepareNext"_s}, {1011, u"RefreshNext"_s},
                {1012, u"NextReady"_s}, {1014, u"Ready"_s}};
            if (e->type() == markerType)
                --rig->markers;
            else if (e->type() == flushType)
                rig->flushed = true;
            else if (e->type() >= 1000 && e->type() <= 1016)
                rig->log << names.value(e->type(), QString::number(e->type())) + (rig->markers > 0 ? u"!"_s : QString());
            return false;
        }
        void onTransition(QEvent*) override {}
    };

    explicit Rig(const QStringList& items = {})
        : model(items)
        , playlist(new RawPlaylist(&model))
    {
        auto* root = new QState(&machine);
        auto* recorder = new Recorder;
        recorder->rig = this;
        root->addTransition(recorder);
        machine.setInitialState(root);
        machine.start();
        (void)QTest::qWaitFor([this] { return machine.isRunning(); });
        handler.setStateMachine(&machine);
        using H = RovaRendererPlaylistHandler;
        connect(&handler, &H::currentItemChanged, this, [this](int index, const RovaMediaInfo& info) {
            const QString name = describe(&info, false);
            log << u"item(%1%2)"_s.arg(index).arg(name.isEmpty() ? QString() : u',' + name);
        });
        connect(&handler, &H::currentPlaylistChanged, this,
                [this](RovaPlaylist* p) { log << (p ? u"list"_s : u"list(null)"_s); });
        connect(&handler, &H::playlistHandlingError, this, [this](const RovaError& e) {
            log << u"error(%1:%2)"_s.arg(int(e.code())).arg(e.message());
            arm();
        });
        connect(&handler, &H::noMoreItemsToPlay, this, [this] { log << u"end"_s; });
    }

    void arm()
    {
        ++markers;
        machine.postEvent(new QEvent(markerType));
    }

    // Runs \a action; waits for \a until in the log (else for the current
    // item's lookup), and for the machine to take what was posted.
    QString run(const std::function<void()>& action, const QString& until = QString())
    {
        log.clear();
        arm();
        action();
        (void)QTest::qWaitFor([&] { return until.isEmpty() ? !handler.metadataFetchOngoing() : log.join(u' ').contains(until); }, 20000);
        flushed = false;
        machine.postEvent(new QEvent(flushType));
        (void)QTest::qWaitFor([this] { return flushed; });
        return log.join(u' ');
    }

    // What the command transition does for Next, Previous and GotoIndex.
    void command(const QString& name, uint index = 0)
    {
        bool moved = false;
        if (name == u"next"_s) {
            moved = handler.stepForward(1) || handler.gotoFirst();
        } else if (name == u"previous"_s) {
            moved = handler.stepBack(1) || handler.gotoLast();
        } else {
            handler.cancelNextPreparation();
            moved = handler.gotoIndex(index);
        }
        if (moved) {
            handler.updateItemPlaying(1);
            handler.fetchBasicMetadata();
        }
    }

    // Assigns the playlist at \a current (with \a mode) and waits for the lookup.
    void start(int current = 0, RovaPlaylist::RovaRepeatMode mode = RovaPlaylist::RepeatNone)
    {
        playlist->setRepeat(mode);
        run([&] { handler.setPlaylist(playlist.get()); });
        if (current)
            run([&] { command(u"goto"_s, uint(current)); });
    }
};

} // namespace

class tst_RovaRendererPlaylistHandler : public QObject
{
    Q_OBJECT
    std::unique_ptr<RovaTrackerFixture> m_store;

private Q_SLOTS:
    void initTestCase()
    {
        m_store = std::make_unique<RovaTrackerFixture>(40);
        QVERIFY2(m_store->isValid(), qPrintable(m_store->errorString()));
        m_store->makeDefault();
        QSparqlConnection connection(u"QTRACKER"_s);
        std::unique_ptr<QSparqlResult> insert(connection.syncExec(QSparqlQuery(
            u"INSERT DATA { <urn:rova:nourl> a nfo:FileDataObject ; nie:url \"\" }"_s, QSparqlQuery::InsertStatement)));
        QVERIFY(!insert->hasError());
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldLoadAndLookUpTheAssignedPlaylist_data()
    {
        QTest::addColumn<int>("items"); // -1: no playlist at all
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("content");
        QTest::newRow("empty") << 0 << -1 << "list" << "none";
        QTest::newRow("nothing current") << 5 << -1 << "list item(0,0) Ready" << "0 file:///rova/media/item0.mp3 60 0";
        QTest::newRow("current index 3, no counts stored") << 5 << 3 << "list item(3,3) Ready" << "3 file:///rova/media/item3.mp3 0 0";
        QTest::newRow("null") << -1 << -1 << "list(null) item(-1)" << "none";
    }
    void shouldLoadAndLookUpTheAssignedPlaylist()
    {
        QFETCH(int, items);
        QFETCH(int, current);
        Rig rig(ids(qMax(items, 0)));
        if (current >= 0)
            delete rig.playlist->getItem(current);
        QCOMPARE(rig.run([&] { rig.handler.setPlaylist(items < 0 ? nullptr : rig.playlist.get()); }), FETCHED(QString, log));
        QCOMPARE(describe(rig.handler.currentContent()), FETCHED(QString, content));
        QCOMPARE(rig.handler.currentPlaylistID(), items < 0 ? QString() : rig.playlist->id());
        if (RovaMediaInfo* info = rig.handler.currentContent()) {
            QCOMPARE(info->metaData().keys(), QStringList({u"duration"_s, u"play-count"_s, u"uri"_s}));
            QCOMPARE(info->firstMetaData(u"uri"_s).typeId(), QMetaType::QUrl);
            QCOMPARE(info->firstMetaData(u"duration"_s).typeId(), QMetaType::Int);
        }
    }

    void shouldStepThroughTheEndsAsThePlaylistSays_data()
    {
        QTest::addColumn<RovaPlaylist::RovaRepeatMode>("mode");
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("log");
        const auto none = RovaPlaylist::RepeatNone, one = RovaPlaylist::RepeatOne, all = RovaPlaylist::RepeatAll;
        QTest::newRow("next, middle") << none << 0 << "next" << "item(1,1) Ready";
        QTest::newRow("next past the end, none: first") << none << 4 << "next" << "item(0,0) Ready";
        QTest::newRow("next past the end, all: wraps") << all << 4 << "next" << "item(0,0) Ready";
        QTest::newRow("next, one: stays") << one << 4 << "next" << "Ready";
        QTest::newRow("previous, middle") << none << 4 << "previous" << "item(3,3) Ready";
        QTest::newRow("previous before the start, none: last") << none << 0 << "previous" << "item(4,4) Ready";
        QTest::newRow("previous before the start, all: wraps") << all << 0 << "previous" << "item(4,4) Ready";
        QTest::newRow("previous, one: stays") << one << 0 << "previous" << "Ready";
    }
    void shouldStepThroughTheEndsAsThePlaylistSays()
    {
        QFETCH(RovaPlaylist::RovaRepeatMode, mode);
        QFETCH(int, from);
        QFETCH(QString, command);
        Rig rig(ids(5));
        rig.start(from, mode);
        const QString log = rig.run([&] { rig.command(command); });
        QCOMPARE(log, FETCHED(QString, log));
        const int now = rig.playlist->getCurrentIndex();
        QCOMPARE(rig.handler.currentItemID(), id(now));
        QCOMPARE(describe(rig.handler.currentContent()).section(u' ', 1, 1), RovaTrackerFixture::item(now).url);
    }

    void shouldUseThePreparedNextItemOnlyWhileItFollows()
    {
        Rig rig(ids(6));
        rig.start();
        const auto prepare = [&] { rig.handler.prepareNext({u"uri"_s}); };
        QCOMPARE(rig.run(prepare, u"NextReady"_s), u"NextReady"_s);
        QCOMPARE(describe(rig.handler.nextContent()), u"1 file:///rova/media/item1.mp3 61 1"_s);
        // One step takes the prepared item as it is: no lookup needed.
        QVERIFY(rig.handler.stepForward(1));
        QCOMPARE(describe(rig.handler.currentContent()), u"1 file:///rova/media/item1.mp3 61 1"_s);
        QCOMPARE(describe(rig.handler.nextContent()), QString());
        // Two steps never do.
        rig.run(prepare, u"NextReady"_s);
        QVERIFY(rig.handler.stepForward(2));
        QCOMPARE(describe(rig.handler.currentContent()), u"3"_s);
        // A backward step voids it.
        rig.run(prepare, u"NextReady"_s);
        QVERIFY(rig.handler.stepBack(1));
        QCOMPARE(describe(rig.handler.nextContent()), QString());
        // An item inserted after the current one comes next instead.
        rig.run(prepare, u"NextReady"_s);
        QCOMPARE(rig.run([&] { rig.model.insertRows(3, 1), rig.model.setData(rig.model.index(3), id(20)); }), u"PrepareNext"_s);
        QVERIFY(rig.handler.stepForward(1));
        QCOMPARE(describe(rig.handler.currentContent()), u"20"_s);
        QCOMPARE(rig.handler.currentItemID(), id(20));
    }

    void shouldFollowPlaylistEdits_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("log");
        QTest::newRow("current removed") << "remove 2" << "item(2,3) Stop!";
        QTest::newRow("current removed, direct uri playing") << "uri remove 2" << "item(-1,uri)";
        QTest::newRow("all removed") << "remove 0 5" << "item(-1) Stop!";
        QTest::newRow("removed before") << "remove 0" << "item(1,2) PrepareNext";
        QTest::newRow("inserted before") << "insert 0" << "item(3,2) PrepareNext";
        QTest::newRow("inserted after") << "insert 3" << "PrepareNext";
        QTest::newRow("sorted") << "sort" << "item(2,2) PrepareNext";
        QTest::newRow("repeat mode") << "repeat" << "RefreshNext";
        QTest::newRow("new content") << "reset" << "item(0,9)";
    }
    void shouldFollowPlaylistEdits()
    {
        QFETCH(QString, edit);
        Rig rig(ids(5));
        rig.start(2);
        const QStringList words = edit.split(u' ');
        const QString log = rig.run([&] {
            if (words.first() == u"uri"_s)
                rig.handler.setURI(u"file:///direct.ogg"_s);
            const int row = words.last().toInt();
            if (edit.contains(u"remove"_s))
                rig.model.removeRows(words.at(words.indexOf(u"remove"_s) + 1).toInt(), words.size() > 2 && words.first() != u"uri"_s ? 5 : 1);
            else if (words.first() == u"insert"_s)
                rig.model.insertRows(row, 1), rig.model.setData(rig.model.index(row), id(30));
            else if (edit == u"sort"_s)
                rig.playlist->sort(0, RovaPlaylist::SortDescending);
            else if (edit == u"repeat"_s)
                rig.playlist->setRepeat(RovaPlaylist::RepeatAll);
            else
                rig.model.setStringList(ids(3, 9));
        });
        QCOMPARE(log, FETCHED(QString, log));
        const int current = rig.playlist->getCurrentIndex();
        QCOMPARE(rig.handler.currentItemID(), current < 0 ? QString() : rig.playlist->getItemMediaInfo(current).uuid());
    }

    void shouldEndPlaybackUnlessTheNextItemFollowsByItself_data()
    {
        QTest::addColumn<bool>("autoAdvance");
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("log");
        QTest::newRow("auto advance, more items") << true << 2 << QString() << "";
        QTest::newRow("auto advance, last item") << true << 4 << QString() << "end Pause";
        QTest::newRow("no auto advance") << false << 2 << QString() << "end Pause";
        QTest::newRow("direct uri") << true << 2 << "file:///direct.ogg" << "end Pause";
    }
    void shouldEndPlaybackUnlessTheNextItemFollowsByItself()
    {
        Rig rig(ids(5));
        rig.start(FETCHED(int, from));
        rig.handler.setURI(FETCHED(QString, uri));
        QCOMPARE(rig.run([&] { rig.handler.handleEos(FETCHED(bool, autoAdvance)); }), FETCHED(QString, log));
    }

    void shouldLookUpOnlyTheLastOfQuickSteps()
    {
        Rig rig(ids(5));
        rig.start();
        QTest::ignoreMessage(QtDebugMsg, "queued info, refetching!");
        const QString log = rig.run([&] {
            rig.command(u"next"_s);
            rig.command(u"next"_s);
        });
        QCOMPARE(log, u"item(1,1) item(2,2) Ready"_s);
        QCOMPARE(describe(rig.handler.currentContent()), u"2 file:///rova/media/item2.mp3 62 2"_s);
    }

    // Each next-item lookup is followed by one for the current item, whose
    // answer ("Ready") comes after the next item's on the one connection.
    void shouldPrepareTheNextItem_data()
    {
        QTest::addColumn<RovaPlaylist::RovaRepeatMode>("mode");
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("content");
        const QStringList uri{u"uri"_s};
        const auto none = RovaPlaylist::RepeatNone;
        QTest::newRow("last item, repeat none") << none << 1 << id(0) << uri << "Ready" << "";
        QTest::newRow("last item, repeat all") << RovaPlaylist::RepeatAll << 1 << id(0) << uri << "NextReady Ready" << "1 file:///rova/media/item1.mp3 61 1";
        QTest::newRow("two keys") << none << 0 << id(0) << QStringList{u"uri"_s, u"duration"_s} << "Ready" << "0";
        QTest::newRow("wrong case") << none << 0 << id(0) << QStringList{u"URI"_s} << "Ready" << "0";
        QTest::newRow("not in the store") << none << 0 << "src::urn:rova:absent" << uri << "error(303:No query results in result set!) Stop! Ready" << "absent";
        QTest::newRow("no url") << none << 0 << "src::urn:rova:nourl" << uri << "Ready" << "nourl";
    }
    void shouldPrepareTheNextItem()
    {
        QFETCH(QStringList, keys);
        QFETCH(QString, content);
        Rig rig({id(1), FETCHED(QString, next)});
        rig.start(FETCHED(int, from), FETCHED(RovaPlaylist::RovaRepeatMode, mode));
        if (keys.size() != 1 || keys.first() != u"uri"_s)
            QTest::ignoreMessage(QtWarningMsg, "No metadata key or unsupported key(s) given");
        if (content == u"absent"_s)
            QTest::ignoreMessage(QtWarningMsg, "Unable to find media to play!");
        const QString log = rig.run([&] {
            rig.handler.prepareNext(keys);
            rig.handler.fetchBasicMetadata();
        }, u"Ready"_s);
        QCOMPARE(log, FETCHED(QString, log));
        QCOMPARE(describe(rig.handler.nextContent()), content);
    }

    void shouldReportCurrentItemsNotFound_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("log");
        QTest::newRow("not in the store") << "src::urn:rova:absent"
                                          << "error(303:No query results in result set!) error(303:No URL found!) Stop! Stop!";
        QTest::newRow("no url") << "src::urn:rova:nourl" << "error(303:No URL found!) Stop!";
    }
    void shouldReportCurrentItemsNotFound()
    {
        QFETCH(QString, item);
        Rig rig({item});
        if (item.endsWith(u"absent"_s))
            QTest::ignoreMessage(QtWarningMsg, "Unable to find media to play!");
        QTest::ignoreMessage(QtWarningMsg, "\"No URL found!\"");
        const QString log = rig.run([&] { rig.handler.setPlaylist(rig.playlist.get()); }, u"No URL found!"_s);
        QCOMPARE(log, u"list item(0,%1) "_s.arg(item.section(u':', -1)) + FETCHED(QString, log));
        QCOMPARE(describe(rig.handler.currentContent()), item.section(u':', -1));
    }

    void shouldNeverQueryUnusableIdentifiers_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("no separator") << "urn:rova:media:1";
        QTest::newRow("nothing after the separator") << "src::";
        for (const QChar c : u" \t\n\u00a0<>\"{}|^`\\"_s)
            QTest::newRow(qPrintable(u"'%1'"_s.arg(c))) << u"src::urn:rova:media:1"_s + c;
        QTest::newRow("query-shaped") << "src::urn:rova:media:1> ?x ?y . <urn:rova:media:2";
        QTest::newRow("update-shaped") << "src::x> ?p ?o } ; DELETE WHERE { ?s nie:url ?u } #";
    }
    void shouldNeverQueryUnusableIdentifiers()
    {
        QFETCH(QString, item);
        QSparqlConnection store(u"QTRACKER"_s);
        const auto urls = [&store] {
            std::unique_ptr<QSparqlResult> result(store.syncExec(QSparqlQuery(u"SELECT (COUNT(?u) AS ?n) WHERE { ?s nie:url ?u }"_s)));
            return result->first() ? result->stringValue(0).toInt() : -1;
        };
        const int before = urls();
        for (int i = 0; i < 3; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Invalid uuid"_s));
        Rig rig({item, item});
        // The current item: refused with an error at once.
        const QString log = rig.run([&] { rig.handler.setPlaylist(rig.playlist.get()); });
        QVERIFY2(log.endsWith(u"error(303:Cannot look up item \"%1\": not a valid item identifier!) Stop!"_s.arg(item)), qPrintable(log));
        QVERIFY(!rig.handler.metadataFetchOngoing());
        // The next item: a warning only.
        QCOMPARE(rig.run([&] { rig.handler.prepareNext({u"uri"_s}); }), QString());
        QSparqlResult* result = reinterpret_cast<QSparqlResult*>(1);
        QVERIFY(QMetaObject::invokeMethod(&rig.handler, "createResultSet", Q_RETURN_ARG(QSparqlResult*, result), Q_ARG(RovaMediaInfo, RovaMediaInfo(item))));
        QCOMPARE(result, nullptr);
        QVERIFY(before > 40);
        QCOMPARE(urls(), before);
    }

    void shouldStayHarmlessOnMisuse()
    {
        Rig rig(ids(5));
        RovaRendererPlaylistHandler& h = rig.handler;
        // No playlist.
        QCOMPARE(rig.run([&] { h.gotoIndex(5); }), u"error(320:Cannot goto index 5, no playlist!) Stop!"_s);
        QCOMPARE(rig.run([&] { QVERIFY(!h.stepForward(1)); }, u"error"_s), u"error(320:No playlist to play!)"_s);
        QCOMPARE(rig.run([&] { QVERIFY(!h.fetchBasicMetadata()); }, u"error"_s), u"Stop! error(320:No playlist to play!)"_s);
        QCOMPARE(rig.run([&] { h.handleEos(true); }), u"end Pause"_s);
        QTest::ignoreMessage(QtWarningMsg, "RovaRendererPlaylistHandler::updateItemPlaying, playlist has been deleted.");
        QCOMPARE(rig.run([&] { h.updateItemPlaying(1), h.prepareNext({u"uri"_s}), h.updateItemPlaying(7); }), QString());
        QVERIFY(!h.hasNext() && h.currentIndex() == -1 && h.currentPlaylistID().isNull() && h.currentItemID().isNull());
        // Indexes past the end and steps that would wrap round.
        rig.start(0, RovaPlaylist::RepeatAll);
        for (uint index : {5u, 2147483648u, 4294967295u})
            QCOMPARE(rig.run([&] { QVERIFY(!h.gotoIndex(index)); }), u"error(321:No media to play at index: %1!) Stop!"_s.arg(index));
        QVERIFY(h.stepForward(4294967295u)); // 5 * 858993459 steps round a 5-item playlist
        QCOMPARE(h.currentItemID(), id(0));
        QVERIFY(h.stepBack(4294967294u));
        QCOMPARE(h.currentItemID(), id(1));
        QCOMPARE(rig.run([&] { rig.playlist->setRepeat(RovaPlaylist::RepeatNone); }), u"RefreshNext"_s);
        QVERIFY(!h.stepForward(4294967295u));
        QCOMPARE(h.currentItemID(), id(1));
        QTest::ignoreMessage(QtWarningMsg, "Invalid RovaPlaylistUpdate value: (7)!");
        QVERIFY(QMetaObject::invokeMethod(&h, "playlistCurrentUpdated", Q_ARG(RovaPlaylist::RovaPlaylistUpdate, RovaPlaylist::RovaPlaylistUpdate(7)), Q_ARG(int, 0)));
        // A playlist deleted while assigned counts as unassigned.
        QCOMPARE(rig.run([&] { rig.playlist.reset(); }), u"list(null) item(-1)"_s);
        QVERIFY(h.currentPlaylistID().isNull() && !h.hasContent());
        QCOMPARE(rig.run([&] { h.handleEos(true); }), u"end Pause"_s);
        QCOMPARE(rig.run([&] { h.fetchBasicMetadata(); }, u"error"_s), u"Stop! error(320:No playlist to play!)"_s);
        // An empty playlist, and one whose items have no identifier.
        rig.playlist.reset(new RawPlaylist(nullptr));
        QCOMPARE(rig.run([&] { h.setPlaylist(rig.playlist.get()), h.gotoLast(); }), u"list error(321:No media to play at index: 4294967295!) Stop!"_s);
        RovaPlaylistBase foreign(RovaPlaylist::getNewPlaylistId(), u"foreign"_s);
        foreign.setUnderlyingModel(&rig.model);
        QCOMPARE(rig.run([&] { h.setPlaylist(&foreign), h.fetchBasicMetadata(); }, u"error"_s), u"list Stop! error(300:Empty playlist!)"_s);
        // No machine, or one that does not run: the events are dropped with a warning.
        RovaRendererPlaylistHandler bare;
        QTest::ignoreMessage(QtWarningMsg, "Renderer state has no state machine to post event 1002 to.");
        bare.issueStopCommand();
        QStateMachine stopped;
        bare.setStateMachine(&stopped);
        QTest::ignoreMessage(QtWarningMsg, "Renderer state cannot post event 1003 while its state machine is not running.");
        bare.handleEos(false);
    }

    void shouldReportAStoreThatCannotBeReached()
    {
        QTemporaryDir scratch;
        const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS"), oldStore = qgetenv("QSPARQL_TRACKER_DATABASE");
        auto restore = qScopeGuard([&] {
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
            qputenv("QSPARQL_TRACKER_DATABASE", oldStore);
            qunsetenv("QSPARQL_TRACKER_BUS_NAME");
        });
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(scratch.filePath(u"no-bus"_s)));
        qputenv("QSPARQL_TRACKER_BUS_NAME", "org.example.Nobody");
        qunsetenv("QSPARQL_TRACKER_DATABASE");
        Rig rig(ids(2));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
        const QString log = rig.run([&] { rig.handler.setPlaylist(rig.playlist.get()); }, u"Stop"_s);
        QVERIFY2(QRegularExpression(u"^list item\\(0,0\\) error\\(303:.+\\) Stop!$"_s).match(log).hasMatch(), qPrintable(log));
    }

    void shouldKeepToThePlaylistsCurrentItemWhateverHappens_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u})
            QTest::newRow(qPrintable(QString::number(seed))) << seed;
    }
    void shouldKeepToThePlaylistsCurrentItemWhateverHappens()
    {
        QRandomGenerator random(FETCHED(quint32, seed));
        Rig rig(ids(10));
        QStringListModel otherModel(ids(4, 30));
        auto other = std::make_unique<RawPlaylist>(&otherModel);
        rig.handler.setPlaylist(rig.playlist.get());
        const auto checkUrl = [](const RovaMediaInfo* info) {
            const int item = info ? info->uuid().section(u':', -1).toInt() : 0;
            return !info || !info->metaData().contains(u"uri"_s)
                || info->firstMetaData(u"uri"_s).toUrl().toString() == RovaTrackerFixture::item(item).url;
        };
        for (int step = 0; step < 400; ++step) {
            QStringListModel& model = rig.handler.playlist() == other.get() ? otherModel : rig.model;
            RovaPlaylist* const p = rig.handler.playlist() ? rig.handler.playlist() : rig.playlist.get();
            const int rows = model.rowCount();
            switch (random.bounded(15)) {
            case 0: case 1: rig.command(u"next"_s); break;
            case 2: rig.command(u"previous"_s); break;
            case 3: rig.command(u"goto"_s, uint(random.bounded(-2, rows + 2))); break;
            case 4: { const int row = random.bounded(rows + 1);
                      model.insertRows(row, 1), model.setData(model.index(row), id(random.bounded(40))); break; }
            case 5: model.removeRows(random.bounded(qMax(rows, 1)), 1); break;
            case 6: p->sort(0, random.bounded(2) ? RovaPlaylist::SortAscending : RovaPlaylist::SortDescending); break;
            case 7: random.bounded(2) ? p->shuffle() : p->unShuffle(); break;
            case 8: p->setRepeat(RovaPlaylist::RovaRepeatMode(random.bounded(3))); break;
            case 9: rig.handler.prepareNext({u"uri"_s}); break;
            case 10: rig.handler.updateItemPlaying(2); break;
            case 11: QCoreApplication::processEvents(); break;
            case 12: (void)QTest::qWaitFor([&] { return !rig.handler.metadataFetchOngoing(); }); break;
            case 13: rig.handler.setPlaylist(random.bounded(4) == 0 ? nullptr : random.bounded(2) ? other.get() : rig.playlist.get()); break;
            default:
                if (random.bounded(8) == 0) { // deleted while assigned, or not
                    (random.bounded(2) ? other : rig.playlist).reset(new RawPlaylist(random.bounded(2) ? &otherModel : &rig.model));
                } else if (!rig.handler.metadataFetchOngoing()) {
                    rig.handler.fetchBasicMetadata();
                }
            }
            RovaPlaylist* const now = rig.handler.playlist();
            const int current = now ? now->getCurrentIndex() : -1;
            QCOMPARE(rig.handler.currentItemID(), current < 0 ? QString() : now->getItemMediaInfo(current).uuid());
            QVERIFY(checkUrl(rig.handler.currentContent()));
            QVERIFY(checkUrl(rig.handler.nextContent()));
        }
        // In the end the current item's own URL arrives.
        QCoreApplication::processEvents(); // errors still waiting to be told
        rig.handler.setPlaylist(rig.playlist.get());
        QTRY_VERIFY(!rig.handler.metadataFetchOngoing());
        if (rig.handler.hasContent())
            QCOMPARE(rig.handler.currentContent()->firstMetaData(u"uri"_s).toUrl().toString(),
                     RovaTrackerFixture::item(rig.handler.currentItemID().section(u':', -1).toInt()).url);
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPlaylistHandler)
#include "tst_rovarendererplaylisthandler.moc"
