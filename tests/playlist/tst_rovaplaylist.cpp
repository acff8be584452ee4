// SPDX-License-Identifier: LGPL-2.1-or-later
// The playlist over an item model, its index list, playlist ids and the general source playlist.
// Long seeded sequences of edits, sorts and shuffles check every step against plain lists.
#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovaindexlist.h>
#include <rovaproxysortmodel.h>

#include <QAbstractItemModelTester>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <climits>
#include <memory>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QStringList strings(const char* text) { return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts); }

// One row: "Id" (unique), "Title" and "Number" (an integer, or nothing at all), all as text.
using Track = QVariantList;

class TrackModel : public QStandardItemModel
{
public:
    TrackModel() { setHorizontalHeaderLabels(strings("Id Title Number")); }

    static QList<Track> numbered(int count, int firstId = 0)
    {
        QList<Track> tracks;
        for (int id = firstId; id < firstId + count; ++id)
            tracks.append({QString::number(id), u"t%1"_s.arg(id), id});
        return tracks;
    }

    void insertTracks(int row, const QList<Track>& tracks)
    {
        for (const Track& track : tracks) {
            QList<QStandardItem*> items;
            for (const QVariant& value : track)
                items.append(value.isValid() ? new QStandardItem(value.toString()) : new QStandardItem);
            insertRow(row++, items);
        }
    }

    void setTracks(const QList<Track>& tracks)
    {
        beginResetModel();
        blockSignals(true); // the reset tells all
        removeRows(0, rowCount());
        insertTracks(0, tracks);
        blockSignals(false);
        endResetModel();
    }
};

void expectNoItem(int index)
{
    QTest::ignoreMessage(QtWarningMsg, QByteArray("virtual RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int) "
                                                  + QByteArray::number(index) + " invalid index").constData());
}

// A playlist's contentsChanged and playlistUpdated in order, as "c(from,removed,inserted) u(update,index) ...".
struct PlaylistLog
{
    explicit PlaylistLog(RovaPlaylist* playlist)
    {
        QObject::connect(playlist, &RovaPlaylist::contentsChanged, &m_context, [this](uint from, uint removed, uint inserted) {
            m_entries.append(u"c(%1,%2,%3)"_s.arg(from).arg(removed).arg(inserted));
        });
        QObject::connect(playlist, &RovaPlaylist::playlistUpdated, &m_context, [this](RovaPlaylist::RovaPlaylistUpdate update, int index) {
            m_entries.append(u"u(%1,%2)"_s.arg(int(update)).arg(index));
        });
    }
    QString take() { return std::exchange(m_entries, {}).join(u' '); }

    QObject m_context; // ends the connections with the log
    QStringList m_entries;
};

QStringList idsOf(const QAbstractItemModel* model)
{
    QStringList ids;
    for (int row = 0; row < model->rowCount(); ++row)
        ids.append(model->index(row, 0).data().toString());
    return ids;
}

// Ten (or `count`) numbered tracks, set by a reset, shown through a general source playlist with a model
// tester and a log. Its source "%2" (item "%2::<id>" for the row with id <id>) must stay text in item ids.
struct PlaylistFixture
{
    explicit PlaylistFixture(int count = 10)
    {
        playlist.setUnderlyingModel(&source);
        source.setTracks(TrackModel::numbered(count));
        log.take();
    }
    QStringList ids() { return idsOf(playlist.model()); }
    QString currentId() { return playlist.model()->index(playlist.getCurrentIndex(), 0).data().toString(); }
    void choose(int index) { delete playlist.getItem(index); }

    std::unique_ptr<TrackModel> owner = std::make_unique<TrackModel>(); // for a case that deletes it
    TrackModel& source = *owner;
    RovaGeneralSourcePlaylist playlist{u"rova0"_s, u"test"_s, u"%2"_s};
    QAbstractItemModelTester tester{playlist.model(), QAbstractItemModelTester::FailureReportingMode::QtTest};
    PlaylistLog log{&playlist};
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

// What the playlist must report for a change of rows at `start` that leaves `size` rows; moves `current` along.
QString bookkeeping(int& current, int start, int removed, int inserted, int size)
{
    const QString text = u" c(%1,%2,%3)"_s.arg(start).arg(removed).arg(inserted);
    const auto report = [&](int code) -> QString { return text + u" u(%1,%2)"_s.arg(code).arg(current); };
    if (inserted > 0 && current < 0 && removed == 0)
        return report(RovaPlaylist::NewContent);
    if (current < start)
        return current + 1 == start ? report(RovaPlaylist::NextChanged) : text;
    if (current < start + removed) {
        current = current < size ? start : size - 1;
        return report(RovaPlaylist::CurrentRemoved);
    }
    current += inserted - removed;
    return report(RovaPlaylist::CurrentMoved);
}

// One random sequence: the playlist, what it must present, and what it must report for each change of its proxy.
struct Sequence : PlaylistFixture
{
    explicit Sequence(quint32 seed)
        : PlaylistFixture(0)
        , random(seed)
    {
        text.setSourceModel(&source);
        const QAbstractItemModel* proxy = playlist.model();
        QObject::connect(proxy, &QAbstractItemModel::rowsInserted, &context, [this](const QModelIndex&, int first, int last) {
            expected += bookkeeping(current, first, 0, last - first + 1, playlist.size());
        });
        QObject::connect(proxy, &QAbstractItemModel::rowsRemoved, &context, [this](const QModelIndex&, int first, int last) {
            if (current >= first && current <= last)
                currentId.clear(); // a neighbour becomes current
            expected += bookkeeping(current, first, last - first + 1, 0, playlist.size());
        });
        // A reordering: the current item keeps its identity.
        QObject::connect(proxy, &QAbstractItemModel::layoutChanged, &context, [this] {
            current = currentId.isEmpty() ? current : int(ids().indexOf(currentId));
            expected += u" c(0,%1,%1) u(%2,%3)"_s.arg(playlist.size()).arg(current >= 0 ? 1 : 2).arg(current);
        });
    }

    // Whether the items stand in the sort order in force: Qt's text comparison, or integers.
    bool isSorted(const QStringList& ids) const
    {
        const QStringList sourceIds = idsOf(&source);
        const auto precedes = [&](const QString& left, const QString& right) {
            QModelIndex a = source.index(int(sourceIds.indexOf(left)), column);
            QModelIndex b = source.index(int(sourceIds.indexOf(right)), column);
            if (order == RovaPlaylist::SortDescending || order == RovaPlaylist::SortNumericDescending)
                std::swap(a, b);
            if (order == RovaPlaylist::SortAscending || order == RovaPlaylist::SortDescending)
                return text.less(a, b);
            return a.data().toInt() < b.data().toInt(); // no number counts as 0
        };
        return std::is_sorted(ids.begin(), ids.end(), precedes);
    }

    void insertRows()
    {
        const QStringList titles = strings("alpha Beta gamma beta Alpha 10 9");
        const QStringList before = presented;
        const int firstNew = nextId;
        for (int i = int(random.bounded(4)); i >= 0; --i) {
            const QVariant number = random.bounded(5) == 0 ? QVariant() : QVariant(int(random.bounded(30)) - 5);
            const Track track{u"i%1"_s.arg(nextId++), titles.at(random.bounded(7)), number};
            source.insertTracks(int(random.bounded(source.rowCount() + 1)), {track});
        }
        presented = order == RovaPlaylist::SortNone ? idsOf(&source) : ids();
        // Placed by the order in force, after the current item when shuffled; the old items keep their order.
        QStringList old = presented;
        old.removeIf([&](const QString& id) { return id.mid(1).toInt() >= firstNew; });
        QCOMPARE(old, before);
        QVERIFY(order != RovaPlaylist::SortShuffled || presented.mid(0, current + 1) == before.mid(0, current + 1));
        QVERIFY(order == RovaPlaylist::SortNone || order == RovaPlaylist::SortShuffled || isSorted(presented));
    }

    void removeRows()
    {
        const int size = int(presented.size());
        if (size == 0 || random.bounded(20) == 0) {
            playlist.clear(); // all rows at once; nothing when there are none
            presented.clear();
            return;
        }
        const int first = int(random.bounded(size));
        const int last = std::min(size - 1, first + int(random.bounded(random.bounded(4) ? 4 : 12)));
        const QStringList gone = presented.mid(first, last - first + 1);
        QVERIFY(first == last ? playlist.removeItem(first) : playlist.removeItems(first, last));
        presented.removeIf([&](const QString& id) { return gone.contains(id); });
    }

    // An order through sort() (choices 0 to 5), shuffle() (6) or unShuffle() (7).
    void reorder()
    {
        const int choice = int(random.bounded(8));
        const int newColumn = int(random.bounded(3));
        const bool toShuffle = choice == RovaPlaylist::SortShuffled || choice == 6;
        const bool shuffles = toShuffle && order != RovaPlaylist::SortShuffled && !presented.isEmpty();
        if (toShuffle && presented.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
        if (shuffles)
            current = std::max(current, 0); // whichever item comes first becomes current
        if (choice == 6)
            playlist.shuffle();
        else if (choice == 7)
            playlist.unShuffle();
        else
            playlist.sort(newColumn, RovaPlaylist::RovaSortOrder(choice));
        // Anything else, such as unShuffle() unless shuffled, changes nothing.
        if (shuffles) {
            // The current item leads. A dozen items or more keep their order by chance once in 39916800 shuffles.
            const QStringList before = std::exchange(presented, ids());
            QCOMPARE(current, 0);
            QVERIFY(presented.size() < 12 || presented != before);
            order = RovaPlaylist::SortShuffled;
        } else if (choice == RovaPlaylist::SortNone || (choice == 7 && order == RovaPlaylist::SortShuffled)) {
            presented = idsOf(&source);
            order = RovaPlaylist::SortNone;
        } else if (!toShuffle && choice != 7) {
            presented = ids();
            order = RovaPlaylist::RovaSortOrder(choice);
            column = newColumn;
            QVERIFY(isSorted(presented));
        }
    }

    void chooseItem()
    {
        const int index = int(random.bounded(int(presented.size()) + 2)) - 1;
        const bool valid = index >= 0 && index < presented.size();
        if (!valid)
            expectNoItem(index);
        std::unique_ptr<RovaContent> item(playlist.getItem(index));
        QCOMPARE(item ? item->uuid() : QString(), valid ? u"%2::"_s + presented.at(index) : QString());
        if (item) {
            current = index;
            currentId = presented.at(index);
        }
    }

    void checkState()
    {
        const QStringList now = ids();
        QCOMPARE(now, presented);
        QCOMPARE(playlist.getCurrentIndex(), current);
        QCOMPARE(playlist.getSortOrder(), order);
        QVERIFY(current < now.size());
        if (current < 0 || currentId.isEmpty())
            currentId = current < 0 ? QString() : now.at(current);
        QVERIFY(current < 0 || now.at(current) == currentId);
        QCOMPARE(log.take(), std::exchange(expected, {}).trimmed());
    }

    QRandomGenerator random;
    TextComparison text;
    QStringList presented; // expected presented order
    RovaPlaylist::RovaSortOrder order = RovaPlaylist::SortNone;
    int column = 0;
    int current = -1;
    QString currentId; // empty: whichever item the current index shows
    int nextId = 0;
    QString expected;
    QObject context; // goes first, and the connections with it
};

// The documented rules in their plainest form: remembered positions and misses, dropped by every
// operation that moves entries, and the bulk operations done one value at a time.
struct PlainIndexList
{
    QList<uint> list;
    QHash<uint, int> cache;

    int indexOf(uint value, int from)
    {
        if (!cache.contains(value))
            cache.insert(value, int(list.indexOf(value, from))); // a negative start counts from the end
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
    void clear() { list.clear(); cache.clear(); }
    void fill(int count)
    {
        clear();
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

class tst_RovaPlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The playlist's debug traces would drown the report of a failing step.
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.debug=false"_s); }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldKeepIdentitiesThroughRandomSequences_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 12; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }

    void shouldKeepIdentitiesThroughRandomSequences()
    {
        QFETCH(quint32, seed);
        Sequence s(seed);
        for (int step = 0; step < 400; ++step) {
            const int choice = int(s.random.bounded(100));
            if (choice < 30 && s.presented.size() < 60)
                s.insertRows();
            else if (choice < 55)
                s.removeRows();
            else if (choice < 83)
                s.reorder();
            else
                s.chooseItem();
            s.checkState();
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(u"step %1"_s.arg(step)));
        }
        // Then the model goes, in one of four ways: the playlist reports the rows it had as gone.
        TrackModel other;
        other.setTracks(TrackModel::numbered(4));
        const int loss = int(seed % 4);
        if (loss < 2)
            s.playlist.setUnderlyingModel(loss == 0 ? &other : nullptr);
        else if (loss == 2)
            s.owner.reset();
        else
            s.source.setTracks(TrackModel::numbered(3));
        const int size = loss == 0 ? 4 : loss == 3 ? 3 : 0;
        QCOMPARE(s.log.take(), u"c(0,%1,%2) u(3,-1)"_s.arg(s.presented.size()).arg(size));
        QCOMPARE(s.playlist.size(), size);
        QCOMPARE(s.playlist.getCurrentIndex(), -1);
        QCOMPARE(s.playlist.underlyingModel(), loss == 0 ? &other : loss == 3 ? &s.source : nullptr);
        // Edits of a model the playlist let go of are not reported.
        if (loss < 2)
            s.source.insertTracks(0, TrackModel::numbered(1, 900));
        QCOMPARE(s.log.take(), QString());
    }

    void indexListShouldAnswerLikePlainListThroughRandomEdits_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<uint>("valueRange");
        // Few values give duplicates and repeated misses; huge ones the sparse cache.
        for (quint32 seed : {1u, 2u, 3u, 4u, 5u}) {
            for (uint range : {6u, 200u, 4000000000u})
                QTest::addRow("values below %u, seed %u", range, seed) << seed << range;
        }
    }

    void indexListShouldAnswerLikePlainListThroughRandomEdits()
    {
        QFETCH(quint32, seed);
        QFETCH(uint, valueRange);
        QRandomGenerator random(seed);
        RovaIndexList list;
        PlainIndexList plain;
        const auto both = [&](auto operation) { operation(list); operation(plain); };
        for (int step = 0; step < 3000; ++step) {
            const int size = int(plain.list.size());
            const uint value = random.bounded(valueRange);
            // Two positions inside the list (-1 when it is empty), and one sometimes just outside it.
            const int i = size > 0 ? int(random.bounded(size)) : -1;
            const int j = size > 0 ? int(random.bounded(size)) : -1;
            const int at = int(random.bounded(size + 4)) - 2;
            const uint last = random.bounded(6) ? value + random.bounded(4) : value / 2; // or last < first
            // Offsets are mostly in range; out-of-range ones and positions are clamped.
            QList<int> offsets(random.bounded(random.bounded(4) ? 3 : 40));
            for (int& offset : offsets)
                offset = int(random.bounded(size + 4)) - 1;
            // Look up a value that is there, or any value, from 0 or elsewhere.
            const uint wanted = i >= 0 && random.bounded(2) ? plain.list.at(i) : value;
            const int from = random.bounded(4) ? 0 : at - 1;
            const uint operation = random.bounded(100);
            if (operation < 16)
                both([&](auto& l) { l.append(value); });
            else if (operation < 24)
                both([&](auto& l) { l.insert(i + 1, value); });
            else if (operation < 32 && i >= 0)
                both([&](auto& l) { l.replace(i, value); });
            else if (operation < 40)
                both([&](auto& l) { l.removeAt(at); });
            else if (operation < 48)
                QCOMPARE(list.removeOne(value), plain.removeOne(value));
            else if (operation < 53 && i >= 0)
                both([&](auto& l) { l.swap(i, j); });
            else if (operation < 58 && i >= 0)
                both([&](auto& l) { l.move(i, j); });
            else if (operation < 59)
                both([&](auto& l) { l.clear(); });
            else if (operation < 60)
                both([&](auto& l) { l.fill(at); });
            else if (operation < 68)
                both([&](auto& l) { l.removeValueRange(value, last); });
            else if (operation < 76)
                both([&](auto& l) { l.insertAfter(at, value, offsets); });
            else
                QCOMPARE(list.indexOf(wanted, from), plain.indexOf(wanted, from));
            QCOMPARE(list.values(), plain.list);
        }
    }

    void shouldStepUnderEachRepeatMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("steps"); // next/previous of each index from -1 to the size
        QTest::newRow("none") << 0 << "-1/-1 1/-1 2/0 -1/1 -1/-1";
        QTest::newRow("one") << 1 << "-1/-1 0/0 1/1 2/2 -1/-1";
        QTest::newRow("all, empty") << 2 << "-1/-1 -1/-1";
        QTest::newRow("all, single item") << 2 << "-1/-1 0/0 -1/-1";
        QTest::newRow("all") << 2 << "-1/-1 1/2 2/0 0/1 -1/-1";
        QTest::newRow("invalid mode") << 3 << "-1/-1 -1/-1 -1/-1 -1/-1 -1/-1";
    }

    void shouldStepUnderEachRepeatMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, steps);
        const int count = int(steps.count(u' ')) - 1;
        PlaylistFixture f(count);
        QSignalSpy changed(&f.playlist, &RovaPlaylist::repeatModeChanged);
        if (mode > 2)
            QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::setRepeat: invalid repeat mode 3");
        f.playlist.setRepeat(RovaPlaylist::RovaRepeatMode(mode));
        QCOMPARE(changed.count(), 1); // also when the mode is the one in force
        QStringList found;
        for (int index = -1; index <= count; ++index)
            found << u"%1/%2"_s.arg(f.playlist.getNext(index)).arg(f.playlist.getPrevious(index));
        QCOMPARE(found.join(u' '), steps);
    }

    void shouldFollowDataChangesAndShuffleAfterReset()
    {
        PlaylistFixture f;
        f.playlist.sort(u"Number"_s, RovaPlaylist::SortNumericDescending);
        f.choose(7);
        f.log.take();
        // Item "2" (at 7 in the order 9 8 ... 0) gets the largest number and moves to the front.
        QVERIFY(f.source.setData(f.source.index(2, 2), 500));
        QCOMPARE(f.currentId(), u"2"_s);
        QCOMPARE(f.log.take(), u"c(0,10,10) u(1,0)"_s);
        // A reset while shuffled shuffles all rows again, also those past the old row count (ids 60 and on).
        f.playlist.shuffle();
        f.source.setTracks(TrackModel::numbered(30, 50));
        QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortShuffled);
        QStringList newRows = f.ids();
        newRows.removeIf([](const QString& id) { return id.toInt() < 60; });
        QVERIFY(newRows != idsOf(&f.source).mid(10));
        // Rows inserted after the current item land anywhere behind it, not in one block.
        f.choose(0);
        for (int id = 200; id < 210; ++id)
            f.source.insertTracks(0, TrackModel::numbered(1, id));
        QStringList behind = f.ids().mid(1, 10);
        behind.sort();
        QVERIFY(behind != strings("200 201 202 203 204 205 206 207 208 209"));
    }

    void shouldWarnAndChangeNothingOnBadRequests()
    {
        const auto warned = [](const char* warning, auto call) { QTest::ignoreMessage(QtWarningMsg, warning); return call(); };
        RovaGeneralSourcePlaylist empty(u"rova0"_s, u"test"_s, u"s"_s);
        PlaylistLog emptyLog(&empty);
        empty.clear();
        empty.unShuffle();
        QCOMPARE(warned("RovaPlaylistBase::getColumnNames: model not set", [&] { return empty.getColumnNames(); }), QStringList());
        warned("RovaPlaylistBase::shuffle: nothing to shuffle", [&] { empty.shuffle(); });
        warned("RovaPlaylistBase::getColumnNames: model not set", [&] { empty.sort(u"Id"_s, RovaPlaylist::SortAscending); });
        warned("RovaPlaylistBase::sort: no column 0", [&] { empty.sort(0, RovaPlaylist::SortAscending); });
        QCOMPARE(emptyLog.take(), QString());

        PlaylistFixture f;
        f.playlist.sort(u"Title"_s, RovaPlaylist::SortDescending);
        f.choose(2);
        const QStringList order = f.ids();
        QCOMPARE(order, strings("9 8 7 6 5 4 3 2 1 0"));
        f.log.take();
        for (int index : {-1, 10, INT_MAX, INT_MIN}) {
            expectNoItem(index);
            QVERIFY(!f.playlist.getItem(index));
            QVERIFY(!f.playlist.removeItem(index));
        }
        for (const auto& [first, last] : {std::pair(-1, 2), std::pair(8, 10), std::pair(INT_MIN, INT_MAX)})
            QVERIFY(!f.playlist.removeItems(first, last));
        QVERIFY(!warned("RovaPlaylistBase::removeItems lastIndex less than firstIndex!", [&] { return f.playlist.removeItems(5, 3); }));
        QFile file;
        QVERIFY(!warned("RovaPlaylistBase::import NOT IMPLEMENTED", [&] { return f.playlist.import(file); }));
        warned("RovaPlaylistBase: Invalid playlist sort enum!", [&] { f.playlist.sort(1, RovaPlaylist::RovaSortOrder(-1)); });
        warned("RovaPlaylistBase::sort: no column 3", [&] { f.playlist.sort(3, RovaPlaylist::SortAscending); });
        warned("RovaPlaylistBase::sort: no column -1", [&] { f.playlist.sort(-1, RovaPlaylist::SortNumericAscending); });
        warned("RovaPlaylistBase::sort: no column named \"title\"", [&] { f.playlist.sort(u"title"_s, RovaPlaylist::SortAscending); });
        // The proxy refuses columns out of range, natural and shuffled order, and orders out of range.
        auto* proxy = static_cast<RovaProxySortModel*>(f.playlist.model());
        for (const auto& [column, order] : {std::pair(-1, 4), std::pair(3, 0), std::pair(0, 2), std::pair(0, 3),
                                            std::pair(0, 6), std::pair(0, -1), std::pair(0, INT_MAX)})
            proxy->sort(column, RovaPlaylist::RovaSortOrder(order));
        proxy->sort(-1, Qt::AscendingOrder);
        proxy->sort(3, Qt::DescendingOrder);
        QCOMPARE(f.ids(), order);
        QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortDescending);
        QCOMPARE(f.playlist.getCurrentIndex(), 2);
        QCOMPARE(f.log.take(), QString());

        // The model tester checks the rows and columns out of range; indexes of another model are refused.
        QVERIFY(!proxy->data(f.source.index(1, 0)).isValid());
        QVERIFY(!proxy->mapToSource(f.source.index(1, 0)).isValid());
        QVERIFY(!proxy->setData(f.source.index(1, 1), u"x"_s));
        QVERIFY(proxy->setData(proxy->index(1, 1), u"y"_s));
        QCOMPARE(f.source.index(8, 1).data().toString(), u"y"_s);

        // The plain base knows no item identities.
        RovaPlaylistBase plain(u"rova1"_s, u"plain"_s);
        plain.setUnderlyingModel(&f.source);
        QVERIFY(!plain.getItem(0));
        QCOMPARE(plain.getCurrentIndex(), -1);
    }

    void shouldConvertIds_data()
    {
        QTest::addColumn<bool>("toId");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        const QString id = u"rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b"_s;
        const QString uuid = u"0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b"_s;
        QTest::newRow("braced uuid") << true << QString(u'{' + uuid + u'}') << id;
        QTest::newRow("already an id, hyphens kept") << true << "rova-1-2" << "rova-1-2";
        QTest::newRow("upper-case prefix is not the prefix") << true << "ROVA-1" << "rovaROVA1";
        QTest::newRow("36 characters") << false << id << uuid;
        QTest::newRow("35 characters") << false << id.chopped(1) << id.chopped(1);
        QTest::newRow("no prefix") << false << QString(u'x' + id.mid(1)) << QString(u'x' + id.mid(1));
    }

    void shouldConvertIds()
    {
        QFETCH(bool, toId);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QCOMPARE(toId ? RovaPlaylist::convertUuidtoPlaylistId(from) : RovaPlaylist::convertPlaylistIdtoUuid(from), to);
    }

    void newIdsShouldBeWellFormedUniqueAndConvertible()
    {
        const QString pid = QString::number(::getpid());
        const QRegularExpression form(u"^rova[0-9a-f]{32}([0-9]+)$"_s);
        for (int i = 0; i < 1000; ++i) {
            const QString id = RovaPlaylist::getNewPlaylistId();
            // A counter (0 first) and the process id make it unique.
            QCOMPARE(form.match(id).captured(1), QString::number(i) + pid);
            QCOMPARE(RovaPlaylist::convertUuidtoPlaylistId(RovaPlaylist::convertPlaylistIdtoUuid(id)), id);
        }
    }
};

QTEST_GUILESS_MAIN(tst_RovaPlaylist)
#include "tst_rovaplaylist.moc"
