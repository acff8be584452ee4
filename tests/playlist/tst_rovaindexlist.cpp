// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovaindexlist.h>

#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

// The documented rules in their plainest form: a hash of remembered positions
// and misses, dropped by every operation that moves entries, and the bulk
// operations done one value at a time.
struct PlainIndexList
{
    QList<uint> list;
    QHash<uint, int> cache;

    int indexOf(uint value, int from)
    {
        if (!cache.contains(value)) {
            const int start = qMax(0, from < 0 ? int(list.size()) + from : from);
            const int found = int(list.indexOf(value, start));
            cache.insert(value, found);
        }
        return cache.value(value);
    }
    void append(uint value) { list.append(value); cache.insert(value, int(list.size()) - 1); }
    void insert(int i, uint value) { list.insert(i, value); cache = {{value, i}}; }
    void replace(int i, uint value) { cache.remove(list.at(i)); list.replace(i, value); cache.insert(value, i); }
    void removeAt(int i)
    {
        if (i >= 0 && i < list.size())
            list.removeAt(i);
        cache.clear();
    }
    bool removeOne(uint value) { cache.clear(); return list.removeOne(value); }
    void move(int from, int to) { list.move(from, to); cache.clear(); }
    void swap(int i, int j) { list.swapItemsAt(i, j); cache.clear(); }
    void fill(int count)
    {
        list.clear();
        cache.clear();
        for (int i = 0; i < count; ++i)
            append(uint(i));
    }
    void removeValueRange(uint first, uint last)
    {
        if (last < first)
            return;
        list.removeIf([&](uint value) { return value >= first && value <= last; });
        for (uint& value : list)
            value -= value > last ? last - first + 1 : 0;
        cache.clear();
    }
    void insertAfter(int position, uint first, const QList<int>& offsets)
    {
        for (uint& value : list)
            value += value >= first ? uint(offsets.size()) : 0;
        position = qBound(-1, position, int(list.size()) - 1);
        for (int j = 0; j < offsets.size(); ++j)
            list.insert(position + 1 + qBound(0, offsets.at(j), int(list.size()) - position - 1), first + uint(j));
        if (!offsets.isEmpty())
            cache.clear();
    }
};

} // namespace

class tst_RovaIndexList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldAnswerLikePlainListThroughRandomEdits_data()
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

    void shouldAnswerLikePlainListThroughRandomEdits()
    {
        QFETCH(quint32, seed);
        QFETCH(uint, valueRange);
        QRandomGenerator random(seed);
        RovaIndexList list;
        PlainIndexList plain;
        // Does the same to both lists.
        const auto both = [&](auto operation) {
            operation(list);
            operation(plain);
        };
        for (int step = 0; step < 3000; ++step) {
            const int size = int(plain.list.size());
            const uint value = random.bounded(valueRange);
            // A position, mostly valid, sometimes just outside the list; and two inside it.
            const auto position = [&](int slack) { return int(random.bounded(size + 2 * slack)) - slack; };
            const int i = size > 0 ? int(random.bounded(size)) : -1;
            const int j = size > 0 ? int(random.bounded(size)) : -1;
            switch (random.bounded(12)) {
            case 0:
            case 1:
                both([&](auto& l) { l.append(value); });
                break;
            case 2:
                both([&](auto& l) { l.insert(i + 1, value); });
                break;
            case 3:
                if (i >= 0)
                    both([&](auto& l) { l.replace(i, value); });
                break;
            case 4:
                both([at = position(1)](auto& l) { l.removeAt(at); });
                break;
            case 5:
                QCOMPARE(list.removeOne(value), plain.removeOne(value));
                break;
            case 6:
                if (i >= 0 && random.bounded(2))
                    both([&](auto& l) { l.swap(i, j); });
                else if (i >= 0)
                    both([&](auto& l) { l.move(i, j); });
                break;
            case 7:
                if (random.bounded(8) == 0) {
                    both([count = int(random.bounded(60)) - 1](auto& l) { l.fill(count); });
                } else {
                    const uint last = random.bounded(6) ? value + random.bounded(4) : value / 2; // or last < first
                    both([&](auto& l) { l.removeValueRange(value, last); });
                }
                break;
            case 8: {
                // Offsets are mostly in range; out-of-range ones and positions are clamped.
                QList<int> offsets;
                const int at = position(2);
                for (int k = int(random.bounded(random.bounded(4) ? 3 : 40)); k > 0; --k)
                    offsets.append(int(random.bounded(size + 4)) - 1);
                both([&](auto& l) { l.insertAfter(at, value, offsets); });
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
            QCOMPARE(list.values(), plain.list);
        }
    }
};

QTEST_GUILESS_MAIN(tst_RovaIndexList)
#include "tst_rovaindexlist.moc"
