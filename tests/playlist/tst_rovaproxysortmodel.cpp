// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tracktablemodel.h"

#include <rovaproxysortmodel.h>

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>

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
        tester = std::make_unique<QAbstractItemModelTester>(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    QStringList ids() const { return presentedIds(&proxy); }

    // Every presented row maps to a distinct underlying row and back.
    bool mappingAgrees() const
    {
        QSet<int> rows;
        for (int i = 0; i < proxy.rowCount(); ++i) {
            const QModelIndex sourceIndex = proxy.mapToSource(proxy.index(i, 0));
            if (!sourceIndex.isValid() || proxy.mapFromSource(sourceIndex).row() != i)
                return false;
            if (sourceIndex.data() != proxy.index(i, 0).data())
                return false;
            rows.insert(sourceIndex.row());
        }
        return rows.size() == source.rowCount() && proxy.rowCount() == source.rowCount();
    }

    TrackTableModel source;
    RovaProxySortModel proxy;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

QList<Track> withNumbers(const QList<QVariant>& numbers)
{
    QList<Track> tracks;
    for (int i = 0; i < numbers.size(); ++i)
        tracks.append({QString::number(i), numbers.at(i).toString(), numbers.at(i)});
    return tracks;
}

QStringList sorted(QStringList ids)
{
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

class tst_RovaProxySortModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldPresentNaturalOrderFirst();
    void shouldSortAsTextOrAsNumbers_data();
    void shouldSortAsTextOrAsNumbers();
    void shouldCountMissingNumbersAsZero();
    void shouldIgnoreInvalidColumnsAndOrders_data();
    void shouldIgnoreInvalidColumnsAndOrders();
    void shouldResortWhenOnlyComparisonChanges_data();
    void shouldResortWhenOnlyComparisonChanges();
    void shouldShuffleWithGivenRowFirst_data();
    void shouldShuffleWithGivenRowFirst();
    void shouldShuffleSmallLists();
    void shouldNotReshuffleWhenShuffled();
    void shouldPresentAndRemoveExactPermutationAfterDescendingSort();
    void shouldPlaceInsertedRowsAfterCurrent_data();
    void shouldPlaceInsertedRowsAfterCurrent();
    void shouldForgetSortOfEmptyModelOnReset();
    void shouldRefuseInvalidIndexes();
    void shouldBeFlat();
    void shouldReportRemovalsBeforeAnyRead();
    void shouldBeEmptyWithoutSource();
    void shouldResetWhenSourceDeleted();
    void shouldShuffleAgainAfterSourceReset();
};

void tst_RovaProxySortModel::shouldPresentNaturalOrderFirst()
{
    Fixture f(TrackTableModel::numbered(5));
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortNone);
    QCOMPARE(f.ids(), f.source.ids());
    QCOMPARE(f.proxy.columnCount(), 3);
}

void tst_RovaProxySortModel::shouldSortAsTextOrAsNumbers_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("numeric ascending") << int(RovaPlaylist::SortNumericAscending) << strings("9 10 100");
    QTest::newRow("numeric descending") << int(RovaPlaylist::SortNumericDescending) << strings("100 10 9");
    QTest::newRow("text ascending") << int(RovaPlaylist::SortAscending) << strings("10 100 9");
    QTest::newRow("text descending") << int(RovaPlaylist::SortDescending) << strings("9 100 10");
}

void tst_RovaProxySortModel::shouldSortAsTextOrAsNumbers()
{
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    QList<Track> tracks;
    for (const char* text : {"10", "9", "100"})
        tracks.append({QString::fromLatin1(text), QString(), QVariant()});
    Fixture f(tracks);
    f.proxy.sort(0, RovaPlaylist::RovaSortOrder(order));
    QCOMPARE(f.ids(), expected);
    QCOMPARE(int(f.proxy.getSortOrder()), order);
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldCountMissingNumbersAsZero()
{
    // Rows 1 and 4 have no number at all; they sort as 0, next to each other.
    Fixture f(withNumbers({3, QVariant(), 7, -1, QVariant(), 0}));
    f.proxy.sort(2, RovaPlaylist::SortNumericAscending);
    QCOMPARE(f.ids(), (strings("3 1 4 5 0 2")));
    f.proxy.sort(2, RovaPlaylist::SortNumericDescending);
    QCOMPARE(f.ids().first(), QStringLiteral("2"));
    QCOMPARE(f.ids().last(), QStringLiteral("3"));
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldIgnoreInvalidColumnsAndOrders_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::newRow("negative column") << -1 << int(RovaPlaylist::SortNumericAscending);
    QTest::newRow("column past the last") << 3 << int(RovaPlaylist::SortNumericDescending);
    QTest::newRow("natural order by sort") << 0 << int(RovaPlaylist::SortNone);
    QTest::newRow("shuffled order by sort") << 0 << int(RovaPlaylist::SortShuffled);
    QTest::newRow("order past the last") << 0 << 6;
    QTest::newRow("largest value the type holds") << 0 << 7;
}

void tst_RovaProxySortModel::shouldIgnoreInvalidColumnsAndOrders()
{
    QFETCH(int, column);
    QFETCH(int, order);
    Fixture f(withNumbers({5, 1, 3}));
    f.proxy.sort(2, RovaPlaylist::SortNumericDescending);
    const QStringList before = f.ids();
    QSignalSpy layout(&f.proxy, &QAbstractItemModel::layoutChanged);
    f.proxy.sort(column, RovaPlaylist::RovaSortOrder(order));
    f.proxy.sort(column, Qt::AscendingOrder);
    if (column < 0 || column >= 3) {
        QCOMPARE(f.ids(), before);
        QCOMPARE(layout.count(), 0);
    }
    f.proxy.sort(column, RovaPlaylist::RovaSortOrder(order));
    if (column >= 0 && column < 3)
        QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortAscending);
    else
        QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortNumericDescending);
}

void tst_RovaProxySortModel::shouldResortWhenOnlyComparisonChanges_data()
{
    QTest::addColumn<bool>("fromShuffled");
    QTest::newRow("text then numeric on one column") << false;
    QTest::newRow("shuffled then text ascending on column 0") << true;
}

void tst_RovaProxySortModel::shouldResortWhenOnlyComparisonChanges()
{
    QFETCH(bool, fromShuffled);
    QList<Track> tracks;
    for (int i = 0; i < 40; ++i)
        tracks.append({QString::number(i), QString(), QVariant()});
    Fixture f(tracks);
    if (fromShuffled) {
        f.proxy.sort(0, Qt::AscendingOrder);
        f.proxy.shuffle(-1);
        f.proxy.sort(0, RovaPlaylist::SortAscending);
        QCOMPARE(f.ids(), sorted(f.source.ids()));
    } else {
        f.proxy.sort(0, RovaPlaylist::SortAscending);
        QCOMPARE(f.ids().mid(0, 3), (strings("0 1 10")));
        f.proxy.sort(0, RovaPlaylist::SortNumericAscending);
        QCOMPARE(f.ids(), f.source.ids());
    }
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldShuffleWithGivenRowFirst_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("sortOrder");
    QTest::newRow("row 0 from natural") << 0 << int(RovaPlaylist::SortNone);
    QTest::newRow("last row from natural") << 49 << int(RovaPlaylist::SortNone);
    QTest::newRow("row 7 from text ascending") << 7 << int(RovaPlaylist::SortAscending);
    QTest::newRow("row 7 from numeric descending") << 7 << int(RovaPlaylist::SortNumericDescending);
    QTest::newRow("no row from natural") << -1 << int(RovaPlaylist::SortNone);
    QTest::newRow("row past the end") << 50 << int(RovaPlaylist::SortNone);
}

void tst_RovaProxySortModel::shouldShuffleWithGivenRowFirst()
{
    QFETCH(int, first);
    QFETCH(int, sortOrder);
    Fixture f(TrackTableModel::numbered(50));
    if (sortOrder != RovaPlaylist::SortNone)
        f.proxy.sort(2, RovaPlaylist::RovaSortOrder(sortOrder));
    QSignalSpy layout(&f.proxy, &QAbstractItemModel::layoutChanged);
    f.proxy.shuffle(first);
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortShuffled);
    QCOMPARE(layout.count(), 1);
    const QStringList ids = f.ids();
    QCOMPARE(sorted(ids), sorted(f.source.ids()));
    if (first >= 0 && first < 50)
        QCOMPARE(ids.first(), QString::number(first));
    QVERIFY(ids != f.source.ids());
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldShuffleSmallLists()
{
    Fixture one(TrackTableModel::numbered(1));
    one.proxy.shuffle(0);
    QCOMPARE(one.ids(), strings("0"));
    QCOMPARE(one.proxy.getSortOrder(), RovaPlaylist::SortShuffled);

    Fixture none({});
    none.proxy.shuffle(-1);
    QCOMPARE(none.proxy.rowCount(), 0);
    QCOMPARE(none.proxy.getSortOrder(), RovaPlaylist::SortNone);
}

void tst_RovaProxySortModel::shouldNotReshuffleWhenShuffled()
{
    Fixture f(TrackTableModel::numbered(30));
    f.proxy.shuffle(4);
    const QStringList once = f.ids();
    QSignalSpy layout(&f.proxy, &QAbstractItemModel::layoutChanged);
    f.proxy.shuffle(9);
    QCOMPARE(f.ids(), once);
    QCOMPARE(layout.count(), 0);
}

void tst_RovaProxySortModel::shouldPresentAndRemoveExactPermutationAfterDescendingSort()
{
    Fixture f(TrackTableModel::numbered(30));
    f.proxy.sort(0, Qt::DescendingOrder);
    f.proxy.shuffle(12);
    QCOMPARE(f.ids().first(), QStringLiteral("12"));
    QVERIFY(f.mappingAgrees());
    // Removing a presented row removes exactly that item.
    QStringList expected = f.ids();
    const QString victim = expected.takeAt(5);
    QVERIFY(f.proxy.removeRows(5, 1));
    QCOMPARE(f.ids(), expected);
    QVERIFY(!f.source.ids().contains(victim));
    QVERIFY(f.mappingAgrees());
}

void tst_RovaProxySortModel::shouldPlaceInsertedRowsAfterCurrent_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("sourceRow");
    QTest::addColumn<int>("count");
    QTest::newRow("one row, current in the middle") << 10 << 3 << 1;
    QTest::newRow("one row, current last") << 19 << 0 << 1;
    QTest::newRow("rows appended, current first") << 0 << 20 << 8;
    QTest::newRow("rows at front, no current") << -1 << 0 << 5;
}

void tst_RovaProxySortModel::shouldPlaceInsertedRowsAfterCurrent()
{
    QFETCH(int, current);
    QFETCH(int, sourceRow);
    QFETCH(int, count);
    for (int round = 0; round < 20; ++round) {
        Fixture f(TrackTableModel::numbered(20));
        f.proxy.shuffle(current >= 0 ? 6 : -1);
        f.proxy.setCurrentIndex(current);
        const QStringList before = f.ids();
        QSignalSpy inserted(&f.proxy, &QAbstractItemModel::rowsInserted);
        f.source.insertTracks(sourceRow, TrackTableModel::numbered(count, 100));

        const QStringList after = f.ids();
        QCOMPARE(after.size(), 20 + count);
        QCOMPARE(after.mid(0, current + 1), before.mid(0, current + 1));
        QStringList old = after;
        old.removeIf([](const QString& id) { return id.toInt() >= 100; });
        QCOMPARE(old, before);
        int reported = 0;
        for (const QList<QVariant>& arguments : inserted)
            reported += arguments.at(2).toInt() - arguments.at(1).toInt() + 1;
        QCOMPARE(reported, count);
        QVERIFY(f.mappingAgrees());
    }
}

void tst_RovaProxySortModel::shouldForgetSortOfEmptyModelOnReset()
{
    Fixture f(TrackTableModel::numbered(4));
    f.proxy.sort(0, Qt::DescendingOrder);
    f.source.removeRows(0, 4);
    f.proxy.resetSortOrder();
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortNone);
    f.source.appendTracks(TrackTableModel::numbered(3));
    QCOMPARE(f.ids(), (strings("0 1 2")));
}

void tst_RovaProxySortModel::shouldRefuseInvalidIndexes()
{
    Fixture f(TrackTableModel::numbered(3));
    QVERIFY(!f.proxy.index(3, 0).isValid());
    QVERIFY(!f.proxy.index(-1, 0).isValid());
    QVERIFY(!f.proxy.index(0, 3).isValid());
    QVERIFY(!f.proxy.index(0, -1).isValid());
    QVERIFY(!f.proxy.data(QModelIndex()).isValid());
    // An index of another model is not taken for one of ours.
    QVERIFY(!f.proxy.data(f.source.index(1, 0)).isValid());
    QVERIFY(!f.proxy.mapToSource(f.source.index(1, 0)).isValid());
    QVERIFY(!f.proxy.setData(f.source.index(1, 0), QStringLiteral("x")));
    QVERIFY(f.proxy.setData(f.proxy.index(1, 1), QStringLiteral("x")));
    QCOMPARE(f.source.index(1, 1).data().toString(), QStringLiteral("x"));
    QVERIFY(!f.proxy.removeRows(2, 2));
    QVERIFY(!f.proxy.removeRows(-1, 1));
    QCOMPARE(f.proxy.rowCount(), 3);
}

void tst_RovaProxySortModel::shouldBeFlat()
{
    Fixture f(TrackTableModel::numbered(3));
    const QModelIndex row = f.proxy.index(0, 0);
    QCOMPARE(f.proxy.rowCount(row), 0);
    QCOMPARE(f.proxy.columnCount(row), 0);
    QVERIFY(!f.proxy.hasChildren(row));
    QVERIFY(!f.proxy.index(0, 0, row).isValid());
    QVERIFY(f.proxy.hasChildren());
}

void tst_RovaProxySortModel::shouldReportRemovalsBeforeAnyRead()
{
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(6));
    RovaProxySortModel proxy;
    proxy.setSourceModel(&source);
    QSignalSpy removed(&proxy, &QAbstractItemModel::rowsRemoved);
    source.removeRows(1, 2);
    QCOMPARE(removed.count(), 1);
    // Also after Qt's proxy has dropped its mapping.
    proxy.invalidate();
    source.removeRows(0, 1);
    QCOMPARE(removed.count(), 2);
    QCOMPARE(presentedIds(&proxy), (strings("3 4 5")));
}

void tst_RovaProxySortModel::shouldBeEmptyWithoutSource()
{
    Fixture f(TrackTableModel::numbered(4));
    f.proxy.shuffle(1);
    f.proxy.setSourceModel(nullptr);
    QCOMPARE(f.proxy.rowCount(), 0);
    QCOMPARE(f.proxy.columnCount(), 0);
    QVERIFY(!f.proxy.index(0, 0).isValid());
    f.proxy.resetSortOrder();
    f.proxy.shuffle(0);
    f.proxy.sort(0, RovaPlaylist::SortAscending);
    QCOMPARE(f.proxy.rowCount(), 0);
    // A later model is presented in the order in force.
    f.proxy.setSourceModel(&f.source);
    QCOMPARE(sorted(f.ids()), sorted(f.source.ids()));
}

void tst_RovaProxySortModel::shouldResetWhenSourceDeleted()
{
    auto* source = new TrackTableModel;
    source->setTracks(TrackTableModel::numbered(5));
    RovaProxySortModel proxy;
    proxy.setSourceModel(source);
    proxy.shuffle(2);
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy reset(&proxy, &QAbstractItemModel::modelReset);
    delete source;
    QCOMPARE(reset.count(), 1);
    QCOMPARE(proxy.rowCount(), 0);
    QVERIFY(!proxy.sourceModel());
    QVERIFY(!proxy.index(0, 0).isValid());
}

void tst_RovaProxySortModel::shouldShuffleAgainAfterSourceReset()
{
    Fixture f(TrackTableModel::numbered(10));
    f.proxy.shuffle(0);
    f.source.setTracks(TrackTableModel::numbered(30, 50));
    QCOMPARE(f.proxy.getSortOrder(), RovaPlaylist::SortShuffled);
    QCOMPARE(sorted(f.ids()), sorted(f.source.ids()));
    QVERIFY(f.mappingAgrees());
}

QTEST_GUILESS_MAIN(tst_RovaProxySortModel)
#include "tst_rovaproxysortmodel.moc"
