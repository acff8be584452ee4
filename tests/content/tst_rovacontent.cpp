// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacontent.h>
#include <rovamediainfo.h>

#include <QMetaType>
#include <QTest>
#include <QUrl>

using Values = QList<QVariant>;

class tst_RovaContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void contentShouldStartEmpty();
    void contentShouldReplaceWholeMapWithoutCallingAnything();
    void contentCopiesShouldBeIndependent();

    void mediaInfoShouldStartInvalidAndUnplayable();
    void mediaInfoShouldReplaceListOnAppend();
    void mediaInfoShouldRemoveKeys();
    void mediaInfoFromContentShouldStartFromEmptyMap();
    void mediaInfoAssignedFromContentShouldMergeAndKeepOtherKeys();
    void mediaInfoSingleValueMergeShouldNotFlattenLists();
    void mediaInfoSetMetaDataShouldReplaceOrMerge();
    void mediaInfoCopiesShouldBeIndependent();
    void mediaInfoValidityFollowsUuid();

    void playability_data();
    void playability();

    void valueTypesShouldBeRegistered_data();
    void valueTypesShouldBeRegistered();
};

void tst_RovaContent::contentShouldStartEmpty()
{
    const RovaContent none;
    QVERIFY(none.uuid().isNull());
    QVERIFY(none.metaData().isEmpty());
    QVERIFY(!none.metaData(QStringLiteral("uri")).isValid());

    const RovaContent item(QStringLiteral("src::1"));
    QCOMPARE(item.uuid(), QStringLiteral("src::1"));
    QVERIFY(item.metaData().isEmpty());
}

void tst_RovaContent::contentShouldReplaceWholeMapWithoutCallingAnything()
{
    RovaContent item(QStringLiteral("src::1"));
    QMap<QString, QVariant> first{{QStringLiteral("title"), QStringLiteral("A")}, {QStringLiteral("uri"), QStringLiteral("file:///a")}};
    item.setMetaData(first, nullptr, nullptr);
    QCOMPARE(item.metaData(QStringLiteral("title")).toString(), QStringLiteral("A"));

    QMap<QString, QVariant> second{{QStringLiteral("duration"), 10}};
    item.setMetaData(second, this, "1nothing()");
    QCOMPARE(item.metaData().keys(), QStringList{QStringLiteral("duration")});
    QVERIFY(!item.metaData(QStringLiteral("title")).isValid());
    QCOMPARE(item.uuid(), QStringLiteral("src::1"));
}

void tst_RovaContent::contentCopiesShouldBeIndependent()
{
    RovaContent original(QStringLiteral("src::1"));
    QMap<QString, QVariant> map{{QStringLiteral("title"), QStringLiteral("A")}};
    original.setMetaData(map, nullptr, nullptr);

    RovaContent copy(original);
    QMap<QString, QVariant> other{{QStringLiteral("title"), QStringLiteral("B")}};
    copy.setMetaData(other, nullptr, nullptr);
    QCOMPARE(original.metaData(QStringLiteral("title")).toString(), QStringLiteral("A"));

    RovaContent assigned;
    assigned = original;
    QCOMPARE(assigned.uuid(), QStringLiteral("src::1"));
    assigned.setMetaData(other, nullptr, nullptr);
    QCOMPARE(original.metaData(QStringLiteral("title")).toString(), QStringLiteral("A"));
}

void tst_RovaContent::mediaInfoShouldStartInvalidAndUnplayable()
{
    RovaMediaInfo info;
    QVERIFY(info.uuid().isNull());
    QVERIFY(!info.isValid());
    QVERIFY(!info.isPlayable());
    QVERIFY(info.metaData(QStringLiteral("uri")).isEmpty());
    QVERIFY(!info.firstMetaData(QStringLiteral("uri")).isValid());
    QVERIFY(info.metaData().isEmpty());
}

void tst_RovaContent::mediaInfoShouldReplaceListOnAppend()
{
    RovaMediaInfo info(QStringLiteral("src::1"));
    info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("a")});
    info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("b"), QStringLiteral("c")});
    QCOMPARE(info.metaData(QStringLiteral("uri")), (Values{QStringLiteral("b"), QStringLiteral("c")}));
    QCOMPARE(info.firstMetaData(QStringLiteral("uri")).toString(), QStringLiteral("b"));

    info.appendMetaData(QStringLiteral("empty"), {});
    QVERIFY(info.metaData().contains(QStringLiteral("empty")));
    QVERIFY(!info.firstMetaData(QStringLiteral("empty")).isValid());
}

void tst_RovaContent::mediaInfoShouldRemoveKeys()
{
    RovaMediaInfo info(QStringLiteral("src::1"));
    info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("a")});
    info.removeMetaData(QStringLiteral("absent"));
    QCOMPARE(info.metaData().size(), 1);
    info.removeMetaData(QStringLiteral("uri"));
    QVERIFY(info.metaData().isEmpty());
}

void tst_RovaContent::mediaInfoFromContentShouldStartFromEmptyMap()
{
    RovaContent content(QStringLiteral("src::7"));
    QMap<QString, QVariant> map{{QStringLiteral("uri"), QStringLiteral("b")}};
    content.setMetaData(map, nullptr, nullptr);

    const RovaMediaInfo info(content);
    QCOMPARE(info.uuid(), QStringLiteral("src::7"));
    QCOMPARE(info.metaData().keys(), QStringList{QStringLiteral("uri")});
    QCOMPARE(info.metaData(QStringLiteral("uri")), Values{QStringLiteral("b")});
}

void tst_RovaContent::mediaInfoAssignedFromContentShouldMergeAndKeepOtherKeys()
{
    RovaMediaInfo info(QStringLiteral("old"));
    info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("a")});
    info.appendMetaData(QStringLiteral("duration"), {10});

    RovaContent content(QStringLiteral("src::7"));
    QMap<QString, QVariant> map{{QStringLiteral("uri"), QStringLiteral("b")}};
    content.setMetaData(map, nullptr, nullptr);

    info = content;
    QCOMPARE(info.uuid(), QStringLiteral("src::7"));
    QCOMPARE(info.metaData(QStringLiteral("uri")), Values{QStringLiteral("b")});
    QCOMPARE(info.metaData(QStringLiteral("duration")), Values{10});
}

void tst_RovaContent::mediaInfoSingleValueMergeShouldNotFlattenLists()
{
    RovaMediaInfo info(QStringLiteral("src::1"));
    const QVariantList list{1, 2, 3};
    info.extractSingleValueMetadata({{QStringLiteral("tracks"), list}});
    const Values stored = info.metaData(QStringLiteral("tracks"));
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().toList(), list);
}

void tst_RovaContent::mediaInfoSetMetaDataShouldReplaceOrMerge()
{
    RovaMediaInfo info(QStringLiteral("src::1"));
    info.appendMetaData(QStringLiteral("keep"), {1});

    info.setMetaData(QMap<QString, QVariant>{{QStringLiteral("uri"), QStringLiteral("x")}});
    QCOMPARE(info.metaData().keys(), (QStringList{QStringLiteral("keep"), QStringLiteral("uri")}));
    QCOMPARE(info.uuid(), QStringLiteral("src::1"));

    info.setMetaData(QMap<QString, Values>{{QStringLiteral("only"), {1, 2}}});
    QCOMPARE(info.metaData().keys(), QStringList{QStringLiteral("only")});
    QCOMPARE(info.metaData(QStringLiteral("only")), (Values{1, 2}));
}

void tst_RovaContent::mediaInfoCopiesShouldBeIndependent()
{
    RovaMediaInfo original(QStringLiteral("src::1"));
    original.appendMetaData(QStringLiteral("uri"), {QStringLiteral("a")});

    RovaMediaInfo copy(original);
    copy.appendMetaData(QStringLiteral("uri"), {QStringLiteral("changed")});
    copy.setUuid(QStringLiteral("other"));
    QCOMPARE(original.metaData(QStringLiteral("uri")), Values{QStringLiteral("a")});
    QCOMPARE(original.uuid(), QStringLiteral("src::1"));

    RovaMediaInfo assigned;
    assigned = original;
    assigned.removeMetaData(QStringLiteral("uri"));
    QCOMPARE(original.metaData(QStringLiteral("uri")), Values{QStringLiteral("a")});
}

void tst_RovaContent::mediaInfoValidityFollowsUuid()
{
    RovaMediaInfo info(QString{});
    QVERIFY(!info.isValid());
    info.setUuid(QStringLiteral("src::1"));
    QVERIFY(info.isValid());
    info.setUuid(QLatin1String(""));
    QVERIFY(!info.isValid());
}

void tst_RovaContent::playability_data()
{
    QTest::addColumn<bool>("hasUri");
    QTest::addColumn<Values>("uris");
    QTest::addColumn<bool>("playable");

    QTest::newRow("no uri key") << false << Values{} << false;
    QTest::newRow("empty list") << true << Values{} << false;
    QTest::newRow("empty string first") << true << Values{QString(), QStringLiteral("file:///b")} << false;
    QTest::newRow("file url string") << true << Values{QStringLiteral("file:///music/a.mp3")} << true;
    QTest::newRow("QUrl value") << true << Values{QUrl(QStringLiteral("http://example.invalid/s.ogg"))} << true;
    QTest::newRow("relative text") << true << Values{QStringLiteral("a.mp3")} << true;
    QTest::newRow("invalid variant first") << true << Values{QVariant(), QStringLiteral("file:///b")} << false;
}

void tst_RovaContent::playability()
{
    QFETCH(bool, hasUri);
    QFETCH(Values, uris);
    QFETCH(bool, playable);

    RovaMediaInfo info;  // no uuid: playability does not need one
    if (hasUri)
        info.appendMetaData(QStringLiteral("uri"), uris);
    QCOMPARE(info.isPlayable(), playable);
}

void tst_RovaContent::valueTypesShouldBeRegistered_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("RovaContent") << QByteArray("RovaContent");
    QTest::newRow("RovaMediaInfo") << QByteArray("RovaMediaInfo");
}

void tst_RovaContent::valueTypesShouldBeRegistered()
{
    QFETCH(QByteArray, name);
    const QMetaType type = QMetaType::fromName(name);
    QVERIFY(type.isValid());
    QCOMPARE(QByteArray(type.name()), name);

    // A media info survives a round trip through QVariant.
    RovaMediaInfo info(QStringLiteral("src::1"));
    info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("file:///a")});
    const QVariant v = QVariant::fromValue(info);
    QCOMPARE(v.value<RovaMediaInfo>().metaData(QStringLiteral("uri")), info.metaData(QStringLiteral("uri")));
}

QTEST_GUILESS_MAIN(tst_RovaContent)
#include "tst_rovacontent.moc"
