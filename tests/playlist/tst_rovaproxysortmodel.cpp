// SPDX-License-Identifier: LGPL-2.1-or-later
#include "playlisttesting.h"

#include <rovaproxysortmodel.h>

#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <climits>

namespace {

struct Fixture
{
    explicit Fixture(const QList<Track>& tracks)
    {
        source.setTracks(tracks);
        proxy.setDynamicSortFilter(true);
        proxy.setSortCaseSensitivity(Qt::CaseInsensitive);
        proxy.setSortLocaleAware(true);
        proxy.setSourceModel(&source);
        tester = modelTester(&proxy);
    }

    QStringList ids() const { return presentedIds(&proxy); }

    // Every presented row maps to a distinct underlying row with the same data, and back.
    bool mappingAgrees() const
    {
        QSet<int> rows;
        for (int i = 0; i < proxy.rowCount(); ++i) {
            const QModelIndex sourceIndex = proxy.mapToSource(proxy.index(i, 0));
            if (!sourceIndex.isValid() || proxy.mapFromSource(sourceIndex).row() != i
                || sourceIndex.data() != proxy.index(i, 0).data())
                return false;
            rows.insert(sourceIndex.row());
        }
        return rows.size() == source.rowCount() && proxy.rowCount() == source.rowCount();
    }

    TrackTableModel source;
    RovaProxySortModel proxy;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

class tst_RovaProxySortModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldPresentOrder_data();
    void shouldPresentOrder();
    void shouldIgnoreInvalidColumnsAndOrders_data();
    void shouldIgnoreInvalidColumnsAndOrders();
    void shouldShuffleWithGivenRowFirst_data();
    void shouldShuffleWithGivenRowFirst();
    void shouldShuffleAgainAfterSourceReset();
    void shouldReportRemovalsBeforeAnyRead();
    void shouldRefuseInvalidIndexes();
};

void tst_RovaProxySortModel::shouldPresentOrder_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    // Titles 10 9 100 5 50 0; numbers 3, none, 7, -1, none, 0.
    QTest::newRow("natural at first") << -1 << 0 << int(RovaPlaylist::SortNone) << strings("0 1 2 3 4 5");
    QTest::newRow("text ascending") << -1 << 1 << int(RovaPlaylist::SortAscending) << strings("5 0 2 3 4 1");
    QTest::newRow("text descending") << -1 << 1 << int(RovaPlaylist::SortDescending) << strings("1 4 3 2 0 5");
    // A missing number counts as 0 on either side: equal to 0, above -1.
    QTest::newRow("numeric ascending") << -1 << 2 << int(RovaPlaylist::SortNumericAscending) << strings("3 1 4 5 0 2");
    QTest::newRow("numeric descending") << -1 << 2 << int(RovaPlaylist::SortNumericDescending) << strings("2 0 1 4 5 3");
    QTest::newRow("numeric on text column") << -1 << 1 << int(RovaPlaylist::SortNumericAscending) << strings("5 3 1 0 4 2");
    // Qt's proxy takes these for the order already in force; they must still re-sort.
    QTest::newRow("text then numeric, one column")
        << int(RovaPlaylist::SortAscending) << 1 << int(RovaPlaylist::SortNumericAscending) << strings("5 3 1 0 4 2");
    QTest::newRow("shuffled then text ascending on column 0")
        << int(RovaPlaylist::SortShuffled) << 0 << int(RovaPlaylist::SortAscending) << strings("0 1 2 3 4 5");
    QTest::newRow("sorted then natural")
        << int(RovaPlaylist::SortNumericDescending) << 1 << int(RovaPlaylist::SortNone) << strings("0 1 2 3 4 5");
    QTest::newRow("shuffled then natural") << int(RovaPlaylist::SortShuffled) << 1 << int(RovaPlaylist::SortNone)
                                           << strings("0 1 2 3 4 5");
}

void tst_RovaProxySortModel::shouldPresentOrder()
{
    QFETCH(int, before);
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    const QList<QVariant> numbers{3, QVariant(), 7, -1, QVariant(), 0};
    const QStringList titles = strings("10 9 100 5 50 0");
    QList<Track> tracks;
    for (int i = 0; i < 6; ++i)
        tracks.append({QString::number(i), titles.at(i), numbers.at(i)});
    Fixture f(tracks);
    const auto apply = [&f, column](int sortOrder) {
        if (sortOrder == RovaPlaylist::SortShuffled)
            f.proxy.shuffle(-1);
        else if (sortOrder == RovaPlaylist::SortNone)
            f.proxy.resetSortOrder();
        else
            f.proxy.sort(column, RovaPlaylist::RovaSortOrder(sortOrder));
    };
    if (before >= 0)
        apply(before);
    apply(order);
    QCOMPARE(f.ids(), expected);
    QCOMPARE(int(f.proxy.getSortOrder()), order);
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldIgnoreInvalidColumnsAndOrders_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("qtOrder");
    QTest::newRow("negative column") << -1 << int(RovaPlaylist::SortNumericAscending) << false;
    QTest::newRow("column past the last") << 3 << int(RovaPlaylist::SortAscending) << false;
    QTest::newRow("natural order by sort") << 0 << int(RovaPlaylist::SortNone) << false;
    QTest::newRow("shuffled order by sort") << 0 << int(RovaPlaylist::SortShuffled) << false;
    QTest::newRow("order past the last") << 0 << 6 << false;
    QTest::newRow("negative order") << 0 << -1 << false;
    QTest::newRow("largest order") << 0 << INT_MAX << false;
    QTest::newRow("negative column, Qt order") << -1 << int(Qt::AscendingOrder) << true;
    QTest::newRow("column past the last, Qt order") << 3 << int(Qt::DescendingOrder) << true;
}

void tst_RovaProxySortModel::shouldIgnoreInvalidColumnsAndOrders()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(bool, qtOrder);
    Fixture f(TrackTableModel::numbered(5));
    f.proxy.sort(2, RovaPlaylist::SortNumericDescending);
    QSignalSpy layout(&f.proxy, &QAbstractItemModel::layoutChanged);
    if (qtOrder)
        f.proxy.sort(column, Qt::SortOrder(order));
    else
        f.proxy.sort(column, RovaPlaylist::RovaSortOrder(order));
    QCOMPARE(f.ids(), strings("4 3 2 1 0"));
    QCOMPARE(layout.count(), 0);
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortNumericDescending);
}

void tst_RovaProxySortModel::shouldShuffleWithGivenRowFirst_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("sortOrder");
    QTest::newRow("row 0 from natural") << 50 << 0 << int(RovaPlaylist::SortNone);
    QTest::newRow("last row from natural") << 50 << 49 << int(RovaPlaylist::SortNone);
    QTest::newRow("row 7 from text ascending") << 50 << 7 << int(RovaPlaylist::SortAscending);
    QTest::newRow("row 7 from numeric descending") << 50 << 7 << int(RovaPlaylist::SortNumericDescending);
    QTest::newRow("row 7 from text descending") << 50 << 7 << int(RovaPlaylist::SortDescending);
    QTest::newRow("no row") << 50 << -1 << int(RovaPlaylist::SortNone);
    QTest::newRow("row past the end") << 50 << 50 << int(RovaPlaylist::SortNone);
    QTest::newRow("one row") << 1 << 0 << int(RovaPlaylist::SortNone);
    QTest::newRow("no rows") << 0 << -1 << int(RovaPlaylist::SortNone);
}

void tst_RovaProxySortModel::shouldShuffleWithGivenRowFirst()
{
    QFETCH(int, count);
    QFETCH(int, first);
    QFETCH(int, sortOrder);
    Fixture f(TrackTableModel::numbered(count));
    if (sortOrder != RovaPlaylist::SortNone)
        f.proxy.sort(2, RovaPlaylist::RovaSortOrder(sortOrder));
    QSignalSpy layout(&f.proxy, &QAbstractItemModel::layoutChanged);
    f.proxy.shuffle(first);
    QCOMPARE(f.proxy.getSortOrder(), count > 0 ? RovaPlaylist::SortShuffled : RovaPlaylist::SortNone);
    QCOMPARE(layout.count(), count > 0 ? 1 : 0);
    const QStringList ids = f.ids();
    QCOMPARE(sorted(ids), sorted(f.source.ids()));
    if (first >= 0 && first < count)
        QCOMPARE(ids.first(), QString::number(first));
    if (count > 2)
        QVERIFY(ids != f.source.ids());
    QVERIFY(f.mappingAgrees());

    // Shuffling again changes nothing.
    f.proxy.shuffle(count / 2);
    QCOMPARE(f.ids(), ids);
    QCOMPARE(layout.count(), count > 0 ? 1 : 0);

    // Removing a presented row removes exactly that item, and the others keep their order.
    if (count > 5) {
        QStringList expected = ids;
        const QString victim = expected.takeAt(5);
        QVERIFY(f.proxy.removeRows(5, 1));
        QCOMPARE(f.ids(), expected);
        QVERIFY(!f.source.ids().contains(victim));
        QVERIFY(f.mappingAgrees());
    }
}

void tst_RovaProxySortModel::shouldShuffleAgainAfterSourceReset()
{
    Fixture f(TrackTableModel::numbered(10));
    f.proxy.shuffle(0);
    f.source.setTracks(TrackTableModel::numbered(30, 50));
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortShuffled);
    const QStringList ids = f.ids();
    QCOMPARE(sorted(ids), sorted(f.source.ids()));
    // All rows are shuffled, also those past the old row count (ids 60 and on).
    QStringList newRows = ids;
    newRows.removeIf([](const QString& id) { return id.toInt() < 60; });
    QVERIFY(newRows != sorted(newRows));
    // The new rows are in the shuffled order: a row inserted after the last comes last.
    f.proxy.setCurrentIndex(29);
    f.source.insertTracks(0, TrackTableModel::numbered(1, 100));
    QCOMPARE(f.ids(), ids + strings("100"));
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldReportRemovalsBeforeAnyRead()
{
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(6));
    RovaProxySortModel proxy;
    proxy.setSourceModel(&source);
    QSignalSpy removed(&proxy, &QAbstractItemModel::rowsRemoved);
    source.removeRows(1, 2);
    // Also after Qt's proxy has dropped its mapping.
    proxy.invalidate();
    source.removeRows(0, 1);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(presentedIds(&proxy), strings("3 4 5"));
}

void tst_RovaProxySortModel::shouldRefuseInvalidIndexes()
{
    Fixture f(TrackTableModel::numbered(3));
    for (const auto& [row, column] : {std::pair(3, 0), std::pair(-1, 0), std::pair(0, 3), std::pair(0, -1)})
        QVERIFY(!f.proxy.index(row, column).isValid());
    // The playlist is flat.
    const QModelIndex first = f.proxy.index(0, 0);
    QCOMPARE(f.proxy.rowCount(first), 0);
    QVERIFY(!f.proxy.hasChildren(first));
    QVERIFY(!f.proxy.index(0, 0, first).isValid());
    // An index of another model is not taken for one of ours.
    QVERIFY(!f.proxy.data(f.source.index(1, 0)).isValid());
    QVERIFY(!f.proxy.mapToSource(f.source.index(1, 0)).isValid());
    QVERIFY(!f.proxy.setData(f.source.index(1, 1), QStringLiteral("x")));
    QVERIFY(f.proxy.setData(f.proxy.index(1, 1), QStringLiteral("y")));
    QCOMPARE(f.source.index(1, 1).data().toString(), QStringLiteral("y"));
}

QTEST_GUILESS_MAIN(tst_RovaProxySortModel)
#include "tst_rovaproxysortmodel.moc"
