// SPDX-License-Identifier: LGPL-2.1-or-later
// Persistent playlists kept from one run to the next: every order and kind of playlist
// back as it was, damaged files kept aside, and no kept playlist ever dropped.
#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovainternalregistry.h>
#include <rovapersistentplaylists.h>

#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_RovaPersistentPlaylists : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
    const QByteArray whole = R"({"version": 1, "playlists": [{"id": "rova1", "name": "n", "columns": ["Id"], "rows": [["1"], ["2"]],)"
                             R"( "repeat": 0, "sort": 3, "sortColumn": 0, "shuffled": [1, 0], "current": -1}]})";

    QString file(const QString& name) const { return dir.filePath(name); }
    static bool write(const QString& name, const QByteArray& content) { QFile file(name); return file.open(QIODevice::WriteOnly) && file.write(content) == content.size(); }
    static QByteArray contents(const QString& name) { QFile file(name); return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)"); }
    // A playlist as its users see it: "class id name source|columns|rows as presented|repeat order current persistent".
    static QString describe(RovaPlaylist* playlist)
    {
        const auto* general = qobject_cast<RovaGeneralSourcePlaylist*>(playlist);
        QString rows;
        for (int row = 0; playlist && row < playlist->size(); ++row) {
            for (int column = 0; column < playlist->model()->columnCount(); ++column)
                rows += playlist->model()->index(row, column).data().toString() + (column ? u","_s : u"."_s);
        }
        return !playlist ? u"(none)"_s : u"%1 %2 %3 %4|%5|%6|"_s.arg(QString::fromLatin1(playlist->metaObject()->className()), playlist->id(), playlist->name(), general ? general->sourceUuid() : u"-"_s, playlist->getColumnNames().join(u','), rows)
                + u"%1 %2 %3 %4"_s.arg(playlist->repeatMode()).arg(playlist->getSortOrder()).arg(playlist->getCurrentIndex()).arg(playlist->persistent());
    }

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    // Saved, gone with the run, restored: the same playlist in the same order, and only the persistent ones.
    void shouldRestoreWhatItSaved_data()
    {
        QTest::addColumn<QString>("source"); // none: a plain RovaPlaylistBase
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("repeat");
        QTest::addColumn<int>("current");
        QTest::newRow("natural order") << u"RovaTrackerSource"_s << 5 << int(RovaPlaylist::SortNone) << int(RovaPlaylist::RepeatAll) << 3;
        QTest::newRow("by title, descending") << u"RovaTrackerSource"_s << 5 << int(RovaPlaylist::SortDescending) << int(RovaPlaylist::RepeatNone) << 1;
        QTest::newRow("by number") << u"src::x"_s << 12 << int(RovaPlaylist::SortNumericAscending) << int(RovaPlaylist::RepeatOne) << 11;
        QTest::newRow("shuffled") << u"RovaTrackerSource"_s << 30 << int(RovaPlaylist::SortShuffled) << int(RovaPlaylist::RepeatAll) << 7;
        QTest::newRow("no current item") << u""_s << 4 << int(RovaPlaylist::SortAscending) << int(RovaPlaylist::RepeatOne) << -1;
        QTest::newRow("empty") << u"RovaTrackerSource"_s << 0 << int(RovaPlaylist::SortNone) << int(RovaPlaylist::RepeatNone) << -1;
    }

    void shouldRestoreWhatItSaved()
    {
        QFETCH(QString, source);
        QFETCH(int, count);
        QFETCH(int, order);
        QFETCH(int, repeat);
        QFETCH(int, current);
        QStandardItemModel model;
        model.setHorizontalHeaderLabels({u"Id"_s, u"Tïtle #%?"_s, u"Number"_s});
        for (int i = 0; i < count; ++i)
            model.appendRow({new QStandardItem(QString::number(i)), new QStandardItem(u"Ünïcode \"%1\"\n#%?"_s.arg(i * 7 % 5)), new QStandardItem(QString::number(i * 3 % 7))});
        RovaPlaylistBase* playlist = source.isEmpty() ? new RovaPlaylistBase(u"rova-kept"_s, u"Kept ♫"_s)
                                                      : new RovaGeneralSourcePlaylist(u"rova-kept"_s, u"Kept ♫"_s, source);
        playlist->setUnderlyingModel(&model);
        playlist->setRepeat(RovaPlaylist::RovaRepeatMode(repeat));
        if (current >= 0)
            delete playlist->getItem(current);
        order == RovaPlaylist::SortShuffled ? playlist->shuffle() : playlist->sort(order >= RovaPlaylist::SortNumericAscending ? 2 : 1, RovaPlaylist::RovaSortOrder(order));
        playlist->setPersistent(true);
        auto* transient = new RovaGeneralSourcePlaylist(u"rova-transient"_s, u"not kept"_s, source);
        transient->setUnderlyingModel(&model);
        QVERIFY(registry->addPlaylist(transient) && registry->addPlaylist(playlist));
        const QString before = describe(playlist);
        const QString name = file(QString::fromLatin1(QTest::currentDataTag()) + u".json"_s);
        QVERIFY(RovaPersistentPlaylists(name).save());
        registry->removePlaylist(u"rova-kept"_s);
        registry->removePlaylist(u"rova-transient"_s);
        RovaPersistentPlaylists next(name);
        QCOMPARE(next.restore(), 1);
        QCOMPARE(describe(registry->playlist(u"rova-kept"_s)), before);
        QCOMPARE(registry->playlists().size(), 1);
        QCOMPARE(next.restore(), 0); // once
        registry->removePlaylist(u"rova-kept"_s);
    }

    // A file that cannot be read is kept beside, under a name of its own, with one warning; nothing is restored.
    void shouldKeepAFileItCannotRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("restored");
        QTest::newRow("whole") << whole << 1;
        QTest::newRow("truncated") << whole.left(60) << -1;
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("another version") << QByteArray(whole).replace(R"("version": 1)", R"("version": 2)") << -1;
        QTest::newRow("order not of its rows") << QByteArray(whole).replace("[1, 0]", "[1, 1]") << -1;
        QTest::newRow("shuffled without an order") << QByteArray(whole).replace("[1, 0]", "[]") << -1;
        QTest::newRow("a playlist without id") << QByteArray(whole).replace(R"("id": "rova1", )", "") << -1;
        QTest::newRow("current item out of range") << QByteArray(whole).replace(R"("current": -1)", R"("current": 2)") << -1;
    }

    void shouldKeepAFileItCannotRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, restored);
        const QString name = file(QString::fromLatin1(QTest::currentDataTag()) + u".json"_s);
        QVERIFY(write(name, content) && write(name + u".damaged"_s, "an earlier one"));
        RovaPersistentPlaylists kept(name);
        if (restored < 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^RovaPersistentPlaylists: cannot read \"%1\" \\(.+\\); it is kept as \"%1.damaged.1\"$"_s.arg(QRegularExpression::escape(name))));
        QCOMPARE(kept.restore(), restored);
        QVERIFY(kept.save());
        QCOMPARE(contents(name + u".damaged"_s), "an earlier one");
        QCOMPARE(contents(name + u".damaged.1"_s), restored > 0 ? QByteArray("(none)") : content);
        registry->removePlaylist(u"rova1"_s);
    }

    // Playlists of the file that are not registered (their id taken, or restore() never called) are written back.
    void shouldNeverDropAKeptPlaylist()
    {
        const QString name = file(u"taken.json"_s);
        QVERIFY(write(name, whole));
        auto* own = new RovaGeneralSourcePlaylist(u"rova1"_s, u"the application's own"_s, u"s"_s);
        QVERIFY(registry->addPlaylist(own));
        RovaPersistentPlaylists kept(name);
        QTest::ignoreMessage(QtWarningMsg, "Tried to add playlist with existing id or name");
        QCOMPARE(kept.restore(), 0);
        QCOMPARE(registry->playlist(u"rova1"_s), own);
        QVERIFY(kept.save());
        registry->removePlaylist(u"rova1"_s);
        QVERIFY(RovaPersistentPlaylists(name).save()); // before any restore()
        RovaPersistentPlaylists next(name);
        QCOMPARE(next.restore(), 1);
        QCOMPARE(describe(registry->playlist(u"rova1"_s)), u"RovaPlaylistBase rova1 n -|Id|2.1.|0 3 -1 1"_s);
        registry->removePlaylist(u"rova1"_s);
    }
};

QTEST_GUILESS_MAIN(tst_RovaPersistentPlaylists)
#include "tst_rovapersistentplaylists.moc"
