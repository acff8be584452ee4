// SPDX-License-Identifier: LGPL-2.1-or-later
// Playlist speed at 100,000 rows, compared with a plain QSortFilterProxyModel
// in the same run, and the memory the proxy and its index list add per row.
#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovaproxysortmodel.h>

#include <QAbstractTableModel>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSortFilterProxyModel>
#include <QTest>

#include <malloc.h>
#include <unistd.h>

#include <memory>

namespace {

// Two columns: a text title and a number.
class TitleNumberModel : public QAbstractTableModel
{
public:
    explicit TitleNumberModel(int rows)
    {
        QRandomGenerator random(7);
        m_titles.reserve(rows);
        m_numbers.reserve(rows);
        for (int i = 0; i < rows; ++i) {
            m_titles.append(makeTitle(random));
            m_numbers.append(int(random.bounded(1000000)));
        }
    }

    static QString makeTitle(QRandomGenerator& random)
    {
        static const char* const words[] = {"Blue", "night", "Song", "river", "Dance", "light", "Echo", "stone"};
        return QString::fromLatin1(words[random.bounded(8)]) + QLatin1Char(' ')
            + QString::fromLatin1(words[random.bounded(8)]) + QLatin1Char(' ')
            + QString::number(random.bounded(100000));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_titles.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!index.isValid() || role != Qt::DisplayRole)
            return QVariant();
        if (index.column() == 0)
            return m_titles.at(index.row());
        return m_numbers.at(index.row());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return section == 0 ? QStringLiteral("Title") : QStringLiteral("Number");
        return QVariant();
    }
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override
    {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > m_titles.size())
            return false;
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        m_titles.remove(row, count);
        m_numbers.remove(row, count);
        endRemoveRows();
        return true;
    }
    void insertAt(int row, int count, QRandomGenerator& random)
    {
        beginInsertRows(QModelIndex(), row, row + count - 1);
        for (int i = 0; i < count; ++i) {
            m_titles.insert(row + i, makeTitle(random));
            m_numbers.insert(row + i, int(random.bounded(1000000)));
        }
        endInsertRows();
    }

private:
    QList<QString> m_titles;
    QList<int> m_numbers;
};

constexpr int Rows = 100000;

qint64 residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

struct Playlist
{
    explicit Playlist(int rows = Rows)
        : model(rows)
        , playlist(QStringLiteral("rova0"), QStringLiteral("bench"), RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE)
    {
        playlist.setUnderlyingModel(&model);
    }
    void choose(int index) { delete playlist.getItem(index); }

    TitleNumberModel model;
    RovaGeneralSourcePlaylist playlist;
};

struct PlainProxy
{
    PlainProxy()
        : model(Rows)
    {
        proxy.setDynamicSortFilter(true);
        proxy.setSortCaseSensitivity(Qt::CaseInsensitive);
        proxy.setSortLocaleAware(true);
        proxy.setSourceModel(&model);
        proxy.rowCount();
    }
    TitleNumberModel model;
    QSortFilterProxyModel proxy;
};

} // namespace

class bench_RovaPlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void sortByText_data();
    void sortByText();
    void sortByNumber_data();
    void sortByNumber();
    void shuffle();
    void unShuffle();
    void removeOneRowWhileShuffled();
    void removeThousandRowsWhileShuffled_data();
    void removeThousandRowsWhileShuffled();
    void insertOneRowWhileShuffled();
    void appendThousandRowsWhileShuffled();
    void stepTenThousandItems();
    void memoryPerRow();
};

void addImplementations()
{
    QTest::addColumn<bool>("plain");
    QTest::newRow("playlist") << false;
    QTest::newRow("plain QSortFilterProxyModel") << true;
}

void bench_RovaPlaylist::sortByText_data()
{
    addImplementations();
}

void bench_RovaPlaylist::sortByText()
{
    QFETCH(bool, plain);
    if (plain) {
        PlainProxy p;
        QBENCHMARK_ONCE {
            p.proxy.sort(0, Qt::AscendingOrder);
        }
    } else {
        Playlist p;
        p.choose(500);
        QBENCHMARK_ONCE {
            p.playlist.sort(0, RovaPlaylist::SortAscending);
        }
    }
}

void bench_RovaPlaylist::sortByNumber_data()
{
    addImplementations();
}

void bench_RovaPlaylist::sortByNumber()
{
    QFETCH(bool, plain);
    if (plain) {
        PlainProxy p;
        QBENCHMARK_ONCE {
            p.proxy.sort(1, Qt::AscendingOrder);
        }
    } else {
        Playlist p;
        p.choose(500);
        QBENCHMARK_ONCE {
            p.playlist.sort(1, RovaPlaylist::SortNumericAscending);
        }
    }
}

void bench_RovaPlaylist::shuffle()
{
    Playlist p;
    p.choose(500);
    QBENCHMARK_ONCE {
        p.playlist.shuffle();
    }
    QVERIFY(p.playlist.isShuffled());
}

void bench_RovaPlaylist::unShuffle()
{
    Playlist p;
    p.choose(500);
    p.playlist.shuffle();
    QBENCHMARK_ONCE {
        p.playlist.unShuffle();
    }
    QCOMPARE(p.playlist.getCurrentIndex(), 500);
}

void bench_RovaPlaylist::removeOneRowWhileShuffled()
{
    Playlist p;
    p.choose(500);
    p.playlist.shuffle();
    QRandomGenerator random(3);
    QBENCHMARK {
        p.playlist.removeItem(1 + int(random.bounded(p.playlist.size() - 1)));
    }
}

// The plain proxy, sorted by title, scatters rows as much as a shuffle does.
// "presented" removes 1,000 adjacent rows of the presented order (scattered in
// the model), "underlying" 1,000 adjacent rows of the model (scattered on screen).
void bench_RovaPlaylist::removeThousandRowsWhileShuffled_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<bool>("presented");
    QTest::newRow("playlist, presented rows") << false << true;
    QTest::newRow("plain QSortFilterProxyModel, presented rows") << true << true;
    QTest::newRow("playlist, underlying rows") << false << false;
    QTest::newRow("plain QSortFilterProxyModel, underlying rows") << true << false;
}

void bench_RovaPlaylist::removeThousandRowsWhileShuffled()
{
    QFETCH(bool, plain);
    QFETCH(bool, presented);
    if (plain) {
        PlainProxy p;
        p.proxy.sort(0, Qt::AscendingOrder);
        QBENCHMARK_ONCE {
            if (presented)
                p.proxy.removeRows(40000, 1000);
            else
                p.model.removeRows(40000, 1000);
        }
        QCOMPARE(p.proxy.rowCount(), Rows - 1000);
        return;
    }
    Playlist p;
    p.choose(500);
    p.playlist.shuffle();
    QBENCHMARK_ONCE {
        if (presented)
            p.playlist.removeItems(40000, 40999);
        else
            p.model.removeRows(40000, 1000);
    }
    QCOMPARE(p.playlist.size(), Rows - 1000);
}

void bench_RovaPlaylist::insertOneRowWhileShuffled()
{
    Playlist p;
    p.choose(500);
    p.playlist.shuffle();
    QRandomGenerator random(5);
    QBENCHMARK {
        p.model.insertAt(int(random.bounded(p.model.rowCount() + 1)), 1, random);
    }
}

void bench_RovaPlaylist::appendThousandRowsWhileShuffled()
{
    Playlist p;
    p.choose(500);
    p.playlist.shuffle();
    QRandomGenerator random(5);
    QBENCHMARK_ONCE {
        p.model.insertAt(p.model.rowCount(), 1000, random);
    }
    QCOMPARE(p.playlist.size(), Rows + 1000);
}

void bench_RovaPlaylist::stepTenThousandItems()
{
    Playlist p;
    p.playlist.shuffle();
    p.playlist.setRepeat(RovaPlaylist::RepeatAll);
    QBENCHMARK {
        for (int step = 0; step < 10000; ++step)
            p.choose(p.playlist.getNext(p.playlist.getCurrentIndex()));
    }
}

void bench_RovaPlaylist::memoryPerRow()
{
    const int rows = 1000000;
    auto model = std::make_unique<TitleNumberModel>(rows);
    const qint64 before = residentBytes();
    auto playlist = std::make_unique<RovaGeneralSourcePlaylist>(QStringLiteral("rova0"), QStringLiteral("bench"),
                                                                QStringLiteral("s"));
    playlist->setUnderlyingModel(model.get());
    delete playlist->getItem(rows / 2);
    const qint64 natural = residentBytes();
    playlist->sort(1, RovaPlaylist::SortNumericAscending);
    const qint64 sorted = residentBytes();
    playlist->shuffle();
    delete playlist->getItem(playlist->getNext(0));
    const qint64 shuffled = residentBytes();
    const auto perRow = [&](qint64 after) { return double(after - before) / rows; };
    qInfo("bytes per row added, 1,000,000 rows: natural %.1f, sorted %.1f, shuffled %.1f", perRow(natural),
          perRow(sorted), perRow(shuffled));
    QVERIFY(perRow(shuffled) <= 64);
    QVERIFY(perRow(sorted) <= 64);
}

QTEST_GUILESS_MAIN(bench_RovaPlaylist)
#include "bench_rovaplaylist.moc"
