// SPDX-License-Identifier: LGPL-2.1-or-later
// Long seeded sequences of edits, sorts and shuffles, each step checked against
// a plain list of item identities.
#include "playlisttesting.h"


#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTest>

#include <algorithm>
#include <array>

namespace {

// Qt's own text comparison, configured as the playlist configures its proxy.
class TextComparison : public QSortFilterProxyModel
{
public:
    TextComparison()
    {
        setSortCaseSensitivity(Qt::CaseInsensitive);
        setSortLocaleAware(true);
    }
    bool less(const QModelIndex& left, const QModelIndex& right) const { return lessThan(left, right); }
};

QString reportText(int code, int index)
{
    return QStringLiteral(" u(%1,%2)").arg(code).arg(index);
}

// What the playlist must report for one step of rows at `start` (in the order
// presented at that moment), given `size` rows before the step.
QString bookkeeping(int& current, int start, int removed, int inserted, int size)
{
    const QString text = QStringLiteral(" c(%1,%2,%3)").arg(start).arg(removed).arg(inserted);
    if (inserted > 0 && current < 0 && removed == 0)
        return text + reportText(3, current);
    if (current < start)
        return current + 1 == start ? text + reportText(2, current) : text;
    if (current < start + removed) {
        const int remaining = size - removed;
        current = current < remaining ? start : remaining - 1;
        return text + reportText(0, current);
    }
    current += inserted - removed;
    return text + reportText(1, current);
}

// Runs of consecutive numbers in `numbers`, as (first, length), ascending.
QList<QPair<int, int>> runsOf(QList<int> numbers)
{
    std::sort(numbers.begin(), numbers.end());
    QList<QPair<int, int>> runs;
    for (int number : numbers) {
        if (!runs.isEmpty() && runs.last().first + runs.last().second == number)
            ++runs.last().second;
        else
            runs.append({number, 1});
    }
    return runs;
}

// One random sequence: the playlist and what it must present and report.
struct Sequence : PlaylistFixture
{
    enum Kind { Natural, Text, Numeric, Shuffled };

    explicit Sequence(quint32 seed)
        : PlaylistFixture(0)
        , random(seed)
    {
        text.setSourceModel(&source);
    }

    bool less(const QString& left, const QString& right) const
    {
        const QStringList ids = source.ids();
        const QModelIndex a = source.index(int(ids.indexOf(left)), column);
        const QModelIndex b = source.index(int(ids.indexOf(right)), column);
        if (kind == Text)
            return text.less(a, b);
        const auto number = [](const QModelIndex& index) { return index.data().isValid() ? index.data().toInt() : 0; };
        return number(a) < number(b);
    }

    bool isSorted(const QStringList& ids) const
    {
        for (int i = 1; i < ids.size(); ++i) {
            if (descending ? less(ids.at(i - 1), ids.at(i)) : less(ids.at(i), ids.at(i - 1)))
                return false;
        }
        return true;
    }

    // A reordering: the current item keeps its identity.
    void expectLayoutChange(const QStringList& order)
    {
        presented = order;
        if (current >= 0)
            current = int(presented.indexOf(currentId));
        expectedLog += QStringLiteral(" c(0,%1,%1)").arg(presented.size())
            + (current >= 0 ? reportText(1, current) : reportText(2, -1));
    }

    void insertRows()
    {
        static const char* const titles[] = {"alpha", "Beta", "gamma", "beta", "Alpha", "10", "9"};
        QList<Track> tracks;
        QStringList newIds;
        for (int i = int(random.bounded(4)); i >= 0; --i) {
            const QVariant number = random.bounded(5) == 0 ? QVariant() : QVariant(int(random.bounded(30)) - 5);
            newIds.append(QStringLiteral("i%1").arg(nextId++));
            tracks.append({newIds.last(), QString::fromLatin1(titles[random.bounded(7)]), number});
        }
        const QStringList before = presented;
        source.insertTracks(int(random.bounded(source.rowCount() + 1)), tracks);
        presented = kind == Natural ? source.ids() : ids();
        if (kind != Natural) {
            // Placed by the order in force; the old items keep their order.
            QStringList old = presented;
            old.removeIf([&](const QString& id) { return newIds.contains(id); });
            QCOMPARE(old, before);
            for (const QString& id : newIds)
                QVERIFY(kind != Shuffled || presented.indexOf(id) > current);
            QVERIFY(kind == Shuffled || isSorted(presented));
        }
        // Qt's proxy reports each run of new rows at one place, the last run first.
        QList<int> positions;
        for (const QString& id : newIds)
            positions.append(int(presented.indexOf(id)));
        const QList<QPair<int, int>> runs = runsOf(positions);
        int size = int(before.size());
        for (int r = int(runs.size()) - 1; r >= 0; --r) {
            int newBefore = 0;
            for (int k = 0; k < r; ++k)
                newBefore += runs.at(k).second;
            expectedLog += bookkeeping(current, runs.at(r).first - newBefore, 0, runs.at(r).second, size);
            size += runs.at(r).second;
        }
    }

    void removeRows()
    {
        const int size = int(presented.size());
        if (size == 0)
            return;
        const int first = int(random.bounded(size));
        const int last = std::min(size - 1, first + int(random.bounded(random.bounded(4) ? 4 : 12)));
        QStringList remainingSource = source.ids();

        // Qt's proxy removes one underlying range for a single row or in natural
        // order, otherwise each run of underlying rows, the last first.
        QList<QPair<int, int>> sourceRuns;
        if (first == last || kind == Natural) {
            sourceRuns.append({int(remainingSource.indexOf(presented.at(first))), last - first + 1});
        } else {
            QList<int> rows;
            for (int i = first; i <= last; ++i)
                rows.append(int(remainingSource.indexOf(presented.at(i))));
            sourceRuns = runsOf(rows);
            std::reverse(sourceRuns.begin(), sourceRuns.end());
        }
        for (const auto& sourceRun : sourceRuns) {
            // Each underlying range leaves as runs of presented rows, the last first.
            QList<int> positions;
            for (const QString& id : remainingSource.mid(sourceRun.first, sourceRun.second))
                positions.append(int(presented.indexOf(id)));
            remainingSource.remove(sourceRun.first, sourceRun.second);
            const QList<QPair<int, int>> runs = runsOf(positions);
            for (int r = int(runs.size()) - 1; r >= 0; --r) {
                expectedLog += bookkeeping(current, runs.at(r).first, runs.at(r).second, 0, int(presented.size()));
                presented.remove(runs.at(r).first, runs.at(r).second);
            }
        }
        currentId = current >= 0 ? presented.at(current) : QString();
        QVERIFY(first == last ? playlist.removeItem(first) : playlist.removeItems(first, last));
        QCOMPARE(source.ids(), remainingSource);
    }

    void sortRows()
    {
        const auto order = RovaPlaylist::RovaSortOrder(std::array{0, 1, 4, 5}[random.bounded(4)]);
        const int newColumn = int(random.bounded(3));
        const Kind newKind = order == RovaPlaylist::SortAscending || order == RovaPlaylist::SortDescending ? Text : Numeric;
        const bool newDescending = order == RovaPlaylist::SortDescending || order == RovaPlaylist::SortNumericDescending;
        const bool unchanged = newKind == kind && newDescending == descending && newColumn == column;
        kind = newKind;
        descending = newDescending;
        column = newColumn;
        playlist.sort(column, order);
        const QStringList after = ids();
        QVERIFY(isSorted(after));
        if (unchanged)
            QCOMPARE(after, presented);
        else
            expectLayoutChange(after);
    }

    void naturalOrder(bool throughUnShuffle)
    {
        const bool changes = throughUnShuffle ? kind == Shuffled : kind != Natural;
        if (throughUnShuffle)
            playlist.unShuffle();
        else
            playlist.sort(0, RovaPlaylist::SortNone);
        if (changes) {
            kind = Natural;
            column = -1;
            expectLayoutChange(source.ids());
        }
    }

    void shuffleRows()
    {
        if (presented.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
        playlist.shuffle();
        const QStringList after = ids();
        if (kind == Shuffled || presented.isEmpty()) {
            QCOMPARE(after, presented);
            return;
        }
        // The current item leads; without one, the first item becomes current. A dozen
        // items or more keep their order by chance once in 39916800 shuffles.
        QVERIFY(current < 0 || after.first() == currentId);
        QVERIFY(after.size() < 12 || after != presented);
        kind = Shuffled;
        column = -1;
        current = 0;
        currentId = after.first();
        expectLayoutChange(after);
    }

    void chooseItem()
    {
        const int size = int(presented.size());
        int index = int(random.bounded(size + 2)) - 1;
        if (random.bounded(2)) {
            playlist.setRepeat(RovaPlaylist::RovaRepeatMode(random.bounded(3)));
            index = playlist.getNext(current);
        }
        std::unique_ptr<RovaContent> item(playlist.getItem(index));
        QCOMPARE(bool(item), index >= 0 && index < size);
        if (item) {
            current = index;
            currentId = presented.at(index);
        }
    }

    void checkState()
    {
        const QStringList now = ids();
        QCOMPARE(now, presented);
        QCOMPARE(sorted(now), sorted(source.ids()));
        QCOMPARE(playlist.size(), int(presented.size()));
        QCOMPARE(playlist.getCurrentIndex(), current);
        if (current >= 0)
            QCOMPARE(now.at(current), currentId);
        QCOMPARE(log.take(), expectedLog.trimmed());
        expectedLog.clear();
    }

    QRandomGenerator random;
    TextComparison text;

    QStringList presented; // expected presented order
    int current = -1;
    QString currentId;
    Kind kind = Natural;
    bool descending = false;
    int column = -1;
    int nextId = 0;
    QString expectedLog;
};

} // namespace

class tst_RovaPlaylistConsistency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The playlist's debug traces would drown the report of a failing step.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldKeepIdentitiesThroughRandomSequences_data();
    void shouldKeepIdentitiesThroughRandomSequences();
};

void tst_RovaPlaylistConsistency::shouldKeepIdentitiesThroughRandomSequences_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 12; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void tst_RovaPlaylistConsistency::shouldKeepIdentitiesThroughRandomSequences()
{
    QFETCH(quint32, seed);
    Sequence s(seed);
    for (int step = 0; step < 400; ++step) {
        const int choice = int(s.random.bounded(100));
        if (choice < 30 && s.presented.size() < 60)
            s.insertRows();
        else if (choice < 55)
            s.removeRows();
        else if (choice < 65)
            s.sortRows();
        else if (choice < 70)
            s.naturalOrder(false);
        else if (choice < 78)
            s.shuffleRows();
        else if (choice < 83)
            s.naturalOrder(true);
        else
            s.chooseItem();
        if (!QTest::currentTestFailed())
            s.checkState();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("step %1").arg(step)));
    }
}

QTEST_GUILESS_MAIN(tst_RovaPlaylistConsistency)
#include "tst_rovaplaylistconsistency.moc"
