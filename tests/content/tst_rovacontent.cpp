// SPDX-License-Identifier: LGPL-2.1-or-later
// Items, media info and what the source base class does on its own.
#include "rovatestobjects.h"

#include <rovacontent.h>
#include <rovamediainfo.h>

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using Values = QList<QVariant>;

class tst_RovaContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void shouldReplaceMergeAndRemoveMetaData()
    {
        RovaContent content(u"src::7"_s);
        QVariantMap map{{u"title"_s, u"A"_s}};
        content.setMetaData(map, nullptr, nullptr);
        map = {{u"uri"_s, u"x"_s}, {u"tracks"_s, Values{1, 2}}};
        content.setMetaData(map, this, "1nothing()"); // replaces the whole map; nothing is called

        RovaMediaInfo info(u"old"_s);
        info.appendMetaData(u"uri"_s, {u"a"_s});
        info.appendMetaData(u"uri"_s, {u"b"_s, u"c"_s}); // replaces
        info.appendMetaData(u"empty"_s, {});
        info.appendMetaData(u"duration"_s, {10});
        QCOMPARE(info.firstMetaData(u"uri"_s), QVariant(u"b"_s));
        QVERIFY(!info.firstMetaData(u"empty"_s).isValid() && !info.firstMetaData(u"absent"_s).isValid());
        info.removeMetaData(u"empty"_s);
        // From an item: its single values become one-element lists, other keys stay.
        info = content;
        QCOMPARE(info.uuid(), u"src::7"_s);
        const QMap<QString, Values> merged{{u"duration"_s, {10}}, {u"tracks"_s, {QVariant(Values{1, 2})}}, {u"uri"_s, {u"x"_s}}};
        QCOMPARE(info.metaData(), merged);
        QCOMPARE(RovaMediaInfo(content).metaData().size(), 2);
        info.setMetaData(QVariantMap{{u"uri"_s, u"y"_s}}); // merges
        QCOMPARE(info.metaData().size(), 3);
        QCOMPARE(info.metaData(u"uri"_s), Values{u"y"_s});
        info.setMetaData(QMap<QString, Values>{{u"only"_s, {1, 2}}}); // replaces
        QCOMPARE(info.metaData().keys(), QStringList{u"only"_s});
        QVERIFY(info.isValid());
        info.setUuid(QString());
        QVERIFY(!info.isValid());
        // Value types that travel through queued signals.
        QVERIFY(QMetaType::fromName("RovaMediaInfo").isValid() && QMetaType::fromName("RovaContent").isValid());
    }

    void shouldBePlayableByFirstUri_data()
    {
        QTest::addColumn<Values>("uris");
        QTest::addColumn<bool>("playable");
        QTest::newRow("empty list") << Values{} << false;
        QTest::newRow("empty string first") << Values{QString(), u"file:///b"_s} << false;
        QTest::newRow("QUrl value") << Values{QUrl(u"http://example.invalid/s.ogg"_s)} << true;
        QTest::newRow("relative text") << Values{u"a.mp3"_s} << true;
    }

    void shouldBePlayableByFirstUri()
    {
        QFETCH(Values, uris);
        QFETCH(bool, playable);
        RovaMediaInfo info; // no uuid: playability does not need one
        info.appendMetaData(u"uri"_s, uris);
        QCOMPARE(info.isPlayable(), playable);
    }

    void sourceShouldReportEveryNameAndParseIds()
    {
        RovaTestSource source(u"u"_s);
        QStringList names; // a reference parameter is out of QSignalSpy's reach
        connect(&source, &RovaSource::nameChanged, this, [&names](QString& name) { names << name; });
        connect(&source, &RovaSource::rovaPropertyChanged, this, [&names] { names << u"property"_s; });
        source.setName(u"Music"_s);
        source.setName(u"Music"_s);
        source.setUuid(u"v"_s); // silently
        QCOMPARE(names, (QStringList{u"Music"_s, u"Music"_s}));
        // The source of an item id is what stands before its first "::".
        QCOMPARE(RovaSource::parseSourceId(u"tracker-uuid::urn:uuid:1::2"_s), u"tracker-uuid"_s);
        QCOMPARE(RovaSource::parseSourceId(u"::object"_s), QString());
        QCOMPARE(RovaSource::parseSourceId(u"plain"_s), u"plain"_s);
        QCOMPARE(RovaSource::parseSourceId(u"a:b"_s), u"a:b"_s);
    }
};

QTEST_GUILESS_MAIN(tst_RovaContent)
#include "tst_rovacontent.moc"
