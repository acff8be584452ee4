// SPDX-License-Identifier: LGPL-2.1-or-later
// Items, media info and what the source base class does on its own.
#include "rovatestobjects.h"

#include <rovacontent.h>
#include <rovamediainfo.h>

#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using Values = QList<QVariant>;

class tst_RovaContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void contentShouldReplaceWholeMap()
    {
        RovaContent item(QStringLiteral("src::1"));
        QVariantMap first{{QStringLiteral("title"), QStringLiteral("A")}, {QStringLiteral("uri"), QStringLiteral("a")}};
        item.setMetaData(first, nullptr, nullptr);
        QVariantMap second{{QStringLiteral("duration"), 10}};
        item.setMetaData(second, this, "1nothing()"); // nothing is called
        QCOMPARE(item.metaData(), second);
        QVERIFY(!item.metaData(QStringLiteral("title")).isValid());
        QCOMPARE(item.uuid(), QStringLiteral("src::1"));
    }

    void mediaInfoShouldReplaceMergeAndRemoveLists()
    {
        RovaMediaInfo info(QStringLiteral("old"));
        QVERIFY(info.isValid());
        QVERIFY(!info.firstMetaData(QStringLiteral("uri")).isValid());
        info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("a")});
        info.appendMetaData(QStringLiteral("uri"), {QStringLiteral("b"), QStringLiteral("c")}); // replaces
        info.appendMetaData(QStringLiteral("empty"), {});
        info.appendMetaData(QStringLiteral("duration"), {10});
        QCOMPARE(info.firstMetaData(QStringLiteral("uri")).toString(), QStringLiteral("b"));
        QVERIFY(!info.firstMetaData(QStringLiteral("empty")).isValid());
        info.removeMetaData(QStringLiteral("absent"));
        info.removeMetaData(QStringLiteral("empty"));
        QCOMPARE(info.metaData().keys(), (QStringList{QStringLiteral("duration"), QStringLiteral("uri")}));

        // From an item: its single values become one-element lists, other keys stay.
        RovaContent content(QStringLiteral("src::7"));
        QVariantMap map{{QStringLiteral("uri"), QStringLiteral("x")}, {QStringLiteral("tracks"), Values{1, 2}}};
        content.setMetaData(map, nullptr, nullptr);
        info = content;
        QCOMPARE(info.uuid(), QStringLiteral("src::7"));
        QCOMPARE(info.metaData(QStringLiteral("uri")), Values{QStringLiteral("x")});
        QCOMPARE(info.metaData(QStringLiteral("tracks")), Values{QVariant(Values{1, 2})});
        QCOMPARE(info.metaData(QStringLiteral("duration")), Values{10});
        QCOMPARE(RovaMediaInfo(content).metaData().size(), 2);

        info.setMetaData(QVariantMap{{QStringLiteral("uri"), QStringLiteral("y")}}); // merges
        QCOMPARE(info.metaData().size(), 3);
        info.setMetaData(QMap<QString, Values>{{QStringLiteral("only"), {1, 2}}}); // replaces
        QCOMPARE(info.metaData().keys(), QStringList{QStringLiteral("only")});
        info.setUuid(QString());
        QVERIFY(!info.isValid());
        // A value type that travels through QVariant and queued signals.
        QCOMPARE(QVariant::fromValue(info).value<RovaMediaInfo>().metaData(), info.metaData());
        QVERIFY(QMetaType::fromName("RovaMediaInfo").isValid() && QMetaType::fromName("RovaContent").isValid());
    }

    void playability_data()
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
    }

    void playability()
    {
        QFETCH(bool, hasUri);
        QFETCH(Values, uris);
        QFETCH(bool, playable);
        RovaMediaInfo info; // no uuid: playability does not need one
        if (hasUri)
            info.appendMetaData(QStringLiteral("uri"), uris);
        QCOMPARE(info.isPlayable(), playable);
    }

    void sourceShouldReportEveryNameAndChangeUuidSilently()
    {
        RovaTestSource source(QStringLiteral("u"));
        QStringList names; // a reference parameter is out of QSignalSpy's reach
        connect(&source, &RovaSource::nameChanged, this, [&names](QString& name) { names << name; });
        QSignalSpy props(&source, &RovaSource::rovaPropertyChanged);
        source.setName(QStringLiteral("Music"));
        source.setName(QStringLiteral("Music"));
        source.setUuid(QStringLiteral("v"));
        source.cancelBrowse(12345); // ignored by default
        QCOMPARE(names, (QStringList{QStringLiteral("Music"), QStringLiteral("Music")}));
        QCOMPARE(source.property("name").toString(), QStringLiteral("Music"));
        QCOMPARE(source.uuid(), QStringLiteral("v"));
        QCOMPARE(props.count(), 0);
    }

    void parseSourceId_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("source");
        QTest::newRow("item id") << "tracker-uuid::urn:uuid:1" << "tracker-uuid";
        QTest::newRow("several separators") << "a::b::c" << "a";
        QTest::newRow("leading separator") << "::object" << "";
        QTest::newRow("no separator") << "plain" << "plain";
        QTest::newRow("single colon") << "a:b" << "a:b";
    }

    void parseSourceId()
    {
        QFETCH(QString, id);
        QFETCH(QString, source);
        QCOMPARE(RovaSource::parseSourceId(id), source);
    }
};

QTEST_GUILESS_MAIN(tst_RovaContent)
#include "tst_rovacontent.moc"
