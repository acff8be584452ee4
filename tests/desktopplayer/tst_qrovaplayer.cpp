// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-player's window, brought to known states on a folder of tones and
// checked through its objects; each state is saved as a PNG beside the test.
#include "playertest.h"
#include "rovadesktopplayer.h"

#include <QDBusInterface>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

class tst_QrovaPlayer : public QObject, PlayerFolder
{
    Q_OBJECT

    QProcess bus; // a private session bus, for the desktop's media controls
    QQmlApplicationEngine engine;
    std::unique_ptr<RovaDesktopPlayer> app;
    QQuickWindow* window = nullptr;

    // Objects of the window by name, delegates (which have no QObject parent) too.
    QObject* object(const QString& name) const { return find(window->contentItem(), name); }
    static QObject* find(QQuickItem* item, const QString& name)
    {
        if (item->objectName() == name)
            return item;
        if (QObject* child = item->findChild<QObject*>(name))
            return child;
        const QList<QQuickItem*> children = item->childItems();
        for (QQuickItem* child : children) {
            if (QObject* found = find(child, name))
                return found;
        }
        return nullptr;
    }
    QVariant value(const QString& name, const char* property) const { return object(name)->property(property); }
    QString message() const { return value(u"message"_s, "visible").toBool() ? value(u"message"_s, "text").toString() : QString(); }
    void save(const QString& name) const { QVERIFY(window->grabWindow().save(QStringLiteral(QROVA_SCREENSHOTS) + u'/' + name)); }
    // Plays row \a row of the list with the keyboard, as a user would.
    void playRow(int row)
    {
        QObject* list = object(u"songs"_s);
        list->setProperty("currentIndex", row);
        qobject_cast<QQuickItem*>(list)->forceActiveFocus();
        QTest::keyClick(window, Qt::Key_Return);
    }
    void search(const QString& text)
    {
        object(u"search"_s)->setProperty("text", text);
        QTRY_VERIFY(!value(u"library"_s, "busy").toBool());
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList artists{u"Cee"_s, u"Bee"_s, u"Ay"_s};
        for (int i = 1; i <= 3; ++i)
            QVERIFY(encode(u"music/t%1.flac"_s.arg(i), u"flacenc"_s, u"title=Tone-%1,artist=%2,album=Tones,track-number=(uint)%1"_s.arg(i).arg(artists.at(i - 1)), 8 * (i + 3)));
        QVERIFY(encode(u"music/gone.flac"_s, u"flacenc"_s, u"title=Zed,artist=Zed,album=Lost"_s));
        qputenv("QSPARQL_TRACKER_DATABASE", QFile::encodeName(path(u"store"_s)));
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(bus.waitForReadyRead(30000));
        QVERIFY(qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed()));
        RovaDesktopPlayer::nameApplication();
        app = std::make_unique<RovaDesktopPlayer>(&engine);
        window = app->start({{path(u"music"_s), path(u"nothing-here"_s)}, u"fakesink sync=true"_s, false});
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(QFile::remove(path(u"music/gone.flac"_s))); // indexed, then gone: a song that cannot play
    }

    void cleanupTestCase()
    {
        app.reset();
        bus.close();
    }

    // What went wrong before the window opened is shown in it.
    void shouldShowTheStartupError()
    {
        QTRY_COMPARE(value(u"library"_s, "count").toInt(), 4);
        QCOMPARE(message(), u"skipped %1: no such file or directory"_s.arg(path(u"nothing-here"_s)));
        save(u"startup-error.png"_s);
    }

    // Enter plays the row under the cursor, which is highlighted; the bar shows the song.
    void shouldPlayTheSecondOfThree()
    {
        search(u"tone"_s);
        QTRY_COMPARE(value(u"shown"_s, "count").toInt(), 3);
        playRow(1);
        QTRY_COMPARE(value(u"player"_s, "playbackState").toInt(), 1);
        QCOMPARE(value(u"player"_s, "metaData").toMap().value(u"title"_s).toString(), u"Tone-2"_s);
        QCOMPARE(value(u"nowTitle"_s, "text").toString(), u"Tone-2"_s);
        QTRY_VERIFY(object(u"row-1"_s) && value(u"row-1"_s, "playing").toBool());
        QVERIFY(!value(u"row-0"_s, "playing").toBool());
        QCOMPARE(message(), QString()); // gone once something plays
        QTRY_VERIFY(value(u"player"_s, "position").toLongLong() >= 1000);
        // The desktop's media controls name the desktop entry and show the song.
        QDBusInterface root(u"org.mpris.MediaPlayer2.qrova"_s, u"/org/mpris/MediaPlayer2"_s, u"org.mpris.MediaPlayer2"_s);
        QDBusInterface controls(u"org.mpris.MediaPlayer2.qrova"_s, u"/org/mpris/MediaPlayer2"_s, u"org.mpris.MediaPlayer2.Player"_s);
        QTRY_COMPARE(root.property("DesktopEntry").toString(), u"qrova-player"_s);
        QTRY_COMPARE(controls.property("PlaybackStatus").toString(), u"Playing"_s);
        save(u"playing.png"_s);
        // Keys: Space pauses and resumes, Ctrl+Right goes on.
        QTest::keyClick(window, Qt::Key_Space);
        QTRY_COMPARE(value(u"player"_s, "playbackState").toInt(), 2);
        QTest::keyClick(window, Qt::Key_Space);
        QTRY_COMPARE(value(u"player"_s, "playbackState").toInt(), 1);
        QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
        QTRY_COMPARE(value(u"player"_s, "metaData").toMap().value(u"title"_s).toString(), u"Tone-1"_s); // by artist: Ay, Bee, Cee
    }

    // A search narrows the list and leaves what plays alone; a header sorts it.
    void shouldSearchAndSort()
    {
        search(u"bee"_s);
        QTRY_COMPARE(value(u"shown"_s, "count").toInt(), 1);
        QCOMPARE(value(u"queue"_s, "count").toInt(), 3);
        QCOMPARE(value(u"player"_s, "metaData").toMap().value(u"title"_s).toString(), u"Tone-1"_s);
        save(u"search.png"_s);
        search(QString());
        QTRY_COMPARE(value(u"shown"_s, "count").toInt(), 4);
        QMetaObject::invokeMethod(object(u"sort-duration"_s), "clicked");
        QMetaObject::invokeMethod(object(u"sort-duration"_s), "clicked");
        QCOMPARE(value(u"shown"_s, "sortOrder").toInt(), int(Qt::DescendingOrder));
        QCOMPARE(value(u"shown"_s, "sortRole").toString(), u"duration"_s);
    }

    // qrova-player itself, without what it needs: it says why and stays up.
    void shouldStayUpWithout_data()
    {
        QTest::addColumn<QString>("plugins");
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("said");
        const QString plugins = QStringLiteral(QROVA_PLUGINS);
        QTest::newRow("plugins") << path(u"no-plugins"_s) << path(u"empty-store"_s) << u"no renderer plugin in "_s + path(u"no-plugins"_s);
        QTest::newRow("a store") << plugins << u"/proc/no-store"_s << u"cannot open the store /proc/no-store"_s;
        QTest::newRow("songs") << plugins << path(u"empty-store"_s) << QString();
    }
    void shouldStayUpWithout()
    {
        QFETCH(QString, plugins);
        QFETCH(QString, store);
        QFETCH(QString, said);
        QVERIFY(QDir().mkpath(path(u"no-plugins"_s)));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QROVA_PLUGIN_DIR"_s, plugins);
        env.insert(u"QSPARQL_TRACKER_DATABASE"_s, store);
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        QProcess player;
        player.setProcessEnvironment(env);
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start(QStringLiteral(QROVA_PLAYER), {u"--audio-sink"_s, u"fakesink"_s});
        QVERIFY(player.waitForStarted());
        QString output;
        const bool saidIt = QTest::qWaitFor([&] {
            output += QString::fromUtf8(player.readAll());
            return player.state() != QProcess::Running || (!said.isEmpty() && output.contains(said));
        }, said.isEmpty() ? 3000 : 30000); // the quiet case: up for three seconds at least
        QVERIFY2(player.state() == QProcess::Running, qPrintable(output));
        QVERIFY2(saidIt == !said.isEmpty(), qPrintable(output));
        player.terminate(); // our own child
        QVERIFY(player.waitForFinished(10000));
    }

    // A song whose file is gone: its path in the window, and the song skipped.
    void shouldShowAndSkipABadSong()
    {
        QMetaObject::invokeMethod(object(u"sort-title"_s), "clicked"); // Tone-1, Tone-2, Tone-3, Zed
        playRow(3);
        QTRY_VERIFY2(message().contains(path(u"music/gone.flac"_s)), qPrintable(message()));
        save(u"bad-song.png"_s);
        QTRY_COMPARE(value(u"player"_s, "playbackState").toInt(), 0); // the last one: nothing after it
    }
};

QTEST_MAIN(tst_QrovaPlayer)

#include "tst_qrovaplayer.moc"
