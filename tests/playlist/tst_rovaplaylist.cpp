// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovacontent.h>
#include <rovaplaylist.h>

#include <QMetaMethod>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>
#include <QTest>

#include <unistd.h>

namespace {

// The least a playlist must implement; everything else is the interface's default.
class MinimalPlaylist : public RovaPlaylist
{
    Q_OBJECT
public:
    using RovaPlaylist::RovaPlaylist;
    QAbstractItemModel* model() override { return nullptr; }
    void sort(int, RovaSortOrder) override {}
    void sort(QString, RovaSortOrder) override {}
    QStringList getColumnNames() override { return {}; }
    void shuffle() override {}
    void unShuffle() override {}
    bool removeItem(int) override { return false; }
    bool removeItems(int, int) override { return false; }
    bool moveItem(int, int) override { return false; }
    void clear() override {}
    RovaContent* getItem(int) override { return nullptr; }
    int size() override { return 0; }
    int getCurrentIndex() override { return -1; }
    int getNext(int) override { return -1; }
    int getPrevious(int) override { return -1; }
    void setRepeat(RovaRepeatMode) override {}
    RovaRepeatMode repeatMode() override { return RepeatNone; }
    RovaSortOrder getSortOrder() override { return SortNone; }
    bool isShuffled() override { return false; }
    bool import(QFile&) override { return false; }
};

} // namespace

class tst_RovaPlaylist : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldFixEnumerationValues();
    void shouldDeclareSignalsInOrderAndNoSlots();
    void shouldProvideDefaults();

    void uuidToPlaylistId_data();
    void uuidToPlaylistId();
    void playlistIdToUuid_data();
    void playlistIdToUuid();
    void shouldRoundTripRandomUuids();
    void newIdsShouldBeWellFormedAndUnique();
};

void tst_RovaPlaylist::shouldFixEnumerationValues()
{
    QCOMPARE(int(RovaPlaylist::SortAscending), 0);
    QCOMPARE(int(RovaPlaylist::SortDescending), 1);
    QCOMPARE(int(RovaPlaylist::SortNone), 2);
    QCOMPARE(int(RovaPlaylist::SortShuffled), 3);
    QCOMPARE(int(RovaPlaylist::SortNumericAscending), 4);
    QCOMPARE(int(RovaPlaylist::SortNumericDescending), 5);
    QCOMPARE(int(RovaPlaylist::RepeatNone), 0);
    QCOMPARE(int(RovaPlaylist::RepeatOne), 1);
    QCOMPARE(int(RovaPlaylist::RepeatAll), 2);
    QCOMPARE(int(RovaPlaylist::CurrentRemoved), 0);
    QCOMPARE(int(RovaPlaylist::CurrentMoved), 1);
    QCOMPARE(int(RovaPlaylist::NextChanged), 2);
    QCOMPARE(int(RovaPlaylist::NewContent), 3);
}

void tst_RovaPlaylist::shouldDeclareSignalsInOrderAndNoSlots()
{
    // The order of the meta-object's methods is part of the interface.
    const QMetaObject& mo = RovaPlaylist::staticMetaObject;
    QStringList methods;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        methods << QString::number(int(m.methodType())) + QLatin1Char(' ') + QString::fromLatin1(m.methodSignature());
    }
    const QString signal = QString::number(int(QMetaMethod::Signal)) + QLatin1Char(' ');
    QCOMPARE(methods, (QStringList{
                          signal + QStringLiteral("contentsChanged(uint,uint,uint)"),
                          signal + QStringLiteral("playlistUpdated(RovaPlaylist::RovaPlaylistUpdate,int)"),
                          signal + QStringLiteral("itemMoved()"),
                          signal + QStringLiteral("repeatModeChanged()"),
                      }));
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
    QVERIFY(QMetaType::fromName("RovaPlaylist::RovaPlaylistUpdate").isValid());
}

void tst_RovaPlaylist::shouldProvideDefaults()
{
    MinimalPlaylist playlist(QStringLiteral("rova0123"), QStringLiteral("Favourites"));
    QCOMPARE(playlist.id(), QStringLiteral("rova0123"));
    QCOMPARE(playlist.name(), QStringLiteral("Favourites"));
    QVERIFY(playlist.parent() == nullptr);
    QVERIFY(!playlist.persistent());
    playlist.setPersistent(true);
    QVERIFY(playlist.persistent());
    QVERIFY(!playlist.getItemMediaInfo(0).isValid());
    QVERIFY(!playlist.getItemMediaInfo(-1).isValid());
    QVERIFY(playlist.getItemMediaInfo(0).metaData().isEmpty());
}

void tst_RovaPlaylist::uuidToPlaylistId_data()
{
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("id");

    QTest::newRow("braced uuid") << "{0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b}" << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b";
    QTest::newRow("plain uuid") << "0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b" << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b";
    QTest::newRow("already an id, hyphens kept") << "rova-1-2" << "rova-1-2";
    QTest::newRow("upper-case prefix is not the prefix") << "ROVA-1" << "rovaROVA1";
    QTest::newRow("empty") << "" << "rova";
    QTest::newRow("only separators") << "{--}" << "rova";
}

void tst_RovaPlaylist::uuidToPlaylistId()
{
    QFETCH(QString, uuid);
    QFETCH(QString, id);
    QCOMPARE(RovaPlaylist::convertUuidtoPlaylistId(uuid), id);
}

void tst_RovaPlaylist::playlistIdToUuid_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("uuid");

    QTest::newRow("36 characters") << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b" << "0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b";
    QTest::newRow("trailing counter and pid") << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b04242" << "0b3f9f2e-1c4d-4e5f-8a6b-7c8d9e0f1a2b04242";
    QTest::newRow("35 characters") << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2" << "rova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2";
    QTest::newRow("no prefix") << "xova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b" << "xova0b3f9f2e1c4d4e5f8a6b7c8d9e0f1a2b";
    QTest::newRow("prefix only") << "rova" << "rova";
    QTest::newRow("empty") << "" << "";
}

void tst_RovaPlaylist::playlistIdToUuid()
{
    QFETCH(QString, id);
    QFETCH(QString, uuid);
    QCOMPARE(RovaPlaylist::convertPlaylistIdtoUuid(id), uuid);
}

void tst_RovaPlaylist::shouldRoundTripRandomUuids()
{
    for (int i = 0; i < 50; ++i) {
        const QString braced = QUuid::createUuid().toString();
        const QString id = RovaPlaylist::convertUuidtoPlaylistId(braced);
        QCOMPARE(id.length(), 36);
        QCOMPARE(RovaPlaylist::convertPlaylistIdtoUuid(id), braced.mid(1, 36));
    }
}

void tst_RovaPlaylist::newIdsShouldBeWellFormedAndUnique()
{
    const QString pid = QString::number(::getpid());
    const QRegularExpression form(QStringLiteral("^rova[0-9a-f]{32}([0-9]+)$"));
    QSet<QString> seen;
    int previousCounter = -1;
    for (int i = 0; i < 1000; ++i) {
        const QString id = RovaPlaylist::getNewPlaylistId();
        const auto match = form.match(id);
        QVERIFY2(match.hasMatch(), qPrintable(id));
        const QString tail = match.captured(1);
        QVERIFY(tail.endsWith(pid));
        const int counter = tail.left(tail.size() - pid.size()).toInt();
        QCOMPARE(counter, previousCounter + 1); // the first id of a process carries 0
        previousCounter = counter;
        QVERIFY(!seen.contains(id));
        seen.insert(id);
    }
}

QTEST_GUILESS_MAIN(tst_RovaPlaylist)
#include "tst_rovaplaylist.moc"
