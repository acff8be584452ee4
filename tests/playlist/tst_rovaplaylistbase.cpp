// SPDX-License-Identifier: LGPL-2.1-or-later
#include "playlistlog.h"
#include "tracktablemodel.h"

#include <rovacontent.h>
#include <rovaplaylistbase.h>

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSortFilterProxyModel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <memory>

namespace {

// Items are identified by the presented column 0.
class IdPlaylist : public RovaPlaylistBase
{
public:
    IdPlaylist()
        : RovaPlaylistBase(QStringLiteral("rova0"), QStringLiteral("test"))
    {
    }

    RovaMediaInfo getItemMediaInfo(int index) override
    {
        return RovaMediaInfo(model()->index(index, 0).data().toString());
    }
};

enum Order { Natural, Sorted, Shuffled };

// Ten tracks "0".."9" with numbers 0, 10, ..., 90.
QList<Track> tenTracks()
{
    QList<Track> tracks;
    for (int i = 0; i < 10; ++i)
        tracks.append({QString::number(i), QStringLiteral("t%1").arg(i), i * 10});
    return tracks;
}

struct Fixture
{
    explicit Fixture(const QList<Track>& tracks = tenTracks())
    {
        source.setTracks(tracks);
        playlist.setUnderlyingModel(&source);
        tester = std::make_unique<QAbstractItemModelTester>(playlist.model(),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        log = std::make_unique<PlaylistLog>(&playlist);
    }

    QStringList ids() { return presentedIds(playlist.model()); }
    QString currentId()
    {
        const int current = playlist.getCurrentIndex();
        return current < 0 ? QString() : playlist.model()->index(current, 0).data().toString();
    }
    void choose(int index) { delete playlist.getItem(index); }

    // Presents `order` with the current item at presented position 5.
    void arrange(Order order)
    {
        if (order == Sorted)
            playlist.sort(2, RovaPlaylist::SortNumericDescending);
        if (order == Shuffled) {
            playlist.shuffle();
            // Swap the first item's place with whatever stands at 5.
        }
        choose(5);
        log->take();
    }

    // Tracks whose numbers put them at presented positions `position` and on,
    // in the order arranged by arrange() (natural or numeric descending).
    void insertAt(Order order, int position, int count)
    {
        QList<Track> tracks;
        for (int i = 0; i < count; ++i) {
            const int number = order == Sorted ? (9 - position) * 10 + 5 - i : 1000 + i;
            tracks.append({QStringLiteral("n%1").arg(i), QString(), number});
        }
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
    void shouldEmitRepeatModeChangedEvenWhenUnchanged();

    void shouldKeepCurrentIndexThroughEdits_data();
    void shouldKeepCurrentIndexThroughEdits();
    void shouldKeepCurrentIndexThroughShuffledRemovals_data();
    void shouldKeepCurrentIndexThroughShuffledRemovals();
    void shouldPlaceRowsInsertedWhileShuffledAfterCurrent();
    void shouldChooseLastItemWhenCurrentPositionIsGone();
    void shouldReportNewContentWithoutCurrentItem();
    void shouldReportEveryChangeBeforeAnyRead();
    void shouldReportClearAsRemovalOfCurrent();

    void shouldKeepCurrentItemThroughSorts_data();
    void shouldKeepCurrentItemThroughSorts();
    void shouldFindCurrentItemAfterEditsAndSort_data();
    void shouldFindCurrentItemAfterEditsAndSort();
    void shouldFollowCurrentItemWhenDataChangeResorts();
    void shouldShuffleWithCurrentItemFirstAndUnshuffleBack();
    void shouldMakeFirstItemCurrentWhenShufflingWithoutOne();
    void shouldIgnoreSecondShuffle();
    void shouldShuffleThroughSort();
    void shouldSortByColumnName();

    void shouldReportReplacedModel();
    void shouldBeEmptyWhenModelDeleted();
    void shouldReportModelReset();
    void shouldWorkWithoutModel();
    void shouldRejectBadIndexes();
    void shouldRejectBadSortRequests();
    void shouldRefuseImportAndMove();
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
    if (mode > 2)
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::setRepeat: invalid repeat mode 3");
    f.playlist.setRepeat(RovaPlaylist::RovaRepeatMode(mode));
    QCOMPARE(f.playlist.getNext(index), next);
    QCOMPARE(f.playlist.getPrevious(index), previous);
    QCOMPARE(f.playlist.getCurrentIndex(), count > 0 ? 0 : -1);
}

void tst_RovaPlaylistBase::shouldEmitRepeatModeChangedEvenWhenUnchanged()
{
    Fixture f;
    QSignalSpy changed(&f.playlist, &RovaPlaylist::repeatModeChanged);
    QCOMPARE(f.playlist.repeatMode(), RovaPlaylist::RepeatNone);
    f.playlist.setRepeat(RovaPlaylist::RepeatNone);
    f.playlist.setRepeat(RovaPlaylist::RepeatAll);
    f.playlist.setRepeat(RovaPlaylist::RepeatAll);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(f.playlist.repeatMode(), RovaPlaylist::RepeatAll);
}

void tst_RovaPlaylistBase::shouldKeepCurrentIndexThroughEdits_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("insert");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expectedLog");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<QString>("expectedCurrentId");
    // Ten items, the current one at presented position 5.
    for (int order : {Natural, Sorted}) {
        const char* name = order == Natural ? "natural" : "sorted";
        // In sorted (numeric descending) order, presented position p holds item 9 - p.
        const auto item = [order](int position) {
            return QString::number(order == Natural ? position : 9 - position);
        };
        QTest::addRow("%s: insert before", name) << order << true << 3 << 2 << "c(3,0,2) u(1,7)" << 7 << item(5);
        QTest::addRow("%s: insert at", name) << order << true << 5 << 1 << "c(5,0,1) u(1,6)" << 6 << item(5);
        QTest::addRow("%s: insert right after", name) << order << true << 6 << 1 << "c(6,0,1) u(2,5)" << 5 << item(5);
        QTest::addRow("%s: insert after", name) << order << true << 8 << 1 << "c(8,0,1)" << 5 << item(5);
        QTest::addRow("%s: remove before", name) << order << false << 3 << 1 << "c(3,1,0) u(1,4)" << 4 << item(5);
        QTest::addRow("%s: remove two before", name) << order << false << 0 << 2 << "c(0,2,0) u(1,3)" << 3 << item(5);
        QTest::addRow("%s: remove at", name) << order << false << 5 << 1 << "c(5,1,0) u(0,5)" << 5 << item(6);
        QTest::addRow("%s: remove around", name) << order << false << 4 << 3 << "c(4,3,0) u(0,4)" << 4 << item(7);
        QTest::addRow("%s: remove right after", name) << order << false << 6 << 1 << "c(6,1,0) u(2,5)" << 5 << item(5);
        QTest::addRow("%s: remove after", name) << order << false << 8 << 2 << "c(8,2,0)" << 5 << item(5);
        QTest::addRow("%s: remove up to end", name) << order << false << 5 << 5 << "c(5,5,0) u(0,4)" << 4 << item(4);
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
    QFETCH(QString, expectedCurrentId);
    Fixture f;
    f.arrange(Order(order));
    if (insert)
        f.insertAt(Order(order), first, count);
    else
        QVERIFY(f.playlist.removeItems(first, first + count - 1));
    QCOMPARE(f.log->text(), expectedLog);
    QCOMPARE(f.playlist.getCurrentIndex(), expectedCurrent);
    QCOMPARE(f.currentId(), expectedCurrentId);
}

void tst_RovaPlaylistBase::shouldKeepCurrentIndexThroughShuffledRemovals_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("expectedLog");
    QTest::addColumn<int>("expectedCurrent");
    QTest::addColumn<int>("expectedCurrentPosition");
    QTest::newRow("before") << 3 << "c(3,1,0) u(1,4)" << 4 << 5;
    QTest::newRow("at") << 5 << "c(5,1,0) u(0,5)" << 5 << 6;
    QTest::newRow("right after") << 6 << "c(6,1,0) u(2,5)" << 5 << 5;
    QTest::newRow("after") << 8 << "c(8,1,0)" << 5 << 5;
}

void tst_RovaPlaylistBase::shouldKeepCurrentIndexThroughShuffledRemovals()
{
    QFETCH(int, position);
    QFETCH(QString, expectedLog);
    QFETCH(int, expectedCurrent);
    QFETCH(int, expectedCurrentPosition);
    Fixture f;
    f.arrange(Shuffled);
    const QStringList before = f.ids();
    QVERIFY(f.playlist.removeItem(position));
    QCOMPARE(f.log->text(), expectedLog);
    QCOMPARE(f.playlist.getCurrentIndex(), expectedCurrent);
    // expectedCurrentPosition is the current item's position before the removal.
    QCOMPARE(f.currentId(), before.at(expectedCurrentPosition));
    QStringList expected = before;
    expected.removeAt(position);
    QCOMPARE(f.ids(), expected);
}

void tst_RovaPlaylistBase::shouldPlaceRowsInsertedWhileShuffledAfterCurrent()
{
    for (int round = 0; round < 30; ++round) {
        Fixture f;
        f.arrange(Shuffled);
        const QString current = f.currentId();
        // Where the new row lands is drawn at random; what is reported follows from it.
        f.source.insertTracks(round % 11, {{QStringLiteral("new"), QString(), 0}});
        const int landed = int(f.ids().indexOf(QStringLiteral("new")));
        QVERIFY(landed > 5);
        const QString next = landed == 6 ? QStringLiteral(" u(2,5)") : QString();
        QCOMPARE(f.log->text(), QStringLiteral("c(%1,0,1)").arg(landed) + next);
        QCOMPARE(f.playlist.getCurrentIndex(), 5);
        QCOMPARE(f.currentId(), current);
    }
    // With the last item current, the new row can only come right after it.
    Fixture f;
    f.playlist.shuffle();
    f.choose(9);
    f.log->take();
    f.source.appendTracks({{QStringLiteral("new"), QString(), 0}});
    QCOMPARE(f.log->text(), QStringLiteral("c(10,0,1) u(2,9)"));
}

void tst_RovaPlaylistBase::shouldChooseLastItemWhenCurrentPositionIsGone()
{
    // The current position 7 no longer exists after removing 5..7 of ten, so
    // the last remaining item becomes current, not the one after the removed rows.
    Fixture f;
    f.choose(7);
    f.log->take();
    QVERIFY(f.playlist.removeItems(5, 7));
    QCOMPARE(f.log->text(), QStringLiteral("c(5,3,0) u(0,6)"));
    QCOMPARE(f.currentId(), QStringLiteral("9"));
}

void tst_RovaPlaylistBase::shouldReportNewContentWithoutCurrentItem()
{
    Fixture f;
    f.source.insertTracks(4, TrackTableModel::numbered(2, 100));
    QCOMPARE(f.log->take(), QStringLiteral("c(4,0,2) u(3,-1)"));
    f.source.insertTracks(0, TrackTableModel::numbered(1, 200));
    QCOMPARE(f.log->take(), QStringLiteral("c(0,0,1) u(3,-1)"));
    QCOMPARE(f.playlist.getCurrentIndex(), -1);
}

void tst_RovaPlaylistBase::shouldReportEveryChangeBeforeAnyRead()
{
    TrackTableModel source;
    source.setTracks(tenTracks());
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

void tst_RovaPlaylistBase::shouldKeepCurrentItemThroughSorts_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("expectedLog");
    // Item "3" is current; numbers are 0, 10, ..., 90 and titles t0..t9.
    QTest::newRow("numeric descending") << 2 << int(RovaPlaylist::SortNumericDescending) << "c(0,10,10) u(1,6)";
    QTest::newRow("text descending") << 1 << int(RovaPlaylist::SortDescending) << "c(0,10,10) u(1,6)";
    QTest::newRow("text ascending") << 0 << int(RovaPlaylist::SortAscending) << "c(0,10,10) u(1,3)";
    QTest::newRow("back to natural") << 0 << int(RovaPlaylist::SortNone) << "c(0,10,10) u(1,3)";
}

void tst_RovaPlaylistBase::shouldKeepCurrentItemThroughSorts()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QString, expectedLog);
    Fixture f;
    f.playlist.sort(2, RovaPlaylist::SortNumericDescending);
    f.choose(6);
    QCOMPARE(f.currentId(), QStringLiteral("3"));
    f.playlist.sort(1, RovaPlaylist::SortAscending);
    f.log->take();
    f.playlist.sort(column, RovaPlaylist::RovaSortOrder(order));
    QCOMPARE(f.log->text(), expectedLog);
    QCOMPARE(f.currentId(), QStringLiteral("3"));
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::RovaSortOrder(order));
}

void tst_RovaPlaylistBase::shouldFindCurrentItemAfterEditsAndSort_data()
{
    QTest::addColumn<int>("edit");
    QTest::addColumn<QString>("expectedCurrentId");
    QTest::newRow("rows inserted before current") << 0 << "5";
    QTest::newRow("rows removed before current") << 1 << "5";
    QTest::newRow("current removed") << 2 << "6";
}

void tst_RovaPlaylistBase::shouldFindCurrentItemAfterEditsAndSort()
{
    QFETCH(int, edit);
    QFETCH(QString, expectedCurrentId);
    Fixture f;
    f.choose(5);
    if (edit == 0)
        f.source.insertTracks(0, TrackTableModel::numbered(3, 100));
    else if (edit == 1)
        f.source.removeRows(1, 2);
    else
        f.playlist.removeItem(5);
    QCOMPARE(f.currentId(), expectedCurrentId);
    f.playlist.sort(2, RovaPlaylist::SortNumericDescending);
    QCOMPARE(f.currentId(), expectedCurrentId);
    f.playlist.sort(1, RovaPlaylist::SortAscending);
    QCOMPARE(f.currentId(), expectedCurrentId);
}

void tst_RovaPlaylistBase::shouldFollowCurrentItemWhenDataChangeResorts()
{
    Fixture f;
    f.playlist.sort(2, RovaPlaylist::SortNumericAscending);
    f.choose(2);
    f.log->take();
    // Item "2" gets the largest number and moves to the end.
    QVERIFY(f.source.setData(f.source.index(2, 2), 500));
    QCOMPARE(f.playlist.getCurrentIndex(), 9);
    QCOMPARE(f.currentId(), QStringLiteral("2"));
    QVERIFY(f.log->text().endsWith(QStringLiteral("u(1,9)")));
}

void tst_RovaPlaylistBase::shouldShuffleWithCurrentItemFirstAndUnshuffleBack()
{
    Fixture f;
    f.choose(4);
    f.log->take();
    f.playlist.shuffle();
    QCOMPARE(f.log->take(), QStringLiteral("c(0,10,10) u(1,0)"));
    QVERIFY(f.playlist.isShuffled());
    QCOMPARE(f.playlist.getCurrentIndex(), 0);
    QCOMPARE(f.currentId(), QStringLiteral("4"));
    f.playlist.unShuffle();
    QCOMPARE(f.log->take(), QStringLiteral("c(0,10,10) u(1,4)"));
    QVERIFY(!f.playlist.isShuffled());
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortNone);
    QCOMPARE(f.currentId(), QStringLiteral("4"));
    QCOMPARE(f.ids(), f.source.ids());
    f.playlist.unShuffle();
    QCOMPARE(f.log->text(), QString());
}

void tst_RovaPlaylistBase::shouldMakeFirstItemCurrentWhenShufflingWithoutOne()
{
    Fixture f;
    f.log->take();
    f.playlist.shuffle();
    QCOMPARE(f.log->take(), QStringLiteral("c(0,10,10) u(1,0)"));
    QCOMPARE(f.playlist.getCurrentIndex(), 0);
    const QString first = f.ids().first();
    QCOMPARE(f.currentId(), first);
    // The first item stays current through a sort.
    f.playlist.sort(0, RovaPlaylist::SortAscending);
    QCOMPARE(f.currentId(), first);
}

void tst_RovaPlaylistBase::shouldIgnoreSecondShuffle()
{
    Fixture f;
    f.choose(7);
    f.playlist.shuffle();
    f.choose(3);
    const QString current = f.currentId();
    const QStringList order = f.ids();
    f.log->take();
    f.playlist.shuffle();
    QCOMPARE(f.log->text(), QString());
    QCOMPARE(f.playlist.getCurrentIndex(), 3);
    QCOMPARE(f.currentId(), current);
    QCOMPARE(f.ids(), order);
}

void tst_RovaPlaylistBase::shouldShuffleThroughSort()
{
    Fixture f;
    f.choose(8);
    f.playlist.sort(-5, RovaPlaylist::SortShuffled);
    QVERIFY(f.playlist.isShuffled());
    QCOMPARE(f.ids().first(), QStringLiteral("8"));
    f.playlist.sort(-5, RovaPlaylist::SortNone);
    QCOMPARE(f.ids(), f.source.ids());
    QCOMPARE(f.playlist.getCurrentIndex(), 8);
}

void tst_RovaPlaylistBase::shouldSortByColumnName()
{
    Fixture f;
    QCOMPARE(f.playlist.getColumnNames(), strings("Id Title Number"));
    f.playlist.sort(QStringLiteral("Number"), RovaPlaylist::SortNumericDescending);
    QCOMPARE(f.ids(), strings("9 8 7 6 5 4 3 2 1 0"));
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortNumericDescending);

    const QString before = f.log->take();
    QVERIFY(!before.isEmpty());
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column named \"number\"");
    f.playlist.sort(QStringLiteral("number"), RovaPlaylist::SortAscending);
    QCOMPARE(f.log->text(), QString());
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortNumericDescending);
}

void tst_RovaPlaylistBase::shouldReportReplacedModel()
{
    Fixture f;
    f.choose(2);
    f.log->take();
    TrackTableModel other;
    other.setTracks(TrackTableModel::numbered(4));
    f.playlist.setUnderlyingModel(&other);
    QCOMPARE(f.log->take(), QStringLiteral("c(0,10,4) u(3,-1)"));
    QCOMPARE(f.playlist.getCurrentIndex(), -1);
    QCOMPARE(f.playlist.underlyingModel(), &other);
    QCOMPARE(f.playlist.size(), 4);
    f.playlist.setUnderlyingModel(nullptr);
    QCOMPARE(f.log->take(), QStringLiteral("c(0,4,0) u(3,-1)"));
    QCOMPARE(f.playlist.size(), 0);
    QVERIFY(!f.playlist.underlyingModel());
    // Changes of the old models are not reported any more.
    f.source.removeRows(0, 1);
    other.removeRows(0, 1);
    QCOMPARE(f.log->text(), QString());
}

void tst_RovaPlaylistBase::shouldBeEmptyWhenModelDeleted()
{
    IdPlaylist playlist;
    QAbstractItemModelTester tester(playlist.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    PlaylistLog log(&playlist);
    auto* source = new TrackTableModel;
    source->setTracks(tenTracks());
    playlist.setUnderlyingModel(source);
    playlist.shuffle();
    log.take();
    delete source;
    QCOMPARE(log.take(), QStringLiteral("c(0,10,0) u(3,-1)"));
    QVERIFY(!playlist.underlyingModel());
    QCOMPARE(playlist.size(), 0);
    QCOMPARE(playlist.getCurrentIndex(), -1);
    QVERIFY(!playlist.getItem(0));

    TrackTableModel next;
    next.setTracks(TrackTableModel::numbered(3));
    playlist.setUnderlyingModel(&next);
    QCOMPARE(log.take(), QStringLiteral("c(0,0,3) u(3,-1)"));
    QCOMPARE(playlist.size(), 3);
}

void tst_RovaPlaylistBase::shouldReportModelReset()
{
    Fixture f;
    f.choose(5);
    f.log->take();
    f.source.setTracks(TrackTableModel::numbered(3));
    QCOMPARE(f.log->text(), QStringLiteral("c(0,10,3) u(3,-1)"));
    QCOMPARE(f.playlist.getCurrentIndex(), -1);
    QCOMPARE(f.playlist.size(), 3);
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

void tst_RovaPlaylistBase::shouldRejectBadIndexes()
{
    Fixture f;
    f.choose(4);
    f.log->take();
    QVERIFY(!f.playlist.getItem(-1));
    QVERIFY(!f.playlist.getItem(10));
    QVERIFY(!f.playlist.getItem(INT_MAX));
    QCOMPARE(f.playlist.getCurrentIndex(), 4);
    QVERIFY(!f.playlist.removeItem(-1));
    QVERIFY(!f.playlist.removeItem(10));
    QVERIFY(!f.playlist.removeItem(INT_MIN));
    QVERIFY(!f.playlist.removeItems(-1, 2));
    QVERIFY(!f.playlist.removeItems(8, 10));
    QVERIFY(!f.playlist.removeItems(1, INT_MAX));
    QVERIFY(!f.playlist.removeItems(INT_MIN, INT_MAX));
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::removeItems lastIndex less than firstIndex!");
    QVERIFY(!f.playlist.removeItems(5, 3));
    QCOMPARE(f.playlist.size(), 10);
    QCOMPARE(f.log->text(), QString());
    QCOMPARE(f.playlist.getNext(INT_MAX), -1);
    QCOMPARE(f.playlist.getPrevious(INT_MIN), -1);
}

void tst_RovaPlaylistBase::shouldRejectBadSortRequests()
{
    Fixture f;
    f.playlist.sort(1, RovaPlaylist::SortDescending);
    f.choose(2);
    const QStringList order = f.ids();
    f.log->take();
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase: Invalid playlist sort enum!");
    f.playlist.sort(1, RovaPlaylist::RovaSortOrder(6));
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase: Invalid playlist sort enum!");
    f.playlist.sort(1, RovaPlaylist::RovaSortOrder(7));
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column 3");
    f.playlist.sort(3, RovaPlaylist::SortAscending);
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column -1");
    f.playlist.sort(-1, RovaPlaylist::SortNumericAscending);
    QCOMPARE(f.ids(), order);
    QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortDescending);
    QCOMPARE(f.playlist.getCurrentIndex(), 2);
    QCOMPARE(f.log->text(), QString());
}

void tst_RovaPlaylistBase::shouldRefuseImportAndMove()
{
    Fixture f;
    QFile file;
    QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::import NOT IMPLEMENTED");
    QVERIFY(!f.playlist.import(file));
    QVERIFY(!f.playlist.moveItem(0, 1));
    QCOMPARE(f.ids(), f.source.ids());
}

void tst_RovaPlaylistBase::shouldReturnNoItemFromPlainBase()
{
    TrackTableModel source;
    source.setTracks(tenTracks());
    RovaPlaylistBase playlist(QStringLiteral("rova1"), QStringLiteral("plain"));
    playlist.setUnderlyingModel(&source);
    QVERIFY(!playlist.getItem(0));
    QCOMPARE(playlist.getCurrentIndex(), -1);
    QCOMPARE(playlist.name(), QStringLiteral("plain"));
    QCOMPARE(playlist.id(), QStringLiteral("rova1"));
}

QTEST_GUILESS_MAIN(tst_RovaPlaylistBase)
#include "tst_rovaplaylistbase.moc"
