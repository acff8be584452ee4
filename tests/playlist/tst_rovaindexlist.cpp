// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovaindexlist.h>

#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

QList<uint> contents(const RovaIndexList& list)
{
    QList<uint> values;
    for (int i = 0; i < list.size(); ++i)
        values.append(list.at(i));
    return values;
}

// The documented look-up rules in their plainest form: a hash of remembered
// positions and misses, dropped by every operation that moves entries.
struct PlainIndexList
{
    QList<uint> list;
    QHash<uint, int> cache;

    int indexOf(uint value, int from)
    {
        const auto it = cache.constFind(value);
        if (it != cache.constEnd())
            return it.value();
        int start = from < 0 ? int(list.size()) + from : from;
        start = qMax(start, 0);
        int found = -1;
        for (int i = start; i < list.size(); ++i) {
            if (list.at(i) == value) {
                found = i;
                break;
            }
        }
        cache.insert(value, found);
        return found;
    }
    void append(uint value)
    {
        list.append(value);
        cache.insert(value, int(list.size()) - 1);
    }
    void insert(int i, uint value)
    {
        list.insert(i, value);
        cache.clear();
        cache.insert(value, i);
    }
    void replace(int i, uint value)
    {
        cache.remove(list.at(i));
        list.replace(i, value);
        cache.insert(value, i);
    }
    void removeAt(int i)
    {
        if (i >= 0 && i < list.size())
            list.removeAt(i);
        cache.clear();
    }
    bool removeOne(uint value)
    {
        cache.clear();
        return list.removeOne(value);
    }
    void move(int from, int to)
    {
        list.move(from, to);
        cache.clear();
    }
    void swap(int i, int j)
    {
        list.swapItemsAt(i, j);
        cache.clear();
    }
};

} // namespace

class tst_RovaIndexList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldRememberAppendedValueAfterMiss();
    void shouldFindNewPositionsAfterSwap();
    void shouldIgnoreRemovalOutsideList();
    void shouldRemoveOnlyFirstOccurrence();
    void shouldForgetReplacedValue();
    void shouldSearchFromGivenPosition_data();
    void shouldSearchFromGivenPosition();
    void shouldAnswerLikePlainLookupsThroughRandomEdits_data();
    void shouldAnswerLikePlainLookupsThroughRandomEdits();
    void shouldFillWithIdentity();
    void shouldRemoveValueRangeAndRenumber_data();
    void shouldRemoveValueRangeAndRenumber();
    void shouldInsertAfterLikeOneInsertionAtATime_data();
    void shouldInsertAfterLikeOneInsertionAtATime();
};

void tst_RovaIndexList::shouldRememberAppendedValueAfterMiss()
{
    RovaIndexList list;
    list.append(3);
    QCOMPARE(list.indexOf(7, 0), -1);
    list.append(7);
    QCOMPARE(list.indexOf(7, 0), 1);
    QCOMPARE(list.indexOf(3, 0), 0);
    QCOMPARE(list.size(), 2);
}

void tst_RovaIndexList::shouldFindNewPositionsAfterSwap()
{
    RovaIndexList list;
    for (uint value : {5u, 6u, 7u})
        list.append(value);
    QCOMPARE(list.indexOf(5, 0), 0);
    QCOMPARE(list.indexOf(7, 0), 2);
    list.swap(0, 2);
    QCOMPARE(list.indexOf(7, 0), 0);
    QCOMPARE(list.indexOf(5, 0), 2);
    QCOMPARE(contents(list), (QList<uint>{7, 6, 5}));
}

void tst_RovaIndexList::shouldIgnoreRemovalOutsideList()
{
    RovaIndexList list;
    list.fill(3);
    list.removeAt(-1);
    list.removeAt(3);
    QCOMPARE(contents(list), (QList<uint>{0, 1, 2}));
    list.removeAt(1);
    QCOMPARE(contents(list), (QList<uint>{0, 2}));
    QCOMPARE(list.indexOf(2, 0), 1);
    QCOMPARE(list.indexOf(1, 0), -1);
}

void tst_RovaIndexList::shouldRemoveOnlyFirstOccurrence()
{
    RovaIndexList list;
    for (uint value : {4u, 9u, 4u})
        list.append(value);
    QVERIFY(list.removeOne(4));
    QCOMPARE(contents(list), (QList<uint>{9, 4}));
    QCOMPARE(list.indexOf(4, 0), 1);
    QVERIFY(!list.removeOne(5));
    QCOMPARE(contents(list), (QList<uint>{9, 4}));
}

void tst_RovaIndexList::shouldForgetReplacedValue()
{
    RovaIndexList list;
    list.append(4);
    list.append(8);
    QCOMPARE(list.indexOf(8, 0), 1);
    list.replace(1, 9);
    QCOMPARE(contents(list), (QList<uint>{4, 9}));
    QCOMPARE(list.indexOf(8, 0), -1);
    QCOMPARE(list.indexOf(9, 0), 1);
}

void tst_RovaIndexList::shouldSearchFromGivenPosition_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("expected");
    // List [1, 2, 1, 3, 1]; nothing looked up before.
    QTest::newRow("from start") << 0 << 0;
    QTest::newRow("from inside") << 1 << 2;
    QTest::newRow("from last") << 4 << 4;
    QTest::newRow("beyond end") << 5 << -1;
    QTest::newRow("negative counts from end") << -2 << 4;
    QTest::newRow("very negative is start") << -100 << 0;
}

void tst_RovaIndexList::shouldSearchFromGivenPosition()
{
    QFETCH(int, from);
    QFETCH(int, expected);
    RovaIndexList list;
    for (uint value : {1u, 2u, 1u, 3u, 1u})
        list.append(value);
    list.swap(0, 0); // forgets where values were stored
    QCOMPARE(list.indexOf(1, from), expected);
    // The answer is remembered, whatever later look-ups start from.
    QCOMPARE(list.indexOf(1, 0), expected);
}

void tst_RovaIndexList::shouldAnswerLikePlainLookupsThroughRandomEdits_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<uint>("valueRange");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u}) {
        QTest::addRow("few values, seed %u", seed) << seed << 6u;
        QTest::addRow("many values, seed %u", seed) << seed << 200u;
        QTest::addRow("huge values, seed %u", seed) << seed << 4000000000u;
    }
}

void tst_RovaIndexList::shouldAnswerLikePlainLookupsThroughRandomEdits()
{
    QFETCH(quint32, seed);
    QFETCH(uint, valueRange);
    QRandomGenerator random(seed);
    RovaIndexList list;
    PlainIndexList plain;
    for (int step = 0; step < 3000; ++step) {
        const int size = int(plain.list.size());
        const uint value = random.bounded(valueRange);
        switch (random.bounded(10)) {
        case 0:
        case 1:
            list.append(value);
            plain.append(value);
            break;
        case 2: {
            const int i = int(random.bounded(size + 1));
            list.insert(i, value);
            plain.insert(i, value);
            break;
        }
        case 3:
            if (size > 0) {
                const int i = int(random.bounded(size));
                list.replace(i, value);
                plain.replace(i, value);
            }
            break;
        case 4: {
            const int i = int(random.bounded(size + 2)) - 1;
            list.removeAt(i);
            plain.removeAt(i);
            break;
        }
        case 5:
            QCOMPARE(list.removeOne(value), plain.removeOne(value));
            break;
        case 6:
            if (size > 0) {
                const int from = int(random.bounded(size));
                const int to = int(random.bounded(size));
                if (random.bounded(2)) {
                    list.move(from, to);
                    plain.move(from, to);
                } else {
                    list.swap(from, to);
                    plain.swap(from, to);
                }
            }
            break;
        default: {
            // Look up a value that is there, or any value, from 0 or elsewhere.
            const uint wanted = size > 0 && random.bounded(2) ? plain.list.at(int(random.bounded(size))) : value;
            const int from = random.bounded(4) ? 0 : int(random.bounded(size + 4)) - 2;
            QCOMPARE(list.indexOf(wanted, from), plain.indexOf(wanted, from));
            break;
        }
        }
        QCOMPARE(list.size(), int(plain.list.size()));
    }
    QCOMPARE(contents(list), plain.list);
}

void tst_RovaIndexList::shouldFillWithIdentity()
{
    RovaIndexList list;
    list.append(42);
    list.fill(4);
    QCOMPARE(contents(list), (QList<uint>{0, 1, 2, 3}));
    QCOMPARE(list.indexOf(42, 0), -1);
    QCOMPARE(list.indexOf(3, 0), 3);
    list.fill(-1);
    QCOMPARE(list.size(), 0);
}

void tst_RovaIndexList::shouldRemoveValueRangeAndRenumber_data()
{
    QTest::addColumn<QList<uint>>("before");
    QTest::addColumn<uint>("first");
    QTest::addColumn<uint>("last");
    QTest::addColumn<QList<uint>>("after");
    QTest::newRow("middle of shuffled") << QList<uint>{4, 2, 0, 3, 1} << 2u << 3u << QList<uint>{2, 0, 1};
    QTest::newRow("first row") << QList<uint>{1, 0, 2} << 0u << 0u << QList<uint>{0, 1};
    QTest::newRow("last row") << QList<uint>{1, 2, 0} << 2u << 2u << QList<uint>{1, 0};
    QTest::newRow("everything") << QList<uint>{1, 2, 0} << 0u << 2u << QList<uint>{};
    QTest::newRow("beyond the rows") << QList<uint>{1, 0} << 5u << 9u << QList<uint>{1, 0};
    QTest::newRow("last before first") << QList<uint>{1, 0} << 1u << 0u << QList<uint>{1, 0};
}

void tst_RovaIndexList::shouldRemoveValueRangeAndRenumber()
{
    QFETCH(QList<uint>, before);
    QFETCH(uint, first);
    QFETCH(uint, last);
    QFETCH(QList<uint>, after);
    RovaIndexList list;
    for (uint value : before)
        list.append(value);
    list.removeValueRange(first, last);
    QCOMPARE(contents(list), after);
    for (int i = 0; i < after.size(); ++i)
        QCOMPARE(list.indexOf(after.at(i), 0), i);
}

void tst_RovaIndexList::shouldInsertAfterLikeOneInsertionAtATime_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("position");
    QTest::addColumn<uint>("first");
    QTest::addColumn<int>("count");
    QTest::newRow("one row after current") << 10 << 4 << 3u << 1;
    QTest::newRow("append many after last") << 10 << 9 << 10u << 30;
    QTest::newRow("no current item") << 10 << -1 << 0u << 12;
    QTest::newRow("into empty list") << 0 << -1 << 0u << 5;
    QTest::newRow("many into large list") << 500 << 100 << 250u << 400;
    QTest::newRow("current beyond end is clamped") << 6 << 40 << 6u << 3;
}

void tst_RovaIndexList::shouldInsertAfterLikeOneInsertionAtATime()
{
    QFETCH(int, size);
    QFETCH(int, position);
    QFETCH(uint, first);
    QFETCH(int, count);
    for (quint32 seed = 1; seed <= 20; ++seed) {
        QRandomGenerator random(seed);
        QList<uint> permutation;
        for (int i = 0; i < size; ++i)
            permutation.append(uint(i));
        std::shuffle(permutation.begin(), permutation.end(), random);

        RovaIndexList list;
        for (uint value : permutation)
            list.append(value);

        // One insertion at a time, as rows arriving one by one would be placed.
        const int current = qBound(-1, position, size - 1);
        QList<uint> expected = permutation;
        QList<int> offsets;
        for (int j = 0; j < count; ++j) {
            const uint row = first + uint(j);
            for (uint& value : expected) {
                if (value >= row)
                    ++value;
            }
            const int offset = int(random.bounded(int(expected.size()) - current));
            offsets.append(offset);
            expected.insert(current + 1 + offset, row);
        }
        list.insertAfter(position, first, offsets);
        QCOMPARE(contents(list), expected);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(list.indexOf(expected.at(i), 0), i);
    }
}

QTEST_GUILESS_MAIN(tst_RovaIndexList)
#include "tst_rovaindexlist.moc"
