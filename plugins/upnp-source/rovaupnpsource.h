// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAUPNPSOURCE_H
#define ROVAUPNPSOURCE_H

#include "rovaupnpworker.h"

#include <rovaplugincontrolinterface.h>
#include <rovasource.h>

#include <QHash>
#include <QPointer>

#include <map>
#include <memory>

class RovaInternalRegistry;
class RovaUpnpSourceManager;

/*!
    One media server on the network (a UPnP ContentDirectory), as a content
    source. Its name is the server's friendly name; its uuid is the server's
    UDN without the "uuid:" prefix (any ':' or '%' in it percent-encoded, so that
    the uuid never holds "::").

    Object ids are the server's own, whatever characters they hold: an item id
    is the source uuid, "::" and the object id, and RovaSource::parseSourceId()
    gives the source back. browse() and getMetadata() take either form; "" and
    "/" stand for the server's root, "0".

    Audio items carry "title", "artist", "album", "genre" (when known),
    "track-number" (when known), "duration" (seconds, when known),
    "album-art-uri" (QUrl, when known), "uri" (QUrl of the resource to play:
    http-get, a type the GStreamer renderer decodes preferred), "mime-type" and
    "type" "audio"; containers carry "title", "type" "container" and
    "child-count" when the server tells it. Other objects (pictures, videos) are
    left out; objects without an id, with absurdly long texts or (audio) without
    an http resource are skipped with a warning.

    browse() asks the server page after page, as many times as the server
    needs to deliver what was asked for; each page goes to the result slot,
    browseCompleted() follows the last. query() searches the whole server for
    audio items whose title, artist or album contains the text: with the
    server's Search when its search capabilities allow, otherwise by walking
    its containers; the results come in one answer, ordered as the sort string
    says (as for the Tracker source: keys "title", "artist", "album", "genre",
    "duration", "track-number", each optionally preceded by "+" or "-").

    A server that does not answer in time, or not at all, fails the request
    (SourceBrowseResultFailed, SourceGetMetadataResultFailed) and is removed
    from the registry; it is added again when it answers discovery again.
*/
class RovaUpnpSource : public RovaSource
{
    Q_OBJECT

public:
    RovaUpnpSource(RovaUpnpSourceManager* manager, const QString& udn, const QString& uuid, const QString& name);
    ~RovaUpnpSource() override;

    /*! The source uuid for the server \a udn. */
    static QString uuidForUdn(const QString& udn);

    QString udn() const { return m_udn; }

    uint browse(const QString& objectId, uint offset, uint count,
                QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    void cancelBrowse(uint browseId) override;
    uint query(const QString& searchString, const QString& sortString,
               QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    void cancelQuery(uint queryId) override;
    bool getMetadata(const QString& objectId, const QStringList& keys,
                     QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    /*! Servers are read-only through this source: always refused. */
    bool destroyObject(const QString& objectId,
                       QObject* receiver, const char* resultSlot, const char* errorSlot) override;

    /*! The number of requests still waiting for their answer. */
    int pendingRequests() const { return int(m_requests.size()); }

private:
    struct Request;
    uint add(std::unique_ptr<Request> request);
    void next(uint id);
    void answered(uint id, const RovaUpnpWorker::Page& page);
    void searchWith(uint id, const QString& capabilities);
    void complete(Request& request);
    void fail(Request& request, const QString& message);
    QString objectPart(const QString& id) const;

    QPointer<RovaUpnpSourceManager> m_manager;
    QString m_udn;
    QString m_capabilities;
    bool m_capabilitiesKnown = false;
    std::map<uint, std::unique_ptr<Request>> m_requests;
    uint m_lastId = 0;
};

/*!
    Finds the media servers on the network and keeps one RovaUpnpSource per
    server in the registry. Registered as the plugin control interface
    "qrova-upnp-source", with the settings:
    - "interface": the network interface to search (a name such as "lo" or
      "eth0"); empty, the default, for all of them. A change starts the search
      afresh: the sources found so far are removed.
    - "timeout": milliseconds a server has to answer a request (default 10000).
*/
class RovaUpnpSourceManager : public RovaPluginControlInterface, public RovaUpnpWorker::Listener
{
    Q_OBJECT

public:
    static const QString NAME;

    explicit RovaUpnpSourceManager(RovaInternalRegistry* registry, const QString& interfaceName = QString(),
                                   int timeoutMs = 10000);
    ~RovaUpnpSourceManager() override;

    QVariant setting(const QString& key) const override;
    bool setSetting(const QString& key, const QVariant& value) override;

    RovaUpnpWorker* worker() const { return m_worker.get(); }
    /*! The server \a udn did not answer: its source goes, and it is searched for again. */
    void serverUnreachable(const QString& udn);

    void post(std::function<void()> job) override;
    void serverAppeared(const QString& udn, const QString& name) override;
    void serverGone(const QString& udn) override;

private:
    void restart();

    QPointer<RovaInternalRegistry> m_registry;
    QString m_interface;
    int m_timeoutMs;
    QHash<QString, QPointer<RovaUpnpSource>> m_sources;
    std::unique_ptr<RovaUpnpWorker> m_worker;
};

#endif // ROVAUPNPSOURCE_H
