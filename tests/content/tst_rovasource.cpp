// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacontent.h>
#include <rovasource.h>

#include <QSignalSpy>
#include <QTest>

namespace {

class MinimalSource : public RovaSource
{
    Q_OBJECT
public:
    using RovaSource::RovaSource;
    uint browse(const QString&, uint, uint, QObject*, const char*, const char*) override { return 1; }
    uint query(const QString&, const QString&, QObject*, const char*, const char*) override { return 2; }
    bool getMetadata(const QString&, const QStringList&, QObject*, const char*, const char*) override { return true; }
    bool destroyObject(const QString&, QObject*, const char*, const char*) override { return true; }
};

} // namespace

class tst_RovaSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldKeepIdentityFromConstruction();
    void shouldEmitNameChangedEvenWhenUnchanged();
    void shouldChangeUuidSilently();
    void shouldIgnoreCancelsByDefault();
    void shouldDeclareSignalsInOrder();
    void parseSourceId_data();
    void parseSourceId();
};

void tst_RovaSource::shouldKeepIdentityFromConstruction()
{
    QObject parent;
    auto* source = new MinimalSource(&parent, QStringLiteral("src-uuid"), QStringLiteral("plugin"));
    QCOMPARE(source->parent(), &parent);
    QCOMPARE(source->uuid(), QStringLiteral("src-uuid"));
    QCOMPARE(source->pluginName(), QStringLiteral("plugin"));
    QVERIFY(source->name().isEmpty());
    QCOMPARE(source->property("name").toString(), QString());
}

void tst_RovaSource::shouldEmitNameChangedEvenWhenUnchanged()
{
    MinimalSource source(nullptr, QStringLiteral("u"), QStringLiteral("p"));
    // A reference parameter is out of QSignalSpy's reach: record by hand.
    QStringList names;
    connect(&source, &RovaSource::nameChanged, this, [&names](QString& name) { names << name; });
    source.setName(QStringLiteral("Music"));
    source.setName(QStringLiteral("Music"));
    QCOMPARE(names, (QStringList{QStringLiteral("Music"), QStringLiteral("Music")}));
    QCOMPARE(source.name(), QStringLiteral("Music"));
    QCOMPARE(source.property("name").toString(), QStringLiteral("Music"));
}

void tst_RovaSource::shouldChangeUuidSilently()
{
    MinimalSource source(nullptr, QStringLiteral("u"), QStringLiteral("p"));
    int names = 0;
    connect(&source, &RovaSource::nameChanged, this, [&names](QString&) { ++names; });
    QSignalSpy props(&source, &RovaSource::rovaPropertyChanged);
    source.setUuid(QStringLiteral("v"));
    QCOMPARE(source.uuid(), QStringLiteral("v"));
    QCOMPARE(names + props.count(), 0);
}

void tst_RovaSource::shouldIgnoreCancelsByDefault()
{
    MinimalSource source(nullptr, QStringLiteral("u"), QStringLiteral("p"));
    QSignalSpy completed(&source, &RovaSource::browseCompleted);
    source.cancelBrowse(source.browse(QStringLiteral("u::root"), 0, 0, nullptr, nullptr, nullptr));
    source.cancelQuery(source.query(QString(), QString(), nullptr, nullptr, nullptr));
    source.cancelBrowse(12345);
    QCOMPARE(completed.count(), 0);
}

void tst_RovaSource::shouldDeclareSignalsInOrder()
{
    const QMetaObject& mo = RovaSource::staticMetaObject;
    QStringList signatures;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        signatures << QString::fromLatin1(mo.method(i).methodSignature());
    QCOMPARE(signatures, (QStringList{
                             QStringLiteral("containerChanged(RovaContent)"),
                             QStringLiteral("metadataChanged(RovaContent)"),
                             QStringLiteral("nameChanged(QString&)"),
                             QStringLiteral("browseCompleted()"),
                             QStringLiteral("rovaPropertyChanged(QString,QVariant)"),
                         }));
}

void tst_RovaSource::parseSourceId_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("source");

    QTest::newRow("item id") << "tracker-uuid::urn:uuid:1" << "tracker-uuid";
    QTest::newRow("several separators") << "a::b::c" << "a";
    QTest::newRow("leading separator") << "::object" << "";
    QTest::newRow("no separator") << "plain" << "plain";
    QTest::newRow("single colon") << "a:b" << "a:b";
    QTest::newRow("empty") << "" << "";
}

void tst_RovaSource::parseSourceId()
{
    QFETCH(QString, id);
    QFETCH(QString, source);
    QCOMPARE(RovaSource::parseSourceId(id), source);
}

QTEST_GUILESS_MAIN(tst_RovaSource)
#include "tst_rovasource.moc"
