// SPDX-License-Identifier: LGPL-2.1-or-later
// Long seeded sequences of edits, sorts and shuffles, each step checked against
// a plain list of item identities.
#include "playlistlog.h"
#include "tracktablemodel.h"

#include <rovacontent.h>
#include <rovaplaylistbase.h>

#include <QAbstractItemModelTester>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

class IdPlaylist : public RovaPlaylistBase
{
public:
    IdPlaylist()
        : RovaPlaylistBase(QStringLiteral("rova0"), QStringLiteral("random"))
    {
    }

    RovaMediaInfo getItemMediaInfo(int index) override
    {
        return RovaMediaInfo(model()->index(index, 0).data().toString());
    }
};

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
    QString text = QStringLiteral("c(%1,%2,%3)").arg(start).arg(removed).arg(inserted);
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

private:
    enum Kind { Natural, Text, Numeric, Shuffled };

    bool less(const QString& left, const QString& right) const;
    bool isSorted(const QStringList& ids) const;
    void insertRows();
    void removeRows();
    void sortRows();
    void naturalOrder(bool throughUnShuffle);
    void shuffleRows();
    void chooseItem();
    void checkState();
    QString layoutReport() const;

    QRandomGenerator m_random;
    std::unique_ptr<TrackTableModel> m_source;
    std::unique_ptr<IdPlaylist> m_playlist;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    std::unique_ptr<PlaylistLog> m_log;
    TextComparison m_text;

    QStringList m_presented; // expected presented order
    int m_current = -1;
    QString m_currentId;
    Kind m_kind = Natural;
    bool m_descending = false;
    int m_column = -1;
    int m_nextId = 0;
    QString m_expectedLog;
};

bool tst_RovaPlaylistConsistency::less(const QString& left, const QString& right) const
{
    const QStringList ids = m_source->ids();
    const QModelIndex a = m_source->index(int(ids.indexOf(left)), m_column);
    const QModelIndex b = m_source->index(int(ids.indexOf(right)), m_column);
    if (m_kind == Numeric) {
        const auto number = [](const QModelIndex& index) {
            const QVariant value = index.data();
            return value.isValid() ? value.toInt() : 0;
        };
        return number(a) < number(b);
    }
    return m_text.less(a, b);
}

bool tst_RovaPlaylistConsistency::isSorted(const QStringList& ids) const
{
    for (int i = 1; i < ids.size(); ++i) {
        const bool wrong = m_descending ? less(ids.at(i - 1), ids.at(i)) : less(ids.at(i), ids.at(i - 1));
        if (wrong)
            return false;
    }
    return true;
}

QString tst_RovaPlaylistConsistency::layoutReport() const
{
    const int size = int(m_presented.size());
    const QString text = QStringLiteral("c(0,%1,%1)").arg(size);
    return m_current >= 0 ? text + reportText(1, m_current) : text + reportText(2, -1);
}

void tst_RovaPlaylistConsistency::insertRows()
{
    static const char* const titles[] = {"alpha", "Beta", "gamma", "beta", "Alpha", "10", "9"};
    const int count = 1 + int(m_random.bounded(4));
    const int at = int(m_random.bounded(m_source->rowCount() + 1));
    QList<Track> tracks;
    for (int i = 0; i < count; ++i) {
        const QVariant number = m_random.bounded(5) == 0 ? QVariant() : QVariant(int(m_random.bounded(30)) - 5);
        tracks.append({QStringLiteral("i%1").arg(m_nextId++), QString::fromLatin1(titles[m_random.bounded(7)]), number});
    }
    const QStringList before = m_presented;
    m_source->insertTracks(at, tracks);
    const QStringList after = presentedIds(m_playlist->model());

    QStringList newIds;
    for (const Track& track : tracks)
        newIds.append(track.id);
    if (m_kind == Natural) {
        m_presented = m_source->ids();
    } else {
        // Placed by the order in force; the old items keep their order.
        QStringList old = after;
        old.removeIf([&](const QString& id) { return newIds.contains(id); });
        QCOMPARE(old, before);
        if (m_kind == Shuffled) {
            for (const QString& id : newIds)
                QVERIFY(after.indexOf(id) > m_current);
        } else {
            QVERIFY(isSorted(after));
        }
        m_presented = after;
    }

    // Qt's proxy reports each run of new rows at one place, the last run first.
    QList<QPair<int, int>> runs;
    for (int i = 0; i < m_presented.size(); ++i) {
        if (!newIds.contains(m_presented.at(i)))
            continue;
        if (!runs.isEmpty() && runs.last().first + runs.last().second == i)
            ++runs.last().second;
        else
            runs.append({i, 1});
    }
    int size = int(before.size());
    for (int r = int(runs.size()) - 1; r >= 0; --r) {
        int newBefore = 0;
        for (int k = 0; k < r; ++k)
            newBefore += runs.at(k).second;
        m_expectedLog += QLatin1Char(' ')
            + bookkeeping(m_current, runs.at(r).first - newBefore, 0, runs.at(r).second, size);
        size += runs.at(r).second;
    }
}

void tst_RovaPlaylistConsistency::removeRows()
{
    const int size = int(m_presented.size());
    if (size == 0)
        return;
    const int first = int(m_random.bounded(size));
    const int last = std::min(size - 1, first + int(m_random.bounded(m_random.bounded(4) ? 4 : 12)));
    const QStringList sourceIds = m_source->ids();

    // Qt's proxy removes one underlying range for a single row or in natural
    // order, otherwise each run of underlying rows, the last first.
    QList<QPair<int, int>> sourceRuns;
    if (first == last || m_kind == Natural) {
        sourceRuns.append({int(sourceIds.indexOf(m_presented.at(first))), last - first + 1});
    } else {
        QList<int> rows;
        for (int i = first; i <= last; ++i)
            rows.append(int(sourceIds.indexOf(m_presented.at(i))));
        std::sort(rows.begin(), rows.end());
        for (int row : rows) {
            if (!sourceRuns.isEmpty() && sourceRuns.last().first + sourceRuns.last().second == row)
                ++sourceRuns.last().second;
            else
                sourceRuns.append({row, 1});
        }
        std::reverse(sourceRuns.begin(), sourceRuns.end());
    }

    QStringList remainingSource = sourceIds;
    for (const auto& sourceRun : sourceRuns) {
        const QStringList gone = remainingSource.mid(sourceRun.first, sourceRun.second);
        remainingSource.remove(sourceRun.first, sourceRun.second);
        // Each underlying range leaves as runs of presented rows, the last first.
        QList<int> positions;
        for (const QString& id : gone)
            positions.append(int(m_presented.indexOf(id)));
        std::sort(positions.begin(), positions.end());
        QList<QPair<int, int>> runs;
        for (int position : positions) {
            if (!runs.isEmpty() && runs.last().first + runs.last().second == position)
                ++runs.last().second;
            else
                runs.append({position, 1});
        }
        for (int r = int(runs.size()) - 1; r >= 0; --r) {
            m_expectedLog += QLatin1Char(' ')
                + bookkeeping(m_current, runs.at(r).first, runs.at(r).second, 0, int(m_presented.size()));
            m_presented.remove(runs.at(r).first, runs.at(r).second);
        }
    }
    if (m_current >= 0)
        m_currentId = m_presented.at(m_current);
    else
        m_currentId.clear();

    const bool removed = first == last ? m_playlist->removeItem(first) : m_playlist->removeItems(first, last);
    QVERIFY(removed);
    QCOMPARE(m_source->ids(), remainingSource);
}

void tst_RovaPlaylistConsistency::sortRows()
{
    static const RovaPlaylist::RovaSortOrder orders[] = {RovaPlaylist::SortAscending, RovaPlaylist::SortDescending,
                                                         RovaPlaylist::SortNumericAscending,
                                                         RovaPlaylist::SortNumericDescending};
    const int column = int(m_random.bounded(3));
    const RovaPlaylist::RovaSortOrder order = orders[m_random.bounded(4)];
    const Kind kind = order == RovaPlaylist::SortAscending || order == RovaPlaylist::SortDescending ? Text : Numeric;
    const bool descending = order == RovaPlaylist::SortDescending || order == RovaPlaylist::SortNumericDescending;
    const bool unchanged = kind == m_kind && descending == m_descending && column == m_column;
    m_kind = kind;
    m_descending = descending;
    m_column = column;
    m_playlist->sort(column, order);

    const QStringList after = presentedIds(m_playlist->model());
    QVERIFY(isSorted(after));
    if (unchanged) {
        QCOMPARE(after, m_presented);
        return;
    }
    m_presented = after;
    if (m_current >= 0)
        m_current = int(m_presented.indexOf(m_currentId));
    m_expectedLog += QLatin1Char(' ') + layoutReport();
}

void tst_RovaPlaylistConsistency::naturalOrder(bool throughUnShuffle)
{
    const bool changes = throughUnShuffle ? m_kind == Shuffled : m_kind != Natural;
    if (throughUnShuffle)
        m_playlist->unShuffle();
    else
        m_playlist->sort(0, RovaPlaylist::SortNone);
    if (!changes)
        return;
    m_kind = Natural;
    m_column = -1;
    m_presented = m_source->ids();
    if (m_current >= 0)
        m_current = int(m_presented.indexOf(m_currentId));
    m_expectedLog += QLatin1Char(' ') + layoutReport();
}

void tst_RovaPlaylistConsistency::shuffleRows()
{
    if (m_presented.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
        m_playlist->shuffle();
        return;
    }
    m_playlist->shuffle();
    const QStringList after = presentedIds(m_playlist->model());
    if (m_kind == Shuffled) {
        QCOMPARE(after, m_presented);
        return;
    }
    m_kind = Shuffled;
    m_column = -1;
    m_presented = after;
    if (m_current >= 0)
        QCOMPARE(after.first(), m_currentId);
    m_current = 0;
    m_currentId = after.first();
    m_expectedLog += QLatin1Char(' ') + layoutReport();
}

void tst_RovaPlaylistConsistency::chooseItem()
{
    const int size = int(m_presented.size());
    int index;
    if (m_random.bounded(2)) {
        index = int(m_random.bounded(size + 2)) - 1;
    } else {
        m_playlist->setRepeat(RovaPlaylist::RovaRepeatMode(m_random.bounded(3)));
        index = m_playlist->getNext(m_current);
    }
    std::unique_ptr<RovaContent> item(m_playlist->getItem(index));
    if (index >= 0 && index < size) {
        QVERIFY(item);
        m_current = index;
        m_currentId = m_presented.at(index);
    } else {
        QVERIFY(!item);
    }
}

void tst_RovaPlaylistConsistency::checkState()
{
    const QStringList presented = presentedIds(m_playlist->model());
    QCOMPARE(presented, m_presented);
    QStringList sortedPresented = presented;
    QStringList sortedSource = m_source->ids();
    std::sort(sortedPresented.begin(), sortedPresented.end());
    std::sort(sortedSource.begin(), sortedSource.end());
    QCOMPARE(sortedPresented, sortedSource);
    QCOMPARE(m_playlist->size(), int(m_presented.size()));
    QCOMPARE(m_playlist->getCurrentIndex(), m_current);
    if (m_current >= 0)
        QCOMPARE(presented.at(m_current), m_currentId);
    QCOMPARE(m_log->take(), m_expectedLog.trimmed());
    m_expectedLog.clear();
}

void tst_RovaPlaylistConsistency::shouldKeepIdentitiesThroughRandomSequences_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 12; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void tst_RovaPlaylistConsistency::shouldKeepIdentitiesThroughRandomSequences()
{
    QFETCH(quint32, seed);
    m_random.seed(seed);
    m_source = std::make_unique<TrackTableModel>();
    m_text.setSourceModel(m_source.get());
    m_playlist = std::make_unique<IdPlaylist>();
    m_tester = std::make_unique<QAbstractItemModelTester>(m_playlist->model(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_log = std::make_unique<PlaylistLog>(m_playlist.get());
    m_playlist->setUnderlyingModel(m_source.get());
    m_presented.clear();
    m_current = -1;
    m_currentId.clear();
    m_kind = Natural;
    m_descending = false;
    m_column = -1;
    m_nextId = 0;
    m_log->take();
    m_expectedLog.clear();

    for (int step = 0; step < 400; ++step) {
        const int size = int(m_presented.size());
        const int choice = int(m_random.bounded(100));
        if (choice < 30 && size < 60)
            insertRows();
        else if (choice < 55)
            removeRows();
        else if (choice < 65)
            sortRows();
        else if (choice < 70)
            naturalOrder(false);
        else if (choice < 78)
            shuffleRows();
        else if (choice < 83)
            naturalOrder(true);
        else
            chooseItem();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("step %1").arg(step)));
        checkState();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("step %1").arg(step)));
    }
    m_log.reset();
    m_tester.reset();
    m_playlist.reset();
    m_text.setSourceModel(nullptr);
    m_source.reset();
}

QTEST_GUILESS_MAIN(tst_RovaPlaylistConsistency)
#include "tst_rovaplaylistconsistency.moc"
