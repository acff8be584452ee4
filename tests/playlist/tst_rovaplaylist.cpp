// SPDX-License-Identifier: LGPL-2.1-or-later
// Playlist identifiers, the playlist base and the general source playlist. Edits, sorts and
// shuffles in long random sequences are in tst_rovaplaylistconsistency.
#include "playlisttesting.h"

#include <rovageneralsourceplaylist.h>
#include <rovaproxysortmodel.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QUuid>

#include <climits>

#include <unistd.h>

class tst_RovaPlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldStepUnderEachRepeatMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("steps"); // next and previous of the indexes -1 to count
        QTest::newRow("none, empty") << 0 << 0 << "-1 -1 / -1 -1";
        QTest::newRow("none") << 0 << 3 << "-1 1 2 -1 -1 / -1 -1 0 1 -1";
        QTest::newRow("one, empty") << 1 << 0 << "-1 -1 / -1 -1";
        QTest::newRow("one") << 1 << 3 << "-1 0 1 2 -1 / -1 0 1 2 -1";
        QTest::newRow("all, empty") << 2 << 0 << "-1 -1 / -1 -1";
        QTest::newRow("all, single item") << 2 << 1 << "-1 0 -1 / -1 0 -1";
        QTest::newRow("all") << 2 << 3 << "-1 1 2 0 -1 / -1 2 0 1 -1";
        QTest::newRow("invalid mode") << 3 << 3 << "-1 -1 -1 -1 -1 / -1 -1 -1 -1 -1";
    }

    void shouldStepUnderEachRepeatMode()
    {
        QFETCH(int, mode);
        QFETCH(int, count);
        QFETCH(QString, steps);
        PlaylistFixture f(count);
        f.choose(0);
        QSignalSpy changed(&f.playlist, &RovaPlaylist::repeatModeChanged);
        if (mode > 2)
            QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::setRepeat: invalid repeat mode 3");
        f.playlist.setRepeat(RovaPlaylist::RovaRepeatMode(mode));
        QCOMPARE(changed.count(), 1); // also when the mode is the one in force
        QCOMPARE(int(f.playlist.repeatMode()), mode);
        QStringList next;
        QStringList previous;
        for (int index = -1; index <= count; ++index) {
            next << QString::number(f.playlist.getNext(index));
            previous << QString::number(f.playlist.getPrevious(index));
        }
        QCOMPARE(next.join(QLatin1Char(' ')) + QStringLiteral(" / ") + previous.join(QLatin1Char(' ')), steps);
        QCOMPARE(f.playlist.getCurrentIndex(), count > 0 ? 0 : -1);
    }

    void shouldReportEveryChangeBeforeAnyRead()
    {
        TrackTableModel source;
        source.setTracks(TrackTableModel::numbered(10));
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
        QCOMPARE(presentedIds(playlist.model()), strings("1 2 5 6 7 8 9"));
    }

    void shouldReportClearAsRemovalOfCurrent()
    {
        PlaylistFixture f;
        f.playlist.shuffle();
        f.choose(5);
        f.log.take();
        f.playlist.clear();
        f.playlist.clear();
        QCOMPARE(f.log.text(), QStringLiteral("c(0,10,0) u(0,-1)"));
        QCOMPARE(f.playlist.size(), 0);
        QCOMPARE(f.playlist.getCurrentIndex(), -1);
    }

    void shouldSortByColumnNameAndFollowDataChanges()
    {
        PlaylistFixture f;
        QCOMPARE(f.playlist.getColumnNames(), strings("Id Title Number"));
        f.playlist.sort(QStringLiteral("Id"), RovaPlaylist::SortDescending);
        QCOMPARE(f.ids(), strings("9 8 7 6 5 4 3 2 1 0"));
        f.playlist.sort(QStringLiteral("Number"), RovaPlaylist::SortNumericDescending);
        QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortNumericDescending);
        f.choose(7);
        f.log.take();
        // Item "2" gets the largest number and moves to the front.
        QVERIFY(f.source.setData(f.source.index(2, 2), 500));
        QCOMPARE(f.playlist.getCurrentIndex(), 0);
        QCOMPARE(f.currentId(), QStringLiteral("2"));
        QVERIFY(f.log.text().endsWith(QStringLiteral("u(1,0)")));
    }

    void shouldPresentOrder_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("expected");
        // Titles 10 9 100 5 50 0; numbers 3, none, 7, -1, none, 0. The random sequences of
        // tst_rovaplaylistconsistency check every order against Qt's comparison; these rows spell it out.
        QTest::newRow("text ascending") << -1 << 1 << int(RovaPlaylist::SortAscending) << strings("5 0 2 3 4 1");
        // A missing number counts as 0 on either side: equal to 0, above -1.
        QTest::newRow("numeric descending") << -1 << 2 << int(RovaPlaylist::SortNumericDescending) << strings("2 0 1 4 5 3");
        // Qt's proxy takes these for the order already in force; they must still re-sort.
        QTest::newRow("text then numeric, one column") << 0 << 1 << 4 << strings("5 3 1 0 4 2");
        QTest::newRow("shuffled then text ascending on column 0") << 3 << 0 << 0 << strings("0 1 2 3 4 5");
    }

    void shouldPresentOrder()
    {
        QFETCH(int, before);
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, expected);
        PlaylistFixture f(0);
        const QList<QVariant> numbers{3, QVariant(), 7, -1, QVariant(), 0};
        for (int i = 0; i < 6; ++i)
            f.source.insertTracks(i, {{QString::number(i), strings("10 9 100 5 50 0").at(i), numbers.at(i)}});
        if (before >= 0)
            f.playlist.sort(column, RovaPlaylist::RovaSortOrder(before));
        f.playlist.sort(column, RovaPlaylist::RovaSortOrder(order));
        QCOMPARE(f.ids(), expected);
        QCOMPARE(int(f.playlist.getSortOrder()), order);
    }

    void shouldShuffleAllRowsAgainAfterReset()
    {
        PlaylistFixture f;
        f.playlist.shuffle();
        f.source.setTracks(TrackTableModel::numbered(30, 50));
        QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortShuffled);
        const QStringList ids = f.ids();
        QCOMPARE(sorted(ids), sorted(f.source.ids()));
        // Also those past the old row count (ids 60 and on).
        QStringList newRows = ids;
        newRows.removeIf([](const QString& id) { return id.toInt() < 60; });
        QVERIFY(newRows != sorted(newRows));
        // A row inserted after the last current one comes last; after another, anywhere behind it.
        f.choose(29);
        f.source.insertTracks(0, TrackTableModel::numbered(1, 100));
        QCOMPARE(f.ids(), ids + strings("100"));
        f.choose(0);
        for (int id = 200; id < 210; ++id)
            f.source.insertTracks(0, TrackTableModel::numbered(1, id));
        QCOMPARE(f.currentId(), ids.first());
        QVERIFY(sorted(f.ids().mid(1, 10)) != strings("200 201 202 203 204 205 206 207 208 209"));
    }

    void shouldRefuseBadSortsAndIndexesOfOtherModels()
    {
        PlaylistFixture f(5);
        auto* proxy = static_cast<RovaProxySortModel*>(f.playlist.model());
        f.playlist.sort(2, RovaPlaylist::SortNumericDescending);
        f.log.take();
        // Columns out of range, natural and shuffled order through sort(), and orders out of range.
        for (const auto& [column, order] : {std::pair(-1, 4), std::pair(3, 0), std::pair(0, 2), std::pair(0, 3),
                                            std::pair(0, 6), std::pair(0, -1), std::pair(0, INT_MAX)})
            proxy->sort(column, RovaPlaylist::RovaSortOrder(order));
        proxy->sort(-1, Qt::AscendingOrder);
        proxy->sort(3, Qt::DescendingOrder);
        QCOMPARE(f.ids(), strings("4 3 2 1 0"));
        QCOMPARE(f.log.text(), QString());
        QCOMPARE(proxy->getSortOrder(), RovaPlaylist::SortNumericDescending);

        // The model tester checks the rows and columns out of range; the playlist is flat.
        const QModelIndex first = proxy->index(0, 0);
        QVERIFY(!proxy->index(0, 0, first).isValid() && !proxy->hasChildren(first) && proxy->rowCount(first) == 0);
        QVERIFY(!proxy->data(f.source.index(1, 0)).isValid());
        QVERIFY(!proxy->mapToSource(f.source.index(1, 0)).isValid());
        QVERIFY(!proxy->setData(f.source.index(1, 1), QStringLiteral("x")));
        QVERIFY(proxy->setData(proxy->index(1, 1), QStringLiteral("y")));
        QCOMPARE(f.source.index(3, 1).data().toString(), QStringLiteral("y"));
    }

    void shouldReportLossOfModel_data()
    {
        QTest::addColumn<int>("loss");
        QTest::addColumn<QString>("expectedLog");
        QTest::addColumn<int>("expectedSize");
        QTest::newRow("replaced") << 0 << "c(0,10,4) u(3,-1)" << 4;
        QTest::newRow("replaced by null") << 1 << "c(0,10,0) u(3,-1)" << 0;
        QTest::newRow("deleted") << 2 << "c(0,10,0) u(3,-1)" << 0;
        QTest::newRow("reset") << 3 << "c(0,10,3) u(3,-1)" << 3;
    }

    void shouldReportLossOfModel()
    {
        QFETCH(int, loss);
        QFETCH(QString, expectedLog);
        QFETCH(int, expectedSize);
        TrackTableModel other;
        other.setTracks(TrackTableModel::numbered(4));
        auto source = std::make_unique<TrackTableModel>();
        source->setTracks(TrackTableModel::numbered(10));
        IdPlaylist playlist;
        const auto tester = modelTester(playlist.model());
        PlaylistLog log(&playlist);
        playlist.setUnderlyingModel(source.get());
        playlist.shuffle();
        delete playlist.getItem(5);
        log.take();

        if (loss == 0)
            playlist.setUnderlyingModel(&other);
        else if (loss == 1)
            playlist.setUnderlyingModel(nullptr);
        else if (loss == 2)
            source.reset();
        else
            source->setTracks(TrackTableModel::numbered(3));
        QCOMPARE(log.take(), expectedLog);
        QCOMPARE(playlist.size(), expectedSize);
        QCOMPARE(playlist.getCurrentIndex(), -1);
        QCOMPARE(playlist.underlyingModel(), loss == 0 ? &other : loss == 3 ? source.get() : nullptr);
        // Edits of a model the playlist let go of are not reported.
        if (loss < 2)
            source->removeRows(0, 1);
        QCOMPARE(log.text(), QString());
        std::unique_ptr<RovaContent> item(playlist.getItem(0));
        QCOMPARE(bool(item), expectedSize > 0);

        TrackTableModel next;
        next.setTracks(TrackTableModel::numbered(3));
        playlist.setUnderlyingModel(&next);
        QCOMPARE(log.take(), QStringLiteral("c(0,%1,3) u(3,-1)").arg(expectedSize));
        QCOMPARE(playlist.size(), 3);
    }

    void shouldWarnAndChangeNothingOnBadRequests()
    {
        IdPlaylist empty;
        PlaylistLog emptyLog(&empty);
        QVERIFY(!empty.getItem(0));
        empty.clear();
        empty.unShuffle();
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::getColumnNames: model not set");
        QCOMPARE(empty.getColumnNames(), QStringList());
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
        empty.shuffle();
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::getColumnNames: model not set");
        empty.sort(QStringLiteral("Id"), RovaPlaylist::SortAscending);
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column 0");
        empty.sort(0, RovaPlaylist::SortAscending);
        QCOMPARE(emptyLog.text(), QString());
        TrackTableModel none;
        empty.setUnderlyingModel(&none);
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::shuffle: nothing to shuffle");
        empty.shuffle();
        QVERIFY(!empty.isShuffled());

        PlaylistFixture f;
        f.playlist.sort(1, RovaPlaylist::SortDescending);
        f.choose(2);
        const QStringList order = f.ids();
        f.log.take();
        for (int index : {-1, 10, INT_MAX, INT_MIN}) {
            QVERIFY(!f.playlist.getItem(index));
            QVERIFY(!f.playlist.removeItem(index));
        }
        QVERIFY(!f.playlist.removeItems(-1, 2));
        QVERIFY(!f.playlist.removeItems(8, 10));
        QVERIFY(!f.playlist.removeItems(INT_MIN, INT_MAX));
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::removeItems lastIndex less than firstIndex!");
        QVERIFY(!f.playlist.removeItems(5, 3));
        QVERIFY(!f.playlist.moveItem(0, 1));
        QFile file;
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::import NOT IMPLEMENTED");
        QVERIFY(!f.playlist.import(file));
        for (int invalid : {6, -1, INT_MAX}) {
            QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase: Invalid playlist sort enum!");
            f.playlist.sort(1, RovaPlaylist::RovaSortOrder(invalid));
        }
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column 3");
        f.playlist.sort(3, RovaPlaylist::SortAscending);
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column -1");
        f.playlist.sort(-1, RovaPlaylist::SortNumericAscending);
        QTest::ignoreMessage(QtWarningMsg, "RovaPlaylistBase::sort: no column named \"title\"");
        f.playlist.sort(QStringLiteral("title"), RovaPlaylist::SortAscending);
        QCOMPARE(f.ids(), order);
        QCOMPARE(f.playlist.getSortOrder(), RovaPlaylist::SortDescending);
        QCOMPARE(f.playlist.getCurrentIndex(), 2);
        QCOMPARE(f.log.text(), QString());

        // The plain base knows no item identities.
        RovaPlaylistBase plain(QStringLiteral("rova1"), QStringLiteral("plain"));
        plain.setUnderlyingModel(&f.source);
        QVERIFY(!plain.getItem(0));
        QVERIFY(!plain.getItemMediaInfo(0).isValid());
        QCOMPARE(plain.getCurrentIndex(), -1);
    }

    void shouldConvertIds_data()
    {
        QTest::addColumn<bool>("toId");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        const QString id = QStringLiteral("rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b");
        const QString uuid = QStringLiteral("0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b");
        QTest::newRow("braced uuid") << true << QString(u'{' + uuid + u'}') << id;
        QTest::newRow("plain uuid") << true << uuid << id;
        QTest::newRow("already an id, hyphens kept") << true << "rova-1-2" << "rova-1-2";
        QTest::newRow("upper-case prefix is not the prefix") << true << "ROVA-1" << "rovaROVA1";
        QTest::newRow("only separators") << true << "{--}" << "rova";
        QTest::newRow("36 characters") << false << id << uuid;
        QTest::newRow("trailing counter and pid") << false << QString(id + u"04242") << QString(uuid + u"04242");
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
        const QRegularExpression form(QStringLiteral("^rova[0-9a-f]{32}([0-9]+)$"));
        QSet<QString> seen;
        for (int i = 0; i < 1000; ++i) {
            const QString id = RovaPlaylist::getNewPlaylistId();
            const QString tail = form.match(id).captured(1);
            QCOMPARE(tail, QString::number(i) + pid); // the first id of a process carries 0
            QVERIFY(!seen.contains(id));
            seen.insert(id);
            const QString uuid = RovaPlaylist::convertPlaylistIdtoUuid(id);
            QVERIFY(!QUuid::fromString(uuid.left(36)).isNull());
            QCOMPARE(RovaPlaylist::convertUuidtoPlaylistId(uuid), id);
        }
    }

    void shouldJoinSourceUuidAndObjectId_data()
    {
        QTest::addColumn<QString>("sourceUuid");
        QTest::addColumn<QVariant>("objectId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tracker source, number") << RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE << QVariant(42)
                                                << "RovaTrackerSource::42";
        QTest::newRow("text with separators") << "src" << QVariant(QStringLiteral("a::b")) << "src::a::b";
        QTest::newRow("placeholders stay text") << "%2" << QVariant(QStringLiteral("%1")) << "%2::%1";
        QTest::newRow("empty object id") << "" << QVariant(QString()) << "::";
    }

    void shouldJoinSourceUuidAndObjectId()
    {
        QFETCH(QString, sourceUuid);
        QFETCH(QVariant, objectId);
        QFETCH(QString, expected);
        TrackTableModel source;
        source.setTracks({{objectId, QString(), 0}, {QStringLiteral("x"), QString(), 1}});
        RovaGeneralSourcePlaylist playlist(QStringLiteral("rova1"), QStringLiteral("name"), sourceUuid);
        playlist.setUnderlyingModel(&source);
        QCOMPARE(playlist.getItemMediaInfo(0).uuid(), expected);
        QCOMPARE(playlist.getCurrentIndex(), -1);
        std::unique_ptr<RovaContent> content(playlist.getItem(0));
        QCOMPARE(content->uuid(), expected);
        QVERIFY(content->metaData().isEmpty());
        QCOMPARE(playlist.getCurrentIndex(), 0);
    }

    void shouldFollowPresentedOrderAndWarnForMissingItems()
    {
        TrackTableModel source;
        source.setTracks(TrackTableModel::numbered(20));
        RovaGeneralSourcePlaylist playlist(QStringLiteral("rova1"), QStringLiteral("name"), QStringLiteral("s"));
        for (int index : {0, -1, 20}) {
            const QByteArray message = "virtual RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int) "
                + QByteArray::number(index) + " invalid index";
            QTest::ignoreMessage(QtWarningMsg, message.constData());
            QTest::ignoreMessage(QtWarningMsg, message.constData());
            QVERIFY(playlist.getItemMediaInfo(index).uuid().isEmpty());
            QVERIFY(!playlist.getItem(index));
            if (index == 0)
                playlist.setUnderlyingModel(&source); // the first round has no model
            else
                QCOMPARE(playlist.getCurrentIndex(), 13);
            delete playlist.getItem(13);
        }
        playlist.shuffle();
        QCOMPARE(playlist.getItemMediaInfo(0).uuid(), QStringLiteral("s::13"));
        playlist.sort(2, RovaPlaylist::SortNumericDescending);
        QCOMPARE(playlist.getItemMediaInfo(0).uuid(), QStringLiteral("s::19"));
        QCOMPARE(playlist.getItemMediaInfo(playlist.getCurrentIndex()).uuid(), QStringLiteral("s::13"));
    }
};

QTEST_GUILESS_MAIN(tst_RovaPlaylist)
#include "tst_rovaplaylist.moc"
