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

// The documented rules in their plainest form: a hash of remembered positions
// and misses, dropped by every operation that moves entries, and the bulk
// operations done one value at a time.
struct PlainIndexList
{
    QList<uint> list;
    QHash<uint, int> cache;

    int indexOf(uint value, int from)
    {
        const auto it = cache.constFind(value);
        if (it != cache.constEnd())
            return it.value();
        int found = -1;
        for (int i = qMax(0, from < 0 ? int(list.size()) + from : from); i < list.size() && found < 0; ++i)
            found = list.at(i) == value ? i : -1;
        cache.insert(value, found);
        return found;
    }
    void append(uint value) { list.append(value); cache.insert(value, int(list.size()) - 1); }
    void insert(int i, uint value) { list.insert(i, value); cache.clear(); cache.insert(value, i); }
    void replace(int i, uint value) { cache.remove(list.at(i)); list.replace(i, value); cache.insert(value, i); }
    void removeAt(int i)
    {
        if (i >= 0 && i < list.size())
            list.removeAt(i);
        cache.clear();
    }
    bool removeOne(uint value) { cache.clear(); return list.removeOne(value); }
    void fill(int count)
    {
        list.clear();
        cache.clear();
        for (int i = 0; i < count; ++i) {
            list.append(uint(i));
            cache.insert(uint(i), i);
        }
    }
    void removeValueRange(uint first, uint last)
    {
        if (last < first)
            return;
        QList<uint> kept;
        for (uint value : list) {
            if (value < first || value > last)
                kept.append(value > last ? value - (last - first + 1) : value);
        }
        list = kept;
        cache.clear();
    }
    void insertAfter(int position, uint first, const QList<int>& offsets)
    {
        if (offsets.isEmpty())
            return;
        for (uint& value : list) {
            if (value >= first)
                value += uint(offsets.size());
        }
        position = qBound(-1, position, int(list.size()) - 1);
        for (int j = 0; j < offsets.size(); ++j)
            list.insert(position + 1 + qBound(0, offsets.at(j), int(list.size()) - position - 1), first + uint(j));
        cache.clear();
    }
};

} // namespace

class tst_RovaIndexList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldAnswerLikePlainListThroughRandomEdits_data();
    void shouldAnswerLikePlainListThroughRandomEdits();
};

void tst_RovaIndexList::shouldAnswerLikePlainListThroughRandomEdits_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<uint>("valueRange");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u}) {
        // Few values give duplicates and repeated misses; huge ones the sparse cache.
        QTest::addRow("few values, seed %u", seed) << seed << 6u;
        QTest::addRow("many values, seed %u", seed) << seed << 200u;
        QTest::addRow("huge values, seed %u", seed) << seed << 4000000000u;
    }
}

void tst_RovaIndexList::shouldAnswerLikePlainListThroughRandomEdits()
{
    QFETCH(quint32, seed);
    QFETCH(uint, valueRange);
    QRandomGenerator random(seed);
    RovaIndexList list;
    PlainIndexList plain;
    for (int step = 0; step < 3000; ++step) {
        const int size = int(plain.list.size());
        const uint value = random.bounded(valueRange);
        // A position, mostly valid, sometimes just outside the list; and one inside it.
        const auto position = [&](int slack) { return int(random.bounded(size + 2 * slack)) - slack; };
        const int i = size > 0 ? int(random.bounded(size)) : -1;
        switch (random.bounded(12)) {
        case 0:
        case 1:
            list.append(value);
            plain.append(value);
            break;
        case 2:
            list.insert(i + 1, value);
            plain.insert(i + 1, value);
            break;
        case 3:
            if (i >= 0) {
                list.replace(i, value);
                plain.replace(i, value);
            }
            break;
        case 4: {
            const int at = position(1);
            list.removeAt(at);
            plain.removeAt(at);
            break;
        }
        case 5:
            QCOMPARE(list.removeOne(value), plain.removeOne(value));
            break;
        case 6:
            if (i >= 0) {
                const int j = int(random.bounded(size));
                const bool swap = random.bounded(2);
                swap ? list.swap(i, j) : list.move(i, j);
                swap ? plain.list.swapItemsAt(i, j) : plain.list.move(i, j);
                plain.cache.clear();
            }
            break;
        case 7:
            if (random.bounded(8) == 0) {
                const int count = int(random.bounded(60)) - 1;
                list.fill(count);
                plain.fill(count);
            } else {
                const uint last = random.bounded(6) ? value + random.bounded(4) : value / 2; // or last < first
                list.removeValueRange(value, last);
                plain.removeValueRange(value, last);
            }
            break;
        case 8: {
            // Offsets are mostly in range; out-of-range ones and positions are clamped.
            QList<int> offsets;
            const int at = position(2);
            for (int j = int(random.bounded(random.bounded(4) ? 3 : 40)); j > 0; --j)
                offsets.append(int(random.bounded(size + 4)) - 1);
            list.insertAfter(at, value, offsets);
            plain.insertAfter(at, value, offsets);
            break;
        }
        default: {
            // Look up a value that is there, or any value, from 0 or elsewhere.
            const uint wanted = i >= 0 && random.bounded(2) ? plain.list.at(i) : value;
            const int from = random.bounded(4) ? 0 : position(3);
            QCOMPARE(list.indexOf(wanted, from), plain.indexOf(wanted, from));
            break;
        }
        }
        QCOMPARE(contents(list), plain.list);
    }
    QCOMPARE(list.values(), plain.list);
}

QTEST_GUILESS_MAIN(tst_RovaIndexList)
#include "tst_rovaindexlist.moc"
