// SPDX-License-Identifier: LGPL-2.1-or-later
#include "playlisttesting.h"

#include <rovacontent.h>

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTest>

#include <climits>

namespace {

enum Order { Natural, Sorted, Shuffled };

struct Fixture
{
    explicit Fixture(const QList<Track>& tracks = TrackTableModel::numbered(10))
    {
        source.setTracks(tracks);
        playlist.setUnderlyingModel(&source);
        tester = modelTester(playlist.model());
        log = std::make_unique<PlaylistLog>(&playlist);
    }

    QStringList ids() { return presentedIds(playlist.model()); }
    QString currentId()
    {
        const int current = playlist.getCurrentIndex();
        return current < 0 ? QString() : playlist.model()->index(current, 0).data().toString();
    }
    void choose(int index) { delete playlist.getItem(index); }

    // Presents `order` (sorted: titles descending) with the current item at `current`.
    void arrange(Order order, int current = 5)
    {
        if (order == Sorted)
            playlist.sort(1, RovaPlaylist::SortDescending);
        else if (order == Shuffled)
            playlist.shuffle();
        choose(current);
        log->take();
    }

    // Tracks "n0", "n1", ... that land at presented positions `position` and on
    // in the natural order or by titles descending (t9 t8 t7 t65 t64 t6 ... for 3).
    void insertAt(Order order, int position, int count)
    {
        QList<Track> tracks;
        for (int i = 0; i < count; ++i)
            tracks.append({QStringLiteral("n%1").arg(i), QStringLiteral("t%1%2").arg(9 - position).arg(5 - i), 0});
        if (order == Sorted)
            source.appendTracks(tracks);
        else
            source.insertTracks(position, tracks);
    }

    TrackTableModel source;
    IdPlaylist playlist;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<PlaylistLog> log;
};

} // namespace

class tst_RovaPlaylistBase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldStepUnderEachRepeatMode_data();
    void shouldStepUnderEachRepeatMode();
    void shouldKeepCurrentIndexThroughEdits_data();
    void shouldKeepCurrentIndexThroughEdits();
    void shouldPlaceRowsInsertedWhileShuffledAfterCurrent();
    void shouldReportEveryChangeBeforeAnyRead();
    void shouldReportClearAsRemovalOfCurrent();
    void shouldSortByColumnNameAndFollowDataChanges();
    void shouldReportLossOfModel_data();
    void shouldReportLossOfModel();
    void shouldWorkWithoutModel();
    void shouldIgnoreBadRequests();
    void shouldReturnNoItemFromPlainBase();
};

void tst_RovaPlaylistBase::shouldStepUnderEachRepeatMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("previous");
    for (int mode : {0, 1, 2}) {
        QTest::addRow("empty, mode %d", mode) << mode << 0 << 0 << -1 << -1;
        QTest::addRow("negative index, mode %d", mode) << mode << 3 << -1 << -1 << -1;
        QTest::addRow("index past end, mode %d", mode) << mode << 3 << 3 << -1 << -1;
    }
    QTest::newRow("none, middle") << 0 << 3 << 1 << 2 << 0;
    QTest::newRow("none, last") << 0 << 3 << 2 << -1 << 1;
    QTest::newRow("none, first") << 0 << 3 << 0 << 1 << -1;
    QTest::newRow("one, last") << 1 << 3 << 2 << 2 << 2;
    QTest::newRow("one, first") << 1 << 3 << 0 << 0 << 0;
    QTest::newRow("all, last") << 2 << 3 << 2 << 0 << 1;
    QTest::newRow("all, first") << 2 << 3 << 0 << 1 << 2;
    QTest::newRow("all, single item") << 2 << 1 << 0 << 0 << 0;
    QTest::newRow("invalid mode") << 3 << 3 << 1 << -1 << -1;
}

void tst_RovaPlaylistBase::shouldStepUnderEachRepeatMode()
{
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(int, next);
    QFETCH(int, previous);
    Fixture f(TrackTableModel::numbered(count));
    f.choose(0);
    QSignalSpy changed(&f.playlist, &RovaPlaylist::repeatModeChanged);
    if (mode > 2)
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::setRepeat: invalid repeat mode 3");
    f.playlist.setRepeat(RovaPlaylist::RovaRepeatMode(mode));
    QCOMPARE(changed.count(), 1); // also when the mode is the one in force
    QCOMPARE(int(f.playlist.repeatMode()), mode);
    QCOMPARE(f.playlist.getNext(index), next);
    QCOMPARE(f.playlist.getPrevious(index), previous);
    QCOMPARE(f.playlist.getCurrentIndex(), count > 0 ? 0 : -1);
}

void tst_RovaPlaylistBase::shouldKeepCurrentIndexThroughEdits_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("insert");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expectedLog");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<int>("currentWas"); // where the item current afterwards stood before
    // Ten items, the current one at presented position 5. In shuffled order new
    // rows land at random and several removed rows leave one run at a time.
    for (int order : {Natural, Sorted, Shuffled}) {
        const char* name = order == Natural ? "natural" : order == Sorted ? "sorted" : "shuffled";
        const bool deterministic = order != Shuffled;
        if (deterministic) {
            QTest::addRow("%s: insert before", name) << order << true << 3 << 2 << "c(3,0,2) u(1,7)" << 7 << 5;
            QTest::addRow("%s: insert at", name) << order << true << 5 << 1 << "c(5,0,1) u(1,6)" << 6 << 5;
            QTest::addRow("%s: insert right after", name) << order << true << 6 << 1 << "c(6,0,1) u(2,5)" << 5 << 5;
            QTest::addRow("%s: insert after", name) << order << true << 8 << 1 << "c(8,0,1)" << 5 << 5;
            QTest::addRow("%s: remove two before", name) << order << false << 0 << 2 << "c(0,2,0) u(1,3)" << 3 << 5;
            QTest::addRow("%s: remove around", name) << order << false << 4 << 3 << "c(4,3,0) u(0,4)" << 4 << 7;
            QTest::addRow("%s: remove up to end", name) << order << false << 5 << 5 << "c(5,5,0) u(0,4)" << 4 << 4;
        }
        QTest::addRow("%s: remove before", name) << order << false << 3 << 1 << "c(3,1,0) u(1,4)" << 4 << 5;
        QTest::addRow("%s: remove at", name) << order << false << 5 << 1 << "c(5,1,0) u(0,5)" << 5 << 6;
        QTest::addRow("%s: remove right after", name) << order << false << 6 << 1 << "c(6,1,0) u(2,5)" << 5 << 5;
        QTest::addRow("%s: remove after", name) << order << false << 8 << 1 << "c(8,1,0)" << 5 << 5;
    }
}

void tst_RovaPlaylistBase::shouldKeepCurrentIndexThroughEdits()
{
    QFETCH(int, order);
    QFETCH(bool, insert);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QString, expectedLog);
    QFETCH(int, expectedCurrent);
    QFETCH(int, currentWas);
    Fixture f;
    f.arrange(Order(order));
    QStringList expected = f.ids();
    const QString expectedCurrentId = expected.at(currentWas);
    if (insert) {
        f.insertAt(Order(order), first, count);
        for (int i = 0; i < count; ++i)
            expected.insert(first + i, QStringLiteral("n%1").arg(i));
    } else {
        QVERIFY(f.playlist.removeItems(first, first + count - 1));
        expected.remove(first, count);
    }
    QCOMPARE(f.log->text(), expectedLog);
    QCOMPARE(f.playlist.getCurrentIndex(), expectedCurrent);
    QCOMPARE(f.currentId(), expectedCurrentId);
    QCOMPARE(f.ids(), expected);
}

void tst_RovaPlaylistBase::shouldPlaceRowsInsertedWhileShuffledAfterCurrent()
{
    for (int round = 0; round < 30; ++round) {
        // With the last item current, the new row can only come right after it.
        const int current = round % 3 ? 5 : 9;
        Fixture f;
        f.arrange(Shuffled, current);
        const QString currentId = f.currentId();
        f.source.insertTracks(round % 11, {{QStringLiteral("new"), QString(), 0}});
        const int landed = int(f.ids().indexOf(QStringLiteral("new")));
        QVERIFY(landed > current);
        const QString next = landed == current + 1 ? QStringLiteral(" u(2,%1)").arg(current) : QString();
        QCOMPARE(f.log->text(), QStringLiteral("c(%1,0,1)").arg(landed) + next);
        QCOMPARE(f.playlist.getCurrentIndex(), current);
        QCOMPARE(f.currentId(), currentId);
    }
}

void tst_RovaPlaylistBase::shouldReportEveryChangeBeforeAnyRead()
{
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(10));
    IdPlaylist playlist;
    PlaylistLog log(&playlist);
    playlist.setUnderlyingModel(&source);
    QCOMPARE(log.take(), QStringLiteral("c(0,0,10) u(3,-1)"));
    source.removeRows(3, 2);
    QCOMPARE(log.take(), QStringLiteral("c(3,2,0)"));
    playlist.model()->sort(0); // Qt's proxy forgets its mapping on some changes
    static_cast<QSortFilterProxyModel*>(playlist.model())->invalidate();
    log.take();
    source.removeRows(0, 1);
    QCOMPARE(log.take(), QStringLiteral("c(0,1,0) u(2,-1)"));
}

void tst_RovaPlaylistBase::shouldReportClearAsRemovalOfCurrent()
{
    Fixture f;
    f.arrange(Shuffled);
    f.playlist.clear();
    QCOMPARE(f.log->text(), QStringLiteral("c(0,10,0) u(0,-1)"));
    QCOMPARE(f.playlist.size(), 0);
    QCOMPARE(f.playlist.getCurrentIndex(), -1);
    f.playlist.clear();
    QCOMPARE(f.log->text(), QStringLiteral("c(0,10,0) u(0,-1)"));
}

void tst_RovaPlaylistBase::shouldSortByColumnNameAndFollowDataChanges()
{
    Fixture f;
    QCOMPARE(f.playlist.getColumnNames(), strings("Id Title Number"));
    f.playlist.sort(QStringLiteral("Number"), RovaPlaylist::SortNumericDescending);
    QCOMPARE(f.ids(), strings("9 8 7 6 5 4 3 2 1 0"));
    f.choose(7);
    f.log->take();
    // Item "2" gets the largest number and moves to the front.
    QVERIFY(f.source.setData(f.source.index(2, 2), 500));
    QCOMPARE(f.playlist.getCurrentIndex(), 0);
    QCOMPARE(f.currentId(), QStringLiteral("2"));
    QVERIFY(f.log->text().endsWith(QStringLiteral("u(1,0)")));
}

void tst_RovaPlaylistBase::shouldReportLossOfModel_data()
{
    QTest::addColumn<int>("loss");
    QTest::addColumn<QString>("expectedLog");
    QTest::addColumn<int>("expectedSize");
    QTest::newRow("replaced") << 0 << "c(0,10,4) u(3,-1)" << 4;
    QTest::newRow("replaced by null") << 1 << "c(0,10,0) u(3,-1)" << 0;
    QTest::newRow("deleted") << 2 << "c(0,10,0) u(3,-1)" << 0;
    QTest::newRow("reset") << 3 << "c(0,10,3) u(3,-1)" << 3;
}

void tst_RovaPlaylistBase::shouldReportLossOfModel()
{
    QFETCH(int, loss);
    QFETCH(QString, expectedLog);
    QFETCH(int, expectedSize);
    TrackTableModel other;
    other.setTracks(TrackTableModel::numbered(4));
    auto source = std::make_unique<TrackTableModel>();
    source->setTracks(TrackTableModel::numbered(10));
    IdPlaylist playlist;
    const auto tester = modelTester(playlist.model());
    PlaylistLog log(&playlist);
    playlist.setUnderlyingModel(source.get());
    playlist.shuffle();
    delete playlist.getItem(5);
    log.take();

    if (loss == 0)
        playlist.setUnderlyingModel(&other);
    else if (loss == 1)
        playlist.setUnderlyingModel(nullptr);
    else if (loss == 2)
        source.reset();
    else
        source->setTracks(TrackTableModel::numbered(3));
    QCOMPARE(log.take(), expectedLog);
    QCOMPARE(playlist.size(), expectedSize);
    QCOMPARE(playlist.getCurrentIndex(), -1);
    QCOMPARE(playlist.underlyingModel(), loss == 0 ? &other : loss == 3 ? source.get() : nullptr);
    // Edits of a model the playlist let go of are not reported.
    if (loss < 2)
        source->removeRows(0, 1);
    QCOMPARE(log.text(), QString());
    std::unique_ptr<RovaContent> item(playlist.getItem(0));
    QCOMPARE(bool(item), expectedSize > 0);

    TrackTableModel next;
    next.setTracks(TrackTableModel::numbered(3));
    playlist.setUnderlyingModel(&next);
    QCOMPARE(log.take(), QStringLiteral("c(0,%1,3) u(3,-1)").arg(expectedSize));
    QCOMPARE(playlist.size(), 3);
}

void tst_RovaPlaylistBase::shouldWorkWithoutModel()
{
    IdPlaylist playlist;
    PlaylistLog log(&playlist);
    QCOMPARE(playlist.size(), 0);
    QCOMPARE(playlist.getCurrentIndex(), -1);
    QCOMPARE(playlist.getNext(0), -1);
    QVERIFY(!playlist.getItem(0));
    QVERIFY(!playlist.removeItem(0));
    QVERIFY(!playlist.removeItems(0, 0));
    playlist.clear();
    playlist.unShuffle();
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::getColumnNames: model not set");
    QCOMPARE(playlist.getColumnNames(), QStringList());
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
    playlist.shuffle();
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::getColumnNames: model not set");
    playlist.sort(QStringLiteral("Id"), RovaPlaylist::SortAscending);
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column 0");
    playlist.sort(0, RovaPlaylist::SortAscending);
    playlist.sort(0, RovaPlaylist::SortNone);
    QCOMPARE(playlist.getSortOrder(), RovaPlaylist::SortNone);
    QCOMPARE(log.text(), QString());

    TrackTableModel empty;
    playlist.setUnderlyingModel(&empty);
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
    playlist.shuffle();
    QVERIFY(!playlist.isShuffled());
}

void tst_RovaPlaylistBase::shouldIgnoreBadRequests()
{
    Fixture f;
    f.playlist.sort(1, RovaPlaylist::SortDescending);
    f.choose(2);
    const QStringList order = f.ids();
    f.log->take();
    for (int index : {-1, 10, INT_MAX, INT_MIN}) {
        QVERIFY(!f.playlist.getItem(index));
        QVERIFY(!f.playlist.removeItem(index));
        QCOMPARE(f.playlist.getNext(index), -1);
        QCOMPARE(f.playlist.getPrevious(index), -1);
    }
    QVERIFY(!f.playlist.removeItems(-1, 2));
    QVERIFY(!f.playlist.removeItems(8, 10));
    QVERIFY(!f.playlist.removeItems(INT_MIN, INT_MAX));
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::removeItems lastIndex less than firstIndex!");
    QVERIFY(!f.playlist.removeItems(5, 3));
    QVERIFY(!f.playlist.moveItem(0, 1));
    QFile file;
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::import NOT IMPLEMENTED");
    QVERIFY(!f.playlist.import(file));
    for (int invalid : {6, -1, INT_MAX}) {
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase: Invalid playlist sort enum!");
        f.playlist.sort(1, RovaPlaylist::RovaSortOrder(invalid));
    }
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column 3");
    f.playlist.sort(3, RovaPlaylist::SortAscending);
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column -1");
    f.playlist.sort(-1, RovaPlaylist::SortNumericAscending);
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column named \"title\"");
    f.playlist.sort(QStringLiteral("title"), RovaPlaylist::SortAscending);
    QCOMPARE(f.ids(), order);
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortDescending);
    QCOMPARE(f.playlist.getCurrentIndex(), 2);
    QCOMPARE(f.log->text(), QString());
}

void tst_RovaPlaylistBase::shouldReturnNoItemFromPlainBase()
{
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(10));
    RovaPlaylistBase playlist(QStringLiteral("rova1"), QStringLiteral("plain"));
    playlist.setUnderlyingModel(&source);
    QVERIFY(!playlist.getItem(0));
    QCOMPARE(playlist.getCurrentIndex(), -1);
}

QTEST_GUILESS_MAIN(tst_RovaPlaylistBase)
#include "tst_rovaplaylistbase.moc"
