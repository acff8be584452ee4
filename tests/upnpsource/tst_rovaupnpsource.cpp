// SPDX-License-Identifier: LGPL-2.1-or-later
// The UPnP source against a real minidlna and a real Rygel on lo, each a child process with its own configuration,
// port and folder of generated songs; and against a hostile server of the test's own.
#include "rovaupnpsource.h"

#include <rovabasicrenderer.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovainternalregistry.h>
#include <rovaplaylistbase.h>

#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// The songs on both servers: format, title, encoder.
struct Song { const char* format; const char* title; const char* encoder; };
const Song songs[] = {
    {"flac", "Alpha_Flac", "flacenc"}, {"flac", "Beta_Flac", "flacenc"},
    {"mp3", "Gamma_Mp3", "lamemp3enc ! id3v2mux"}, {"mp3", "Delta_Mp3", "lamemp3enc ! id3v2mux"},
    {"ogg", "Epsilon_Ogg", "vorbisenc ! oggmux"}, {"ogg", "Zeta_Ogg", "vorbisenc ! oggmux"},
};

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// Items whose media info is the content a source gave: they carry their own location.
struct ItemPlaylist : RovaPlaylistBase
{
    explicit ItemPlaylist(const QList<RovaContent>& items) : RovaPlaylistBase(RovaPlaylist::getNewPlaylistId(), u"items"_s), items(items)
    {
        model.setStringList(QStringList(items.size(), QString()));
        setUnderlyingModel(&model);
    }
    RovaMediaInfo getItemMediaInfo(int index) override { return index >= 0 && index < items.size() ? RovaMediaInfo(items.at(index)) : RovaMediaInfo(); }
    QList<RovaContent> items;
    QStringListModel model;
};

// A media server of the test's own that answers as its mode says.
struct HostileServer : QTcpServer
{
    QString mode;
    QString udn = u"uuid:0bad0bad-0000-4000-8000-000000000001"_s;
    QList<QTcpSocket*> held;

    QByteArray didl() const
    {
        const auto item = [](int i, const QString& title) {
            return u"<item id=\"h%1::&lt;x&gt;\" parentID=\"0\" restricted=\"1\"><dc:title>%2</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                   "<res protocolInfo=\"http-get:*:audio/flac:*\">http://127.0.0.1:9/%1.flac</res></item>"_s.arg(i).arg(title).toUtf8();
        };
        const QByteArray head = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                                "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
        if (mode == "malformed"_L1) return head + "<item id=\"x\"><dc:title>broken</upnp:class></item>";
        if (mode == "truncated"_L1) return head.left(head.size() - 20);
        if (mode == "empty"_L1) return "<DIDL-Lite/>";
        if (mode == "entities"_L1)
            return "<!DOCTYPE DIDL-Lite [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                   "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                   "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">]>"
                   + head + item(1, u"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;"_s) + item(2, u"&amp;fine&lt;"_s) + "</DIDL-Lite>";
        QByteArray body = head;
        if (mode == "huge"_L1)
            for (int i = 0; i < 10000; ++i) body += item(i, u"Song %1"_s.arg(i));
        else if (mode == "long titles"_L1)
            body += item(1, QString(1 << 20, u'x')) + item(2, u"short"_s);
        else
            body += item(1, u"one"_s) + item(2, u"two"_s);
        return body + "</DIDL-Lite>";
    }

    void answer(QTcpSocket* socket, const QByteArray& request)
    {
        QByteArray body;
        if (request.startsWith("GET")) {
            body = "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major><minor>0</minor></specVersion>"
                   "<device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType><friendlyName>Hostile</friendlyName>"
                   "<UDN>" + udn.toUtf8() + "</UDN><serviceList><service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
                   "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId><SCPDURL>/scpd.xml</SCPDURL><controlURL>/control</controlURL>"
                   "<eventSubURL>/event</eventSubURL></service></serviceList></device></root>";
        } else {
            const QByteArray result = QString::fromUtf8(didl()).toHtmlEscaped().toUtf8();
            // The counts the server claims: right, none, or more than it gives.
            const QByteArray returned = mode == "empty"_L1 ? "0" : mode == "miscounted"_L1 ? "5" : mode == "huge"_L1 ? "10000" : "2";
            const QByteArray total = mode == "miscounted"_L1 ? "1000000" : returned;
            body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                   "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" + result + "</Result>"
                   "<NumberReturned>" + returned + "</NumberReturned><TotalMatches>" + total + "</TotalMatches>"
                   + "<UpdateID>1</UpdateID></u:BrowseResponse></s:Body></s:Envelope>";
        }
        const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " + QByteArray::number(body.size())
                                 + "\r\nConnection: close\r\n\r\n" + body;
        if (mode == "slow"_L1 && !request.startsWith("GET")) {
            held << socket; // never answered: the source's time runs out
            return;
        }
        socket->write(reply);
        socket->disconnectFromHost();
    }

    HostileServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QRegularExpressionMatch length = QRegularExpression(u"(?i)content-length:\\s*(\\d+)"_s).match(QString::fromLatin1(buffer->left(end)));
                    if (buffer->size() < end + 4 + (length.hasMatch() ? length.captured(1).toInt() : 0))
                        return;
                    answer(socket, *buffer);
                    buffer->clear();
                });
            }
        });
    }

    // Tells the control points on lo that the server is there.
    void announce()
    {
        QUdpSocket udp;
        udp.bind(QHostAddress::AnyIPv4, 0);
        udp.setMulticastInterface(QNetworkInterface::interfaceFromName(u"lo"_s));
        const QByteArray notify = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: http://127.0.0.1:"
                                  + QByteArray::number(serverPort()) + "/desc.xml\r\nNT: urn:schemas-upnp-org:device:MediaServer:1\r\nNTS: ssdp:alive\r\n"
                                  "SERVER: Linux/1.0 UPnP/1.0 test/1.0\r\nUSN: " + udn.toUtf8() + "::urn:schemas-upnp-org:device:MediaServer:1\r\n\r\n";
        udp.writeDatagram(notify, QHostAddress(u"239.255.255.250"_s), 1900);
    }
};

} // namespace

class tst_RovaUpnpSource : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_minidlna, m_rygel;
    std::unique_ptr<RovaUpnpSourceManager> m_manager;
    QList<QList<RovaContent>> m_answers;
    QList<RovaError> m_errors;

    QString path(const QString& name) const { return m_dir.filePath(name); }
    // Names and ids of this process's own: test runs side by side must not see each other's servers.
    static QString mini() { return u"Test MiniDLNA %1"_s.arg(QCoreApplication::applicationPid()); }
    static QString rygel() { return u"Test Rygel %1"_s.arg(QCoreApplication::applicationPid()); }
    bool write(const QString& name, const QString& text) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0;
    }

    void startMinidlna()
    {
        m_minidlna.start(u"/usr/sbin/minidlnad"_s, {u"-S"_s, u"-f"_s, path(u"minidlna.conf"_s), u"-P"_s, path(u"minidlna.pid"_s)});
        QVERIFY(m_minidlna.waitForStarted());
    }

    RovaUpnpSource* source(const QString& name) const
    {
        for (RovaSource* source : RovaInternalRegistry::internalInstance()->sources())
            if (source->name() == name)
                return qobject_cast<RovaUpnpSource*>(source);
        return nullptr;
    }

    // Every audio item below \a container, browsed \a page at a time.
    QList<RovaContent> walk(RovaUpnpSource* server, const QString& container, uint page = 0)
    {
        QList<RovaContent> found;
        QStringList todo{container};
        while (!todo.isEmpty()) {
            const QString id = todo.takeFirst();
            for (uint offset = 0;;) {
                m_answers.clear();
                QSignalSpy done(server, &RovaSource::browseCompleted);
                if (!server->browse(id, offset, page, this, SLOT(browseResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))))
                    return {};
                if (!done.wait(10000))
                    return {};
                uint got = 0;
                for (const QList<RovaContent>& batch : std::as_const(m_answers)) {
                    got += uint(batch.size());
                    for (const RovaContent& item : batch)
                        item.metaData(u"type"_s).toString() == "container"_L1 ? todo.append(item.uuid()) : found.append(item);
                }
                if (!page || got < page)
                    break;
                offset += got;
            }
        }
        return found;
    }

    QList<RovaContent> search(RovaUpnpSource* server, const QString& text, const QString& sort = {})
    {
        m_answers.clear();
        m_errors.clear();
        if (!server->query(text, sort, this, SLOT(queryResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))))
            return {};
        if (!QTest::qWaitFor([this] { return !m_answers.isEmpty() || !m_errors.isEmpty(); }, 10000) || m_answers.isEmpty())
            return {};
        return m_answers.first();
    }

public Q_SLOTS:
    void browseResults(const QList<RovaContent>& items, uint) { m_answers << items; }
    void queryResults(const QList<RovaContent>& items, uint) { m_answers << items; }
    void metadataResult(const RovaContent& item) { m_answers << QList<RovaContent>{item}; }
    void errorResult(const RovaError& error) { m_errors << error; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(path(u"music"_s)) && QDir().mkpath(path(u"rygel/config"_s)));
        int track = 0;
        for (const Song& song : songs) {
            ++track;
            QCOMPARE(QProcess::execute(u"gst-launch-1.0"_s, QProcess::splitCommand(
                         u"-q audiotestsrc freq=%1 num-buffers=100 ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! audioconvert ! "
                         "taginject tags=\"title=%2,artist=Rova,album=Tones-%3,genre=Test,track-number=(uint)%4\" ! %5 ! filesink location=%6"_s
                             .arg(300 + 100 * track).arg(QLatin1String(song.title), QLatin1String(song.format))
                             .arg(track).arg(QLatin1String(song.encoder), path(u"music/song%1.%2"_s.arg(track).arg(QLatin1String(song.format)))))), 0);
        }
        QVERIFY(write(u"minidlna.conf"_s, u"port=%1\nnetwork_interface=lo\nmedia_dir=A,%2\ndb_dir=%3\nlog_dir=%3\nfriendly_name=%4\n"
                      "uuid=4d696e69-444c-164e-9d41-%5\ninotify=no\nnotify_interval=30\nroot_container=B\n"_s
                          .arg(freePort()).arg(path(u"music"_s), path(u"minidlna"_s), mini()).arg(QCoreApplication::applicationPid(), 12, 16, QLatin1Char('0'))));
        QString plugins;
        for (const char* plugin : {"Playbin", "Tracker", "Tracker3", "LMS", "External", "MPRIS", "GstLaunch"})
            plugins += u"[%1]\nenabled=false\n"_s.arg(QLatin1String(plugin));
        QVERIFY(write(u"rygel/config/rygel.conf"_s,
                      u"[general]\nipv6=false\nenable-transcoding=false\ninterface=lo\nport=%1\nmedia-engine=librygel-media-engine-gst.so\n"
                      "[MediaExport]\nenabled=true\ntitle=%4\nuris=%2\nextract-metadata=true\nmonitor-changes=false\nvirtual-folders=true\n%3"_s
                          .arg(freePort()).arg(path(u"music"_s), plugins, rygel())));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            env.insert(QLatin1String(name), path(u"rygel/"_s + QString::fromLatin1(name).mid(4).toLower().remove(u"_home"_s)));
        m_rygel.setProcessEnvironment(env);
        m_rygel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_rygel.setStandardOutputFile(QProcess::nullDevice());
        m_rygel.start(u"rygel"_s, {});
        QVERIFY(m_rygel.waitForStarted());
        startMinidlna();

        // The default time to answer: a 10,000-item answer takes its time under the sanitizers on a busy machine.
        m_manager = std::make_unique<RovaUpnpSourceManager>(RovaInternalRegistry::internalInstance(), u"lo"_s);
        QTRY_VERIFY_WITH_TIMEOUT(source(mini()) && source(rygel()), 60000);
        // Both answer before their scan is done: wait until every song is there.
        for (const QString& name : {mini(), rygel()})
            QTRY_COMPARE_WITH_TIMEOUT(search(source(name), QString()).size(), 6, 60000);
    }

    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void cleanupTestCase()
    {
        m_manager.reset();
        for (QProcess* server : {&m_minidlna, &m_rygel}) {
            server->terminate();
            server->waitForFinished();
        }
    }

    // Browse, search and metadata on both servers: the same songs with the same tags, ids that parse back.
    void shouldBrowseAndSearchBothServers_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QStringList>("ogg"); // Rygel names these songs after their files
        QTest::newRow("minidlna") << mini() << QStringList{u"Epsilon_Ogg"_s, u"Zeta_Ogg"_s};
        QTest::newRow("rygel") << rygel() << QStringList{u"song5"_s, u"song6"_s};
    }
    void shouldBrowseAndSearchBothServers()
    {
        QFETCH(QString, server);
        QFETCH(QStringList, ogg);
        // A server seen leaving and coming back in between (once, under load) is a new source.
        QTRY_VERIFY_WITH_TIMEOUT(source(server), 30000);
        RovaUpnpSource* upnp = source(server);
        QCOMPARE(upnp->pluginName(), u"qrova-upnp-source"_s);
        const QList<RovaContent> all = walk(upnp, QString());
        QStringList titles;
        QSet<QString> distinct;
        for (const RovaContent& item : all) {
            QCOMPARE(RovaSource::parseSourceId(item.uuid()), upnp->uuid());
            if (distinct.contains(item.metaData(u"title"_s).toString()))
                continue; // virtual folders list a song more than once
            distinct << item.metaData(u"title"_s).toString();
            titles << u"%1|%2|%3|%4|%5|%6"_s.arg(item.metaData(u"title"_s).toString(), item.metaData(u"artist"_s).toString(),
                                                 item.metaData(u"album"_s).toString(), item.metaData(u"genre"_s).toString())
                          .arg(item.metaData(u"track-number"_s).toInt()).arg(item.metaData(u"uri"_s).toUrl().scheme());
        }
        titles.sort();
        QStringList expected{u"Alpha_Flac|Rova|Tones-flac|Test|1|http"_s, u"Beta_Flac|Rova|Tones-flac|Test|2|http"_s,
                             u"Gamma_Mp3|Rova|Tones-mp3|Test|3|http"_s, u"Delta_Mp3|Rova|Tones-mp3|Test|4|http"_s,
                             ogg[0] + u"|Rova|Tones-ogg|Test|5|http"_s, ogg[1] + u"|Rova|Tones-ogg|Test|6|http"_s};
        expected.sort();
        QCOMPARE(titles, expected);
        // One item a page gives the same as all at once.
        QCOMPARE(walk(upnp, QString(), 1).size(), all.size());
        // Search, escaped, and sorted.
        const auto names = [](const QList<RovaContent>& items) {
            QStringList list;
            for (const RovaContent& item : items)
                list << item.metaData(u"title"_s).toString();
            return list.join(u',');
        };
        QCOMPARE(names(search(upnp, u"ogg"_s, u"-track-number"_s)), ogg[1] + u',' + ogg[0]);
        QCOMPARE(names(search(upnp, u"\"Flac"_s)), QString());
        QCOMPARE(names(search(upnp, u"\\\" or \""_s)), QString());
        QVERIFY(m_errors.isEmpty());
        // Metadata of one item, by its full id.
        m_answers.clear();
        const RovaContent song = search(upnp, u"Alpha"_s).value(0);
        m_answers.clear();
        QVERIFY(upnp->getMetadata(song.uuid(), {u"title"_s, u"duration"_s}, this, SLOT(metadataResult(RovaContent)), nullptr));
        QTRY_COMPARE(m_answers.size(), 1);
        QCOMPARE(m_answers.first().first().metaData().keys(), QStringList({u"duration"_s, u"title"_s}));
        QCOMPARE(m_answers.first().first().uuid(), song.uuid());
    }

    // The renderer plays a server's songs gaplessly from their own locations: FLAC and MP3 give exactly the frames
    // of the same files played locally; Ogg over HTTP decodes a few hundred frames more, and the demuxer of the second
    // song, which looks ahead for its duration as the first plays out, takes nothing from the first.
    void shouldPlayServersSongsLikeLocalFiles_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("flac") << u"flac"_s << 0;
        QTest::newRow("mp3") << u"mp3"_s << 0;
        QTest::newRow("ogg") << u"ogg"_s << 800;
    }
    void shouldPlayServersSongsLikeLocalFiles()
    {
        QFETCH(QString, format);
        QFETCH(int, tolerance);
        RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
        static bool loaded = registry->loadPlugin(QStringLiteral(ROVA_GSTREAMER_PLUGIN));
        QVERIFY(loaded);
        auto* renderer = qobject_cast<RovaBasicRenderer*>(registry->renderer(u"RovaGStreamerRenderer"_s));
        RovaPluginControlInterface* control = registry->pluginControlInterface(u"qrova-gstreamer-renderer"_s);
        QVERIFY(renderer && control);
        renderer->setRovaProperty(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true);
        const QList<RovaContent> remote = search(source(mini()), u"Tones-"_s + format, u"track-number"_s);
        QCOMPARE(remote.size(), 2);
        QList<RovaContent> local;
        for (const RovaContent& item : remote) {
            RovaContent file(u"local::"_s + item.uuid());
            const int track = item.metaData(u"track-number"_s).toInt();
            QMap<QString, QVariant> metadata{{u"uri"_s, QUrl::fromLocalFile(path(u"music/song%1.%2"_s.arg(track).arg(format)))}};
            file.setMetaData(metadata, nullptr, nullptr);
            local << file;
        }
        QList<qint64> frames;
        for (const QList<RovaContent>& items : {local, remote}) {
            const QString out = path(u"out-%1-%2.raw"_s.arg(format).arg(frames.size()));
            QVERIFY(control->setSetting(u"audio-sink"_s, u"audioconvert ! audio/x-raw,format=S16LE,channels=1 ! filesink location=%1"_s.arg(out)));
            ItemPlaylist playlist(items);
            QSignalSpy completed(renderer, &RovaRenderer::playbackCompleted);
            QSignalSpy errors(renderer, &RovaRenderer::error);
            renderer->assignPlaylist(&playlist);
            QVERIFY(renderer->play());
            QVERIFY(completed.wait(20000));
            QCOMPARE(errors.size(), 0);
            renderer->stop();
            renderer->assignPlaylist(nullptr);
            frames << QFileInfo(out).size() / 2;
        }
        QVERIFY2(frames[0] > 200000 && qAbs(frames[1] - frames[0]) <= tolerance, qPrintable(u"%1 %2"_s.arg(frames[0]).arg(frames[1])));
    }

    // The player lists the servers, and lists or plays a server's songs.
    void shouldListAndPlayServersFromThePlayer_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines"); // among what it prints
        QTest::addColumn<int>("exitCode");
        QTest::newRow("servers") << QStringList{u"--servers"_s} << QStringList{mini(), rygel()} << 0;
        QTest::newRow("a server's songs") << QStringList{u"--server"_s, mini(), u"--search"_s, u"mp3"_s, u"--list"_s}
                                          << QStringList{u"1. Gamma_Mp3 - Rova (Tones-mp3) 0:02"_s, u"2. Delta_Mp3 - Rova (Tones-mp3) 0:02"_s} << 0;
        QTest::newRow("no such server") << QStringList{u"--server"_s, u"Nobody"_s, u"--list"_s} << QStringList() << 1;
        QTest::newRow("play into a file") << QStringList{u"--server"_s, rygel(), u"--search"_s, u"Alpha"_s, u"--output"_s, u"out.wav"_s}
                                          << QStringList() << 0;
    }
    void shouldListAndPlayServersFromThePlayer()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        QFETCH(int, exitCode);
        QVERIFY(QDir().mkpath(path(u"plugins"_s)));
        for (const char* plugin : {ROVA_UPNP_PLUGIN, ROVA_GSTREAMER_PLUGIN})
            QFile::link(QString::fromUtf8(plugin), path(u"plugins/"_s + QFileInfo(QString::fromUtf8(plugin)).fileName()));
        QProcess player;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QROVA_PLUGIN_DIR"_s, path(u"plugins"_s));
        env.insert(u"QSPARQL_TRACKER_DATABASE"_s, path(u"store"_s));
        player.setProcessEnvironment(env);
        player.setWorkingDirectory(m_dir.path());
        player.start(QStringLiteral(ROVA_PLAYER), arguments);
        QVERIFY(player.waitForFinished(20000));
        const QString printed = QString::fromUtf8(player.readAllStandardOutput());
        for (const QString& line : lines)
            QVERIFY2(printed.contains(line + u'\n'), qPrintable(printed));
        QCOMPARE(player.exitCode(), exitCode);
        if (arguments.contains(u"--output"_s)) // over two seconds of sound, 16-bit stereo
            QVERIFY(QFileInfo(path(u"out.wav"_s)).size() > 44100 * 4 * 2);
    }

    // A server that stops answering fails the request in hand and goes; one that says goodbye goes;
    // both come back when they answer again.
    void shouldDropAndRecoverAServerThatStops()
    {
        RovaInternalRegistry* registry = RovaInternalRegistry::internalInstance();
        RovaUpnpSource* upnp = source(mini());
        const QString uuid = upnp->uuid();
        // What the registry says about this server, whatever other servers do meanwhile.
        QStringList said;
        const auto note = [&](const char* what) { return [&said, &uuid, what](const QString& id) { if (id == uuid) said << QLatin1String(what); }; };
        connect(registry, qOverload<const QString&, const QString&>(&RovaRegistry::sourceRemoved), this, note("removed"));
        connect(registry, qOverload<const QString&, const QString&>(&RovaRegistry::sourceAdded), this, note("added"));
        ::kill(pid_t(m_minidlna.processId()), SIGSTOP);
        m_errors.clear();
        QVERIFY(upnp->browse(QString(), 0, 0, this, SLOT(browseResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))));
        QTRY_COMPARE_WITH_TIMEOUT(m_errors.size(), 1, 30000);
        QCOMPARE(m_errors.first().message(), u"The media server did not answer in time"_s);
        QTRY_COMPARE(said, QStringList{u"removed"_s});
        ::kill(pid_t(m_minidlna.processId()), SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(said.size(), 2, 20000);
        QCOMPARE(source(mini())->uuid(), uuid);
        // Stopped for good while a browse is out, then started again.
        m_answers.clear();
        m_errors.clear();
        QVERIFY(source(mini())->browse(QString(), 0, 0, this, SLOT(browseResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))));
        m_minidlna.terminate();
        QVERIFY(m_minidlna.waitForFinished());
        QTRY_COMPARE_WITH_TIMEOUT(said.size(), 3, 10000);
        QVERIFY(m_answers.size() + m_errors.size() <= 1);
        startMinidlna();
        QTRY_COMPARE_WITH_TIMEOUT(said, QStringList({u"removed"_s, u"added"_s, u"removed"_s, u"added"_s}), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(search(source(mini()), QString()).size(), 6, 20000);
        disconnect(registry, nullptr, this, nullptr);
    }

    // A hostile server: whatever it answers, no crash, no hang; unusable items are skipped with a warning.
    void shouldWithstandAHostileServer_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("items");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("warnings");
        const QString counted = u"a media server gave %1 object.s. where it counted %2"_s;
        QTest::newRow("malformed") << u"malformed"_s << 0 << QString() << QStringList{counted.arg(1).arg(2), counted.arg(1).arg(2)};
        QTest::newRow("truncated") << u"truncated"_s << 0 << u"The server's DIDL-Lite cannot be read"_s << QStringList();
        QTest::newRow("empty") << u"empty"_s << 0 << QString() << QStringList();
        QTest::newRow("huge") << u"huge"_s << 10000 << QString() << QStringList();
        QTest::newRow("1 MB title") << u"long titles"_s << 1 << QString() << QStringList{u"skipped 1 unusable object"_s};
        QTest::newRow("miscounted") << u"miscounted"_s << 2 << QString()
                                    << QStringList{counted.arg(2).arg(5), counted.arg(2).arg(5), u"answers every page alike"_s};
        QTest::newRow("entities") << u"entities"_s << 0 << QString() << QStringList{counted.arg(0).arg(2)};
        QTest::newRow("slow") << u"slow"_s << 0 << u"The media server did not answer in time"_s << QStringList();
    }
    void shouldWithstandAHostileServer()
    {
        QFETCH(QString, mode);
        QFETCH(int, items);
        QFETCH(QString, error);
        QFETCH(QStringList, warnings);
        HostileServer server;
        server.mode = mode;
        static int row = 0;
        server.udn += u"%1-%2"_s.arg(QCoreApplication::applicationPid()).arg(++row); // each row's server is another
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const auto found = [&server] {
            return qobject_cast<RovaUpnpSource*>(RovaInternalRegistry::internalInstance()->source(RovaUpnpSource::uuidForUdn(server.udn)));
        };
        QTRY_VERIFY_WITH_TIMEOUT((server.announce(), found()), 10000);
        QPointer<RovaUpnpSource> upnp = found();
        QSignalSpy done(upnp.data(), &RovaSource::browseCompleted);
        m_answers.clear();
        m_errors.clear();
        for (const QString& warning : warnings)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QVERIFY(upnp->browse(QString(), 0, 0, this, SLOT(browseResults(QList<RovaContent>, uint)), SLOT(errorResult(RovaError))));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty() || !m_errors.isEmpty(), 60000);
        qsizetype got = 0;
        for (const auto& batch : std::as_const(m_answers))
            got += batch.size();
        if (items >= 0)
            QCOMPARE(got, qsizetype(items));
        for (const auto& batch : std::as_const(m_answers)) // object ids hold anything, "::" too
            for (const RovaContent& item : batch)
                QVERIFY(RovaSource::parseSourceId(item.uuid()) == upnp->uuid() && item.uuid().endsWith(u"::<x>"_s));
        QCOMPARE(m_errors.isEmpty() ? QString() : m_errors.first().message().section(u':', 0, 0), error);
        server.close();
        if (upnp) // as if it had said goodbye: the next row's server is found afresh
            RovaInternalRegistry::internalInstance()->removeExtension(upnp->uuid());
        m_manager->worker()->forget(server.udn);
    }
};

QTEST_GUILESS_MAIN(tst_RovaUpnpSource)
#include "tst_rovaupnpsource.moc"
