// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaupnpsource.h"

#include <rovacallbackhelper.h>
#include <rovasourcerequest_p.h>
#include <rovacontent.h>
#include <rovaerror.h>
#include <rovainternalregistry.h>

#include <QCollator>
#include <QDebug>
#include <QMetaMethod>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <deque>

const QString RovaUpnpSourceManager::NAME = QStringLiteral("qrova-upnp-source");

namespace {

const char browseTemplate[] = "2browseResults(const QList<RovaContent>&, uint)";
const char queryTemplate[] = "2queryResults(const QList<RovaContent>&, uint)";
const char metadataTemplate[] = "2metadataResult(const RovaContent&)";

const QString interfaceKey = QStringLiteral("interface");
const QString timeoutKey = QStringLiteral("timeout");

// A server that keeps saying there is more, without end, is asked this many times at most.
const int maxPages = 10000;
// A walk of a server without Search visits at most this many containers.
const int maxWalkedContainers = 5000;

const QStringList& sortKeys()
{
    static const QStringList keys{QStringLiteral("title"), QStringLiteral("artist"), QStringLiteral("album"),
                                  QStringLiteral("genre"), QStringLiteral("duration"), QStringLiteral("track-number")};
    return keys;
}

bool invokeWith(QObject* receiver, const QMetaMethod& method, QGenericArgument first, QGenericArgument second = QGenericArgument())
{
    if (method.parameterCount() >= 2)
        return method.invoke(receiver, Qt::AutoConnection, first, second);
    return method.invoke(receiver, Qt::AutoConnection, first);
}

// \a text as a quoted string of a search criteria.
QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool isAudio(const RovaContent& item)
{
    return item.metaData(QStringLiteral("type")).toString() == QLatin1String("audio");
}

bool matches(const RovaContent& item, const QString& text)
{
    if (text.isEmpty())
        return true;
    for (const char* key : {"title", "artist", "album"}) {
        if (item.metaData(QLatin1String(key)).toString().contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// The sort string as (key, descending) pairs; false for an unknown key, which goes to \a unknown.
bool parseSort(const QString& sortString, QList<std::pair<QString, bool>>* order, QString* unknown)
{
    if (sortString.trimmed().isEmpty())
        return true;
    for (QString key : sortString.split(QLatin1Char(','))) {
        key = key.trimmed();
        bool descending = false;
        if (key.startsWith(QLatin1Char('+')) || key.startsWith(QLatin1Char('-'))) {
            descending = key.startsWith(QLatin1Char('-'));
            key = key.mid(1).trimmed();
        }
        if (!sortKeys().contains(key)) {
            *unknown = key;
            return false;
        }
        order->append({key, descending});
    }
    return true;
}

} // namespace

struct RovaUpnpSource::Request
{
    enum Kind { Browse, Query, Metadata };
    Kind kind = Browse;
    uint id = 0;
    QString objectId;
    uint start = 0;          // where the next page starts
    uint remaining = 0;      // items still wanted (0: all)
    int pages = 0;
    bool delivered = false;  // a browse has handed over at least one page
    bool planned = false;    // a query knows whether it searches or walks
    QString lastFirst;       // the first item of the last page
    QString searchText;
    QString criteria;        // null: the server is walked
    QList<std::pair<QString, bool>> order;
    std::deque<QString> containers; // a walk's containers still to visit
    QSet<QString> visited;
    QList<RovaContent> found;
    QStringList keys;
    QPointer<QObject> receiver;
    QByteArray resultSlot;
    QByteArray errorSlot;
};

QString RovaUpnpSource::uuidForUdn(const QString& udn)
{
    QString uuid = udn.startsWith(QLatin1String("uuid:")) ? udn.mid(5) : udn;
    return uuid.replace(QLatin1Char('%'), QLatin1String("%25")).replace(QLatin1Char(':'), QLatin1String("%3A"));
}

RovaUpnpSource::RovaUpnpSource(RovaUpnpSourceManager* manager, const QString& udn, const QString& uuid, const QString& name)
    : RovaSource(nullptr, uuid, RovaUpnpSourceManager::NAME)
    , m_manager(manager)
    , m_udn(udn)
{
    setName(name);
}

RovaUpnpSource::~RovaUpnpSource() = default;

QString RovaUpnpSource::objectPart(const QString& id) const
{
    const QString prefix = uuid() + QLatin1String("::");
    QString objectId = id.startsWith(prefix) ? id.mid(prefix.size()) : id;
    if (objectId.isEmpty() || objectId == QLatin1String("/"))
        objectId = QStringLiteral("0");
    return objectId;
}

uint RovaUpnpSource::add(std::unique_ptr<Request> request)
{
    do {
        ++m_lastId;
    } while (m_lastId == 0 || m_requests.count(m_lastId));
    const uint id = m_lastId;
    request->id = id;
    m_requests.emplace(id, std::move(request));
    // Answers come from the event loop, never inside the call.
    QTimer::singleShot(0, this, [this, id] { next(id); });
    return id;
}

uint RovaUpnpSource::browse(const QString& objectId, uint offset, uint count,
                            QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaUpnpSource", receiver, resultSlot, errorSlot, browseTemplate))
        return 0;
    auto request = std::make_unique<Request>();
    request->kind = Request::Browse;
    request->objectId = objectPart(objectId);
    request->start = offset;
    request->remaining = count;
    request->receiver = receiver;
    request->resultSlot = resultSlot;
    request->errorSlot = errorSlot;
    return add(std::move(request));
}

void RovaUpnpSource::cancelBrowse(uint browseId)
{
    const auto it = m_requests.find(browseId);
    if (it == m_requests.end() || it->second->kind != Request::Browse) {
        qWarning("RovaUpnpSource: no browse with id %u is running.", browseId);
        return;
    }
    // The answer on its way finds no request and is dropped.
    m_requests.erase(it);
}

uint RovaUpnpSource::query(const QString& searchString, const QString& sortString,
                           QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaUpnpSource", receiver, resultSlot, errorSlot, queryTemplate))
        return 0;
    if (!RovaSourceRequest::checkSearchText("RovaUpnpSource", searchString, receiver, errorSlot))
        return 0;
    auto request = std::make_unique<Request>();
    QString unknown;
    if (!parseSort(sortString, &request->order, &unknown)) {
        qWarning() << "RovaUpnpSource::query: unknown sort key in" << sortString;
        RovaSourceRequest::refuse(receiver, errorSlot, RovaError::SourceInvalidSortString,
               QStringLiteral("Unknown sort key \"%1\" in \"%2\"; known keys: %3").arg(unknown, sortString, sortKeys().join(QLatin1String(", "))));
        return 0;
    }
    request->kind = Request::Query;
    request->searchText = searchString;
    request->objectId = QStringLiteral("0");
    request->receiver = receiver;
    request->resultSlot = resultSlot;
    request->errorSlot = errorSlot;
    return add(std::move(request));
}

void RovaUpnpSource::cancelQuery(uint queryId)
{
    const auto it = m_requests.find(queryId);
    if (it == m_requests.end() || it->second->kind != Request::Query) {
        qWarning("RovaUpnpSource: no query with id %u is running.", queryId);
        return;
    }
    m_requests.erase(it);
}

bool RovaUpnpSource::getMetadata(const QString& objectId, const QStringList& keys,
                                 QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (!RovaSourceRequest::checkSlots("RovaUpnpSource", receiver, resultSlot, errorSlot, metadataTemplate))
        return false;
    auto request = std::make_unique<Request>();
    request->kind = Request::Metadata;
    request->objectId = objectPart(objectId);
    request->keys = keys;
    request->receiver = receiver;
    request->resultSlot = resultSlot;
    request->errorSlot = errorSlot;
    return add(std::move(request)) != 0;
}

bool RovaUpnpSource::destroyObject(const QString& objectId, QObject*, const char*, const char*)
{
    qWarning() << "RovaUpnpSource::destroyObject: media servers are read-only here; not destroying" << objectId;
    return false;
}

// Sends the request's next action to the server.
void RovaUpnpSource::next(uint id)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end())
        return;
    Request& request = *it->second;
    RovaUpnpWorker* worker = m_manager ? m_manager->worker() : nullptr;
    if (!worker) {
        fail(request, QStringLiteral("The media server is gone"));
        return;
    }
    RovaUpnpSourceManager* const manager = m_manager.data();
    const QPointer<RovaUpnpSource> self(this);
    const QString sourceUuid = uuid();
    // Runs on the worker's thread; the manager outlives the worker, the source may go meanwhile.
    const auto done = [manager, self, id](const RovaUpnpWorker::Page& page) {
        manager->post([self, id, page] {
            if (self)
                self->answered(id, page);
        });
    };
    ++request.pages;
    switch (request.kind) {
    case Request::Metadata:
        worker->browse(m_udn, sourceUuid, request.objectId, true, 0, 0, done);
        return;
    case Request::Browse:
        worker->browse(m_udn, sourceUuid, request.objectId, false, request.start, request.remaining, done);
        return;
    case Request::Query:
        if (!request.planned) {
            --request.pages;
            if (m_capabilitiesKnown) {
                searchWith(id, m_capabilities);
                return;
            }
            worker->searchCapabilities(m_udn, [manager, self, id](const RovaUpnpWorker::Page& page) {
                manager->post([self, id, page] {
                    if (!self)
                        return;
                    if (page.failed && page.unreachable) {
                        self->answered(id, page);
                        return;
                    }
                    self->m_capabilitiesKnown = true;
                    self->m_capabilities = page.failed ? QString() : page.value;
                    self->searchWith(id, self->m_capabilities);
                });
            });
            return;
        }
        if (!request.criteria.isNull())
            worker->search(m_udn, sourceUuid, QStringLiteral("0"), request.criteria, request.start, 0, done);
        else
            worker->browse(m_udn, sourceUuid, request.containers.front(), false, request.start, 0, done);
        return;
    }
}

// Decides how the query \a id is answered: with the server's Search, or by a walk.
void RovaUpnpSource::searchWith(uint id, const QString& capabilities)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end())
        return;
    Request& request = *it->second;
    const QStringList caps = capabilities.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto can = [&caps](const char* property) {
        return std::any_of(caps.cbegin(), caps.cend(), [property](const QString& cap) {
            return cap.trimmed() == QLatin1String("*") || cap.trimmed() == QLatin1String(property);
        });
    };
    QStringList terms;
    if (!request.searchText.isEmpty()) {
        for (const char* property : {"dc:title", "upnp:artist", "upnp:album"}) {
            if (can(property))
                terms << QLatin1String(property) + QLatin1String(" contains ") + quoted(request.searchText);
        }
    }
    const bool byClass = can("upnp:class");
    if ((!request.searchText.isEmpty() && !terms.isEmpty()) || (request.searchText.isEmpty() && byClass)) {
        QString criteria = byClass ? QStringLiteral("upnp:class derivedfrom \"object.item.audioItem\"") : QString();
        if (!terms.isEmpty())
            criteria += (criteria.isEmpty() ? QString() : QStringLiteral(" and ")) + QLatin1Char('(') + terms.join(QLatin1String(" or ")) + QLatin1Char(')');
        request.criteria = criteria;
    } else {
        request.criteria = QString();
        request.containers.push_back(QStringLiteral("0"));
        request.visited.insert(QStringLiteral("0"));
    }
    request.start = 0;
    request.planned = true;
    next(id);
}

void RovaUpnpSource::answered(uint id, const RovaUpnpWorker::Page& page)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end())
        return;
    Request& request = *it->second;
    if (page.failed) {
        const QString udn = m_udn;
        fail(request, page.error);
        if (page.unreachable && m_manager)
            m_manager->serverUnreachable(udn); // deletes this source later
        return;
    }
    // A server that gives the same page again, whatever it counts, has nothing more to give.
    const QString first = page.items.isEmpty() ? QString() : page.items.constFirst().uuid();
    const bool repeated = !first.isEmpty() && first == request.lastFirst;
    request.lastFirst = first;
    if (repeated) {
        qWarning() << "RovaUpnpSource: the media server" << name() << "answers every page alike; taking its first only";
    }
    const QList<RovaContent> pageItems = repeated ? QList<RovaContent>() : page.items;
    const bool more = !repeated && page.objects > 0 && page.numberReturned > 0
        && (page.totalMatches == 0 || request.start + page.objects < page.totalMatches) && request.pages < maxPages;

    switch (request.kind) {
    case Request::Metadata:
        request.found = pageItems;
        complete(request);
        return;
    case Request::Browse: {
        QList<RovaContent> items = pageItems;
        if (request.remaining > 0 && uint(items.size()) > request.remaining)
            items = items.mid(0, qsizetype(request.remaining));
        const bool last = !more || (request.remaining > 0 && page.objects >= request.remaining);
        if (!items.isEmpty() || (last && !request.delivered)) {
            request.delivered = true;
            QMetaMethod method;
            if (request.receiver && RovaCallbackHelper::getCallbackMethod(request.receiver, request.resultSlot.constData(), method)) {
                if (!invokeWith(request.receiver, method, Q_ARG(QList<RovaContent>, items), Q_ARG(uint, id)))
                    qWarning("Invoking the callback method failed!");
            }
            if (m_requests.find(id) == m_requests.end())
                return; // cancelled by the receiver
        }
        if (last) {
            m_requests.erase(id);
            Q_EMIT browseCompleted();
            return;
        }
        if (request.remaining > 0)
            request.remaining -= page.objects;
        request.start += page.objects;
        next(id);
        return;
    }
    case Request::Query:
        if (request.criteria.isNull()) {
            // A walk: audio items that match, containers to visit.
            for (const RovaContent& item : pageItems) {
                if (isAudio(item)) {
                    if (matches(item, request.searchText))
                        request.found.append(item);
                    continue;
                }
                const QString child = objectPart(item.uuid());
                if (!request.visited.contains(child) && request.visited.size() < maxWalkedContainers) {
                    request.visited.insert(child);
                    request.containers.push_back(child);
                }
            }
            if (more) {
                request.start += page.objects;
            } else {
                request.containers.pop_front();
                request.start = 0;
                if (request.containers.empty()) {
                    complete(request);
                    return;
                }
            }
        } else {
            for (const RovaContent& item : pageItems) {
                if (isAudio(item))
                    request.found.append(item);
            }
            if (!more) {
                complete(request);
                return;
            }
            request.start += page.objects;
        }
        next(id);
        return;
    }
}

// Hands a query's or a metadata request's result over and forgets the request.
void RovaUpnpSource::complete(Request& request)
{
    const std::unique_ptr<Request> done = std::move(m_requests[request.id]);
    m_requests.erase(request.id);
    if (!done->receiver)
        return;
    QMetaMethod method;
    if (!RovaCallbackHelper::getCallbackMethod(done->receiver, done->resultSlot.constData(), method))
        return;
    bool invoked = false;
    if (done->kind == Request::Metadata) {
        if (done->found.isEmpty()) {
            fail(*done, QStringLiteral("No object with the id \"%1\"").arg(done->objectId));
            return;
        }
        RovaContent content = done->found.constFirst();
        if (!done->keys.isEmpty()) {
            QMap<QString, QVariant> metadata = content.metaData();
            for (auto key = metadata.begin(); key != metadata.end();)
                key = done->keys.contains(key.key()) ? std::next(key) : metadata.erase(key);
            content.setMetaData(metadata, nullptr, nullptr);
        }
        invoked = invokeWith(done->receiver, method, Q_ARG(RovaContent, content));
    } else {
        QList<RovaContent> items = done->found;
        if (!done->order.isEmpty()) {
            QCollator collator;
            collator.setCaseSensitivity(Qt::CaseInsensitive);
            collator.setNumericMode(true);
            const auto order = done->order;
            std::stable_sort(items.begin(), items.end(), [&](const RovaContent& a, const RovaContent& b) {
                for (const auto& [key, descending] : order) {
                    const QVariant x = a.metaData(key), y = b.metaData(key);
                    const int c = (key == QLatin1String("duration") || key == QLatin1String("track-number"))
                        ? (x.toInt() < y.toInt() ? -1 : x.toInt() > y.toInt() ? 1 : 0)
                        : collator.compare(x.toString(), y.toString());
                    if (c != 0)
                        return descending ? c > 0 : c < 0;
                }
                return false;
            });
        }
        invoked = invokeWith(done->receiver, method, Q_ARG(QList<RovaContent>, items), Q_ARG(uint, done->id));
    }
    if (!invoked)
        qWarning("Invoking the callback method failed!");
}

void RovaUpnpSource::fail(Request& request, const QString& message)
{
    const std::unique_ptr<Request> done = std::move(m_requests[request.id]);
    m_requests.erase(request.id);
    RovaError error(done->kind == Request::Metadata ? RovaError::SourceGetMetadataResultFailed : RovaError::SourceBrowseResultFailed,
                    message);
    if (!done->receiver)
        return;
    if (done->errorSlot.isEmpty())
        qWarning() << "RovaUpnpSource:" << error.toString();
    else
        RovaCallbackHelper::invokeErrorCallback(nullptr, error, done->receiver, done->errorSlot.constData());
}

RovaUpnpSourceManager::RovaUpnpSourceManager(RovaInternalRegistry* registry, const QString& interfaceName, int timeoutMs)
    : m_registry(registry)
    , m_interface(interfaceName)
    , m_timeoutMs(timeoutMs)
{
    restart();
}

RovaUpnpSourceManager::~RovaUpnpSourceManager()
{
    // The worker first: nothing may reach this object once it goes.
    m_worker.reset();
}

QVariant RovaUpnpSourceManager::setting(const QString& key) const
{
    if (key == interfaceKey)
        return m_interface;
    if (key == timeoutKey)
        return m_timeoutMs;
    return QVariant();
}

bool RovaUpnpSourceManager::setSetting(const QString& key, const QVariant& value)
{
    if (key == interfaceKey && value.canConvert<QString>()) {
        const QString name = value.toString();
        if (name.size() > 64 || name.contains(QLatin1Char('/')))
            return false;
        m_interface = name;
        restart();
        return true;
    }
    if (key == timeoutKey) {
        bool ok = false;
        const int ms = value.toInt(&ok);
        if (!ok || ms <= 0)
            return false;
        m_timeoutMs = ms;
        restart();
        return true;
    }
    return false;
}

void RovaUpnpSourceManager::restart()
{
    m_worker.reset();
    for (const QString& udn : m_sources.keys())
        serverGone(udn);
    m_worker = std::make_unique<RovaUpnpWorker>(this, m_interface, m_timeoutMs);
}

void RovaUpnpSourceManager::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
}

void RovaUpnpSourceManager::serverAppeared(const QString& udn, const QString& name)
{
    if (m_sources.value(udn) || !m_registry)
        return;
    const QString uuid = RovaUpnpSource::uuidForUdn(udn);
    auto* source = new RovaUpnpSource(this, udn, uuid, name);
    if (!m_registry->addSource(source)) {
        qWarning() << "RovaUpnpSource: the registry did not take the media server" << name << uuid;
        delete source;
        return;
    }
    m_sources.insert(udn, source);
}

void RovaUpnpSourceManager::serverGone(const QString& udn)
{
    const QPointer<RovaUpnpSource> source = m_sources.take(udn);
    if (source && m_registry)
        m_registry->removeExtension(source->uuid());
}

void RovaUpnpSourceManager::serverUnreachable(const QString& udn)
{
    if (m_worker)
        m_worker->forget(udn);
    // Later: the source may be in the middle of answering.
    QMetaObject::invokeMethod(this, [this, udn] { serverGone(udn); }, Qt::QueuedConnection);
}
