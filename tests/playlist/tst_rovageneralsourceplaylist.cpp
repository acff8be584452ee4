// SPDX-License-Identifier: LGPL-2.1-or-later
#include "playlisttesting.h"

#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>

#include <QRegularExpression>
#include <QTest>

class tst_RovaGeneralSourcePlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldJoinSourceUuidAndObjectId_data();
    void shouldJoinSourceUuidAndObjectId();
    void shouldWarnForMissingItem_data();
    void shouldWarnForMissingItem();
    void shouldFollowPresentedOrder();
};

void tst_RovaGeneralSourcePlaylist::shouldJoinSourceUuidAndObjectId_data()
{
    QTest::addColumn<QString>("sourceUuid");
    QTest::addColumn<QVariant>("objectId");
    QTest::addColumn<QString>("expected");
    QTest::newRow("tracker source, number") << RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE << QVariant(42)
                                            << "RovaTrackerSource::42";
    QTest::newRow("empty source uuid") << QString() << QVariant(42) << "::42";
    QTest::newRow("text with separators") << "src" << QVariant(QStringLiteral("a::b")) << "src::a::b";
    QTest::newRow("placeholders stay text") << "%2" << QVariant(QStringLiteral("%1")) << "%2::%1";
    QTest::newRow("empty object id") << "src" << QVariant(QString()) << "src::";
}

void tst_RovaGeneralSourcePlaylist::shouldJoinSourceUuidAndObjectId()
{
    QFETCH(QString, sourceUuid);
    QFETCH(QVariant, objectId);
    QFETCH(QString, expected);
    TrackTableModel source;
    source.setTracks({{objectId.toString(), QString(), 0}, {QStringLiteral("x"), QString(), 1}});
    source.setData(source.index(0, 0), objectId);
    RovaGeneralSourcePlaylist playlist(QStringLiteral("rova1"), QStringLiteral("name"), sourceUuid);
    playlist.setUnderlyingModel(&source);

    const RovaMediaInfo info = playlist.getItemMediaInfo(0);
    QCOMPARE(info.uuid(), expected);
    QVERIFY(info.metaData().isEmpty());
    QCOMPARE(playlist.getCurrentIndex(), -1);

    std::unique_ptr<RovaContent> content(playlist.getItem(0));
    QVERIFY(content);
    QCOMPARE(content->uuid(), expected);
    QVERIFY(content->metaData().isEmpty());
    QCOMPARE(playlist.getCurrentIndex(), 0);
}

void tst_RovaGeneralSourcePlaylist::shouldWarnForMissingItem_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("withModel");
    QTest::newRow("past the end") << 3 << true;
    QTest::newRow("negative") << -1 << true;
    QTest::newRow("no model") << 0 << false;
}

void tst_RovaGeneralSourcePlaylist::shouldWarnForMissingItem()
{
    QFETCH(int, index);
    QFETCH(bool, withModel);
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(3));
    RovaGeneralSourcePlaylist playlist(QStringLiteral("rova1"), QStringLiteral("name"),
                                       RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE);
    if (withModel) {
        playlist.setUnderlyingModel(&source);
        delete playlist.getItem(1);
    }
    const QByteArray message = "virtual RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int) "
        + QByteArray::number(index) + " invalid index";
    QTest::ignoreMessage(QtWarningMsg, message.constData());
    QVERIFY(playlist.getItemMediaInfo(index).uuid().isEmpty());
    QTest::ignoreMessage(QtWarningMsg, message.constData());
    QVERIFY(!playlist.getItem(index));
    QCOMPARE(playlist.getCurrentIndex(), withModel ? 1 : -1);
}

void tst_RovaGeneralSourcePlaylist::shouldFollowPresentedOrder()
{
    TrackTableModel source;
    source.setTracks(TrackTableModel::numbered(20));
    RovaGeneralSourcePlaylist playlist(QStringLiteral("rova1"), QStringLiteral("name"), QStringLiteral("s"));
    playlist.setUnderlyingModel(&source);
    delete playlist.getItem(13);
    playlist.shuffle();
    QCOMPARE(playlist.getItemMediaInfo(0).uuid(), QStringLiteral("s::13"));
    playlist.sort(2, RovaPlaylist::SortNumericDescending);
    QCOMPARE(playlist.getItemMediaInfo(0).uuid(), QStringLiteral("s::19"));
    QCOMPARE(playlist.getItemMediaInfo(playlist.getCurrentIndex()).uuid(), QStringLiteral("s::13"));
}

QTEST_GUILESS_MAIN(tst_RovaGeneralSourcePlaylist)
#include "tst_rovageneralsourceplaylist.moc"
