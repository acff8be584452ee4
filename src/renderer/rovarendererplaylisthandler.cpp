// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererplaylisthandler.h"

#include "rovacontent.h"
#include "rovarendererevent.h"
#include "rovarenderermachinegate_p.h"

#include <QtSparql/QSparqlConnection>
#include <QtSparql/QSparqlQuery>
#include <QtSparql/QSparqlResult>

#include <QDebug>
#include <QHash>
#include <QPointer>
#include <QStateMachine>
#include <QTimer>
#include <QUrl>

#include <climits>
#include <utility>

const QString RovaRendererPlaylistHandler::basicMetadataQuery = QStringLiteral(
    "SELECT ?url ?count ?duration WHERE { <%1> nie:url ?url .OPTIONAL { <%1> nie:usageCounter ?count. "
    "<%1> nfo:duration ?duration. }}");

namespace {
// What RovaBasicRenderer::RovaRendererPlayingUri says; the renderer header is not needed here.
enum PlayingUri { NoUri = 0, CurrentUri = 1, NextUri = 2 };

const QString uriKey = QStringLiteral("uri");
const QString durationKey = QStringLiteral("duration");
const QString playCountKey = QStringLiteral("play-count");
const QString separator = QStringLiteral("::");
const QString noPlaylistMessage = QStringLiteral("No playlist to play!");

// Chains of more steps than this remember the indexes they passed, so that a
// repeating playlist is walked round once and not millions of times.
const qint64 cycleCheckSteps = 64;

// True when \a objectId can stand between angle brackets in a query as it is:
// no control character, no white space and none of <>"{}|^`\ (which would end
// the IRI reference early and let the rest be read as query text).
bool isQueryableObjectId(const QString& objectId)
{
    static const QString forbidden = QStringLiteral("<>\"{}|^`\\");
    for (const QChar c : objectId) {
        if (c.unicode() <= 0x20 || c.isSpace() || forbidden.contains(c))
            return false;
    }
    return true;
}

} // namespace

class RovaRendererPlaylistHandlerPrivate
{
public:
    explicit RovaRendererPlaylistHandlerPrivate(RovaRendererPlaylistHandler* q)
        : q(q)
        , connection(new QSparqlConnection(QStringLiteral("QTRACKER"), QSparqlConnectionOptions(), q))
    {
    }

    RovaRendererPlaylistHandler* const q;

    // Not owned; cleared by Qt when the playlist is deleted, and then treated as unassigned.
    QPointer<RovaPlaylist> playlist;
    std::unique_ptr<RovaMediaInfo> nextContent;
    std::unique_ptr<RovaMediaInfo> currentContent;
    int itemPlaying = -2;
    QString uri;
    RovaError pendingError;
    // The running lookups. Whatever replaces the next item abandons its lookup;
    // the current item can change while its lookup runs, so that lookup
    // remembers which item it is for.
    std::unique_ptr<QSparqlResult> nextResult;
    std::unique_ptr<QSparqlResult> currentResult;
    QString currentResultUuid;
    std::unique_ptr<RovaMediaInfo> queuedInfo;
    QSparqlConnection* const connection;

    // A machine given before it runs (a renderer's starts on the first turn of
    // the event loop, which may bring a lookup's answer first) gets what was
    // posted in the meantime once it has started.
    RovaRendererMachineGate gate;

    void post(RovaRendererEvent::RovaRendererEventType type, QStateMachine::EventPriority priority)
    {
        gate.pass(new RovaRendererEvent(type), priority);
    }

    void noPlaylist()
    {
        pendingError = RovaError(RovaError::RendererNoPlaylist, noPlaylistMessage);
        qDebug("RovaRendererPlaylistHandler: No playlist to play!");
        QTimer::singleShot(0, q, &RovaRendererPlaylistHandler::emitError);
    }

    // The index \a steps calls of getNext() (getPrevious() when negative) away from \a index.
    int walk(int index, qint64 steps) const
    {
        const bool forward = steps > 0;
        qint64 count = forward ? steps : -steps;
        QHash<int, qint64> seen;
        bool remember = count > cycleCheckSteps;
        for (qint64 i = 0; i < count; ++i) {
            if (remember) {
                const auto it = seen.constFind(index);
                if (it != seen.constEnd()) {
                    // Index i repeats index *it: only the remainder of the cycle is left to walk.
                    count = i + (count - i) % (i - *it);
                    remember = false;
                    if (i >= count)
                        break;
                } else {
                    seen.insert(index, i);
                }
            }
            index = forward ? playlist->getNext(index) : playlist->getPrevious(index);
        }
        return index;
    }

    // A media info for \a content: the same item keeps what was looked up for it,
    // another item starts afresh, so that nothing of the last item stays behind.
    void takeCurrent(const RovaContent& content)
    {
        if (currentContent && currentContent->uuid() == content.uuid())
            *currentContent = content;
        else
            currentContent = std::make_unique<RovaMediaInfo>(content);
    }

    bool step(qint64 steps)
    {
        if (!playlist) {
            noPlaylist();
            return false;
        }
        const int index = walk(playlist->getCurrentIndex(), steps);
        if (index < 0)
            return false;
        std::unique_ptr<RovaContent> content(playlist->getItem(index));
        if (!content) {
            const RovaError error(RovaError::RendererNoMedia,
                                  QStringLiteral("Playlist did not return content for index: %1").arg(index));
            q->issueStopCommand();
            Q_EMIT q->playlistHandlingError(error);
            return false;
        }
        takeCurrent(*content);
        return true;
    }

    // The index of the item \a uuid: the one after the current item when it is
    // that one, else its first place after the current item; -1 when it is not there.
    int indexOf(const QString& uuid) const
    {
        const int current = playlist->getCurrentIndex();
        const int next = playlist->getNext(current);
        if (next >= 0 && playlist->getItemMediaInfo(next).uuid() == uuid)
            return next;
        const int size = playlist->size();
        for (int step = 1; step <= size; ++step) {
            const int index = (qMax(current, -1) + step) % size;
            if (playlist->getItemMediaInfo(index).uuid() == uuid)
                return index;
        }
        return -1;
    }

    // The prepared next item is void; its lookup is abandoned.
    void voidNext()
    {
        nextContent = std::make_unique<RovaMediaInfo>();
        q->cancelNextPreparation();
    }

    void abandonCurrentFetch()
    {
        currentResult.reset();
        currentResultUuid.clear();
        queuedInfo.reset();
    }

    // Starts the current item's lookup. An identifier that cannot be looked up
    // stops playback with an error instead of leaving a play command waiting.
    bool startCurrentFetch(const RovaMediaInfo& info)
    {
        currentResult.reset(q->createResultSet(info));
        if (!currentResult) {
            currentResultUuid.clear();
            Q_EMIT q->playlistHandlingError(
                RovaError(RovaError::RendererMediaNotFound,
                          QStringLiteral("Cannot look up item \"%1\": not a valid item identifier!").arg(info.uuid())));
            q->issueStopCommand();
            return false;
        }
        currentResultUuid = info.uuid();
        QObject::connect(currentResult.get(), &QSparqlResult::finished, q, &RovaRendererPlaylistHandler::handleMetadata);
        return true;
    }

    // An item that the playlist gives with its location needs no lookup: what
    // the playlist holds for the current item is taken into it, and true is
    // returned. False for an item without a location of its own.
    bool takeOwnLocation()
    {
        const RovaMediaInfo info = playlist->getItemMediaInfo(playlist->getCurrentIndex());
        if (!info.isPlayable() || info.uuid() != currentContent->uuid())
            return false;
        const auto metadata = info.metaData();
        for (auto it = metadata.cbegin(); it != metadata.cend(); ++it)
            currentContent->appendMetaData(it.key(), it.value());
        return true;
    }

    void announce(int index, const RovaMediaInfo& info)
    {
        itemPlaying = index;
        // A copy: a receiver may replace the handler's own media info.
        const RovaMediaInfo copy = info;
        Q_EMIT q->currentItemChanged(index, copy);
    }

    void reannounce()
    {
        itemPlaying = -1;
        q->updateItemPlaying(q->currentIndex() >= 0 ? CurrentUri : NoUri);
    }
};

RovaRendererPlaylistHandler::RovaRendererPlaylistHandler()
    : QObject(nullptr)
    , d(new RovaRendererPlaylistHandlerPrivate(this))
{
}

RovaRendererPlaylistHandler::~RovaRendererPlaylistHandler()
{
    // Abandon the lookups first: no answer may reach a handler that is going.
    d->abandonCurrentFetch();
    d->nextResult.reset();
}

void RovaRendererPlaylistHandler::setStateMachine(QStateMachine* machine)
{
    d->gate.setMachine(machine);
}

void RovaRendererPlaylistHandler::setURI(const QString& uri)
{
    d->uri = uri;
}

void RovaRendererPlaylistHandler::setPlaylist(RovaPlaylist* playlist)
{
    if (d->playlist)
        disconnect(d->playlist, nullptr, this, nullptr);
    // Lookups for the old playlist's items are of no use any more.
    d->abandonCurrentFetch();
    cancelNextPreparation();

    d->playlist = playlist;
    d->currentContent.reset();
    d->nextContent.reset();
    d->itemPlaying = -1;
    Q_EMIT currentPlaylistChanged(playlist);
    if (!playlist) {
        updateItemPlaying(NoUri);
        return;
    }
    if (d->playlist != playlist)
        return; // a receiver assigned another playlist or deleted this one

    connect(playlist, &RovaPlaylist::playlistUpdated, this, &RovaRendererPlaylistHandler::playlistCurrentUpdated);
    connect(playlist, &RovaPlaylist::repeatModeChanged, this, &RovaRendererPlaylistHandler::repeatModeChanged);
    // A playlist deleted while assigned (rather than removed through the
    // registry) counts as unassigned from then on.
    connect(playlist, &QObject::destroyed, this, [this] { setPlaylist(nullptr); });

    if (playlist->getCurrentIndex() < 1)
        delete playlist->getItem(0);
    if (stepPlaylist(0)) {
        updateItemPlaying(CurrentUri);
        fetchBasicMetadata();
    }
}

RovaPlaylist* RovaRendererPlaylistHandler::playlist() const
{
    return d->playlist.data();
}

RovaMediaInfo* RovaRendererPlaylistHandler::currentContent() const
{
    return d->currentContent.get();
}

RovaMediaInfo* RovaRendererPlaylistHandler::nextContent()
{
    return d->nextContent.get();
}

bool RovaRendererPlaylistHandler::hasContent()
{
    return bool(d->currentContent);
}

int RovaRendererPlaylistHandler::currentIndex() const
{
    return d->playlist ? d->playlist->getCurrentIndex() : -1;
}

QString RovaRendererPlaylistHandler::currentItemID() const
{
    return d->currentContent ? d->currentContent->uuid() : QString();
}

QString RovaRendererPlaylistHandler::currentPlaylistID() const
{
    return d->playlist ? d->playlist->id() : QString();
}

bool RovaRendererPlaylistHandler::hasNext()
{
    return d->playlist && d->playlist->getNext(d->playlist->getCurrentIndex()) >= 0;
}

bool RovaRendererPlaylistHandler::metadataFetchOngoing()
{
    return bool(d->currentResult);
}

bool RovaRendererPlaylistHandler::gotoIndex(uint index)
{
    d->uri = QString();
    if (!d->playlist) {
        const RovaError error(RovaError::RendererNoPlaylist, QStringLiteral("Cannot goto index %1, no playlist!").arg(index));
        Q_EMIT playlistHandlingError(error);
        issueStopCommand();
        return false;
    }
    // Indexes past INT_MAX are past every playlist's end; they must not wrap round to negative ones.
    std::unique_ptr<RovaContent> content(index <= uint(INT_MAX) ? d->playlist->getItem(int(index)) : nullptr);
    if (!content) {
        const RovaError error(RovaError::RendererIndexOutOfBounds, QStringLiteral("No media to play at index: %1!").arg(index));
        Q_EMIT playlistHandlingError(error);
        issueStopCommand();
        return false;
    }
    d->currentContent = std::make_unique<RovaMediaInfo>(*content);
    d->voidNext();
    return true;
}

bool RovaRendererPlaylistHandler::gotoFirst()
{
    return gotoIndex(0);
}

bool RovaRendererPlaylistHandler::gotoLast()
{
    if (!d->playlist) {
        d->noPlaylist();
        return false;
    }
    return gotoIndex(uint(d->playlist->size() - 1));
}

bool RovaRendererPlaylistHandler::stepForward(uint steps)
{
    d->uri = QString();
    if (steps != 1 || !d->nextContent || !d->nextContent->isValid())
        return d->step(steps);

    // One step with a prepared next item: the item keeps what was looked up
    // for it, provided the playlist still names it as the next one.
    std::unique_ptr<RovaMediaInfo> prepared = std::move(d->nextContent);
    d->voidNext();
    if (!d->step(1))
        return false;
    if (d->currentContent->uuid() == prepared->uuid())
        d->currentContent = std::move(prepared);
    return true;
}

bool RovaRendererPlaylistHandler::stepBack(uint steps)
{
    d->uri = QString();
    if (d->nextContent)
        d->voidNext();
    return d->step(-qint64(steps));
}

bool RovaRendererPlaylistHandler::stepPlaylist(int steps)
{
    return d->step(steps);
}

void RovaRendererPlaylistHandler::handleEos(bool autoAdvance)
{
    if (autoAdvance && d->itemPlaying >= 0 && d->uri.isEmpty() && hasNext()) {
        // With the next item handed over, the implementation moves on by itself and
        // says so. Without it (its lookup failed or has not answered yet) nothing
        // would move on: step to it the ordinary way, which looks it up again.
        if (!d->nextContent || !d->nextContent->isPlayable())
            d->post(RovaRendererEvent::Next, QStateMachine::NormalPriority);
        return;
    }
    d->post(RovaRendererEvent::Pause, QStateMachine::NormalPriority);
    Q_EMIT noMoreItemsToPlay();
}

void RovaRendererPlaylistHandler::updateItemPlaying(int playingUri)
{
    switch (playingUri) {
    case CurrentUri: {
        if (!d->uri.isEmpty()) {
            RovaMediaInfo info;
            info.appendMetaData(uriKey, {QVariant(d->uri)});
            d->announce(-1, info);
            return;
        }
        if (!d->playlist) {
            qWarning("RovaRendererPlaylistHandler::updateItemPlaying, playlist has been deleted.");
            return;
        }
        const int index = d->playlist->getCurrentIndex();
        if (index == d->itemPlaying)
            return;
        if (!d->currentContent) {
            std::unique_ptr<RovaContent> content(d->playlist->getItem(index));
            if (!content) {
                qCritical("RovaRendererPlaylistHandler::updateItemPlaying, no item at current index!");
                return;
            }
            d->currentContent = std::make_unique<RovaMediaInfo>(*content);
        }
        d->announce(index, *d->currentContent);
        return;
    }
    case NextUri: {
        if (!d->nextContent)
            return;
        // The implementation plays the item it was handed, whatever the playlist
        // names as next by now (a repeat or shuffle change in the item's last
        // moments): that item is made current and announced.
        const int handed = d->nextContent->isValid() && d->playlist ? d->indexOf(d->nextContent->uuid()) : -1;
        if (handed >= 0) {
            d->uri = QString();
            std::unique_ptr<RovaMediaInfo> prepared = std::move(d->nextContent);
            d->voidNext();
            delete d->playlist->getItem(handed);
            d->currentContent = std::move(prepared);
        } else if (!stepForward(1)) {
            return;
        }
        if (!d->playlist || !d->currentContent)
            return;
        d->announce(d->playlist->getCurrentIndex(), *d->currentContent);
        return;
    }
    case NoUri:
        d->announce(-1, RovaMediaInfo());
        return;
    default:
        return;
    }
}

void RovaRendererPlaylistHandler::issueStopCommand() const
{
    d->post(RovaRendererEvent::Stop, QStateMachine::HighPriority);
}

void RovaRendererPlaylistHandler::cancelNextPreparation()
{
    d->nextResult.reset();
}

bool RovaRendererPlaylistHandler::fetchBasicMetadata()
{
    if (!d->playlist) {
        d->pendingError = RovaError(RovaError::RendererNoPlaylist, noPlaylistMessage);
        qDebug("RovaRendererPlaylistHandler::fetchBasicMetadata: No playlist to play!");
    } else if (d->playlist->getCurrentIndex() < 0) {
        d->pendingError = RovaError(RovaError::RendererNoMedia, QStringLiteral("Empty playlist!"));
        qDebug("RovaRendererPlaylistHandler::fetchBasicMetadata: Empty playlist!");
    } else if (!d->currentContent && !stepPlaylist(0)) {
        d->pendingError = RovaError(RovaError::RendererNoMedia, QStringLiteral("No valid media in playlist!"));
    }
    if (d->pendingError.code() != RovaError::NoError) {
        QTimer::singleShot(0, this, &RovaRendererPlaylistHandler::emitError);
        issueStopCommand();
        return false;
    }
    if (d->takeOwnLocation()) {
        // Ready at once; a lookup still out for an earlier item is of no use.
        d->abandonCurrentFetch();
        d->post(RovaRendererEvent::MetadataReady, QStateMachine::NormalPriority);
        return true;
    }
    if (d->currentResult) {
        // One lookup at a time: the running one's answer gives way to this item's.
        d->queuedInfo = std::make_unique<RovaMediaInfo>(*d->currentContent);
        return true;
    }
    return d->startCurrentFetch(*d->currentContent);
}

void RovaRendererPlaylistHandler::prepareNext(QStringList keys)
{
    if (!d->playlist) {
        qDebug("RovaRendererPlaylistHandler::prepareNext: nothing to do as no playlist assigned");
        return;
    }
    const int next = d->playlist->getNext(d->playlist->getCurrentIndex());
    // Whatever comes next now, the lookup of what came next before is of no use.
    cancelNextPreparation();
    if (next < 0) {
        d->nextContent = std::make_unique<RovaMediaInfo>();
        return;
    }
    d->nextContent.reset();
    const RovaMediaInfo info = d->playlist->getItemMediaInfo(next);
    if (info.uuid().isEmpty())
        return;
    d->nextContent = std::make_unique<RovaMediaInfo>(info);
    if (keys.size() != 1 || keys.constFirst() != uriKey) {
        qWarning("No metadata key or unsupported key(s) given");
        return;
    }
    if (info.isPlayable()) {
        // The item carries its location: the hint can be given from it as it is.
        d->post(RovaRendererEvent::NextMetadataReady, QStateMachine::NormalPriority);
        return;
    }
    d->nextResult.reset(createResultSet(info));
    if (d->nextResult)
        connect(d->nextResult.get(), &QSparqlResult::finished, this, &RovaRendererPlaylistHandler::handleNextMetadata);
}

bool RovaRendererPlaylistHandler::addResultToMediaInfo(RovaMediaInfo* mediaInfo, QSparqlResult* result)
{
    if (!mediaInfo || !result)
        return false;
    if (!result->first()) {
        qWarning("Unable to find media to play!");
        Q_EMIT playlistHandlingError(RovaError(RovaError::RendererMediaNotFound, QStringLiteral("No query results in result set!")));
        issueStopCommand();
        return false;
    }
    const QString url = result->stringValue(0);
    const QString count = result->stringValue(1);
    const QString duration = result->stringValue(2);
    if (url.isEmpty())
        return false;
    mediaInfo->appendMetaData(uriKey, {QVariant(QUrl::fromEncoded(url.toUtf8()))});
    // Unbound or not a number: 0.
    mediaInfo->appendMetaData(durationKey, {QVariant(duration.toInt())});
    mediaInfo->appendMetaData(playCountKey, {QVariant(count.toInt())});
    return true;
}

void RovaRendererPlaylistHandler::playlistCurrentUpdated(RovaPlaylist::RovaPlaylistUpdate update, int newIndex)
{
    if (!d->playlist) {
        qWarning("RovaRendererPlaylistHandler::playlistCurrentUpdated: playlist has been deleted.");
        return;
    }
    switch (update) {
    case RovaPlaylist::CurrentRemoved: {
        if (d->uri.isEmpty())
            d->post(RovaRendererEvent::Stop, QStateMachine::HighPriority);
        d->currentContent.reset();
        d->voidNext();
        std::unique_ptr<RovaContent> content(newIndex >= 0 ? d->playlist->getItem(newIndex) : nullptr);
        if (content)
            d->currentContent = std::make_unique<RovaMediaInfo>(*content);
        d->reannounce();
        return;
    }
    case RovaPlaylist::CurrentMoved:
        d->post(RovaRendererEvent::PrepareNext, QStateMachine::NormalPriority);
        d->reannounce();
        return;
    case RovaPlaylist::NextChanged:
        d->post(RovaRendererEvent::PrepareNext, QStateMachine::NormalPriority);
        return;
    case RovaPlaylist::NewContent: {
        d->currentContent.reset();
        std::unique_ptr<RovaContent> content(d->playlist->getItem(0));
        if (!content)
            return;
        d->currentContent = std::make_unique<RovaMediaInfo>(*content);
        d->reannounce();
        return;
    }
    }
    qWarning().nospace() << "Invalid RovaPlaylistUpdate value: (" << int(update) << ")!";
}

void RovaRendererPlaylistHandler::repeatModeChanged()
{
    d->post(RovaRendererEvent::RefreshNext, QStateMachine::NormalPriority);
}

void RovaRendererPlaylistHandler::handleMetadata()
{
    if (!d->currentResult || !d->currentResult->isFinished())
        return;
    // Taken out first: whatever a receiver of the signals below starts is its own.
    const std::unique_ptr<QSparqlResult> result = std::move(d->currentResult);
    const QString answered = std::exchange(d->currentResultUuid, QString());
    const bool queued = bool(d->queuedInfo);
    d->queuedInfo.reset();
    if (!d->currentContent)
        return;
    // A newer item waits, or the current item changed while the lookup ran:
    // this answer is not the current item's, look the current item up instead.
    if (queued || d->currentContent->uuid() != answered) {
        qDebug("queued info, refetching!");
        d->startCurrentFetch(*d->currentContent);
        return;
    }
    if (!result->hasError() && addResultToMediaInfo(d->currentContent.get(), result.get())) {
        d->post(RovaRendererEvent::MetadataReady, QStateMachine::NormalPriority);
        return;
    }
    const QString message = result->hasError() ? result->lastError().message() : QStringLiteral("No URL found!");
    qWarning() << message;
    Q_EMIT playlistHandlingError(RovaError(RovaError::RendererMediaNotFound, message));
    issueStopCommand();
}

void RovaRendererPlaylistHandler::handleNextMetadata()
{
    if (!d->nextResult || !d->nextResult->isFinished())
        return;
    const std::unique_ptr<QSparqlResult> result = std::move(d->nextResult);
    if (!d->nextContent || !d->nextContent->isValid())
        return;
    if (result->hasError()) {
        const QString message = result->lastError().message();
        Q_EMIT playlistHandlingError(RovaError(RovaError::RendererMediaNotFound, message));
        qWarning() << message;
        return;
    }
    if (addResultToMediaInfo(d->nextContent.get(), result.get()))
        d->post(RovaRendererEvent::NextMetadataReady, QStateMachine::NormalPriority);
}

QSparqlResult* RovaRendererPlaylistHandler::createResultSet(RovaMediaInfo mediaInfo)
{
    const QString uuid = mediaInfo.uuid();
    const qsizetype at = uuid.indexOf(separator);
    if (at < 0 || at + separator.size() >= uuid.size()) {
        qWarning() << "Invalid uuid found no '::' separator found!" << uuid;
        return nullptr;
    }
    const QString objectId = uuid.mid(at + separator.size());
    if (!isQueryableObjectId(objectId)) {
        qWarning() << "Invalid uuid, its object id cannot be looked up:" << uuid;
        return nullptr;
    }
    return d->connection->exec(QSparqlQuery(basicMetadataQuery.arg(objectId), QSparqlQuery::SelectStatement));
}

void RovaRendererPlaylistHandler::emitError()
{
    if (d->pendingError.code() == RovaError::NoError)
        return;
    // Cleared before the signal: a receiver may leave a new error behind.
    const RovaError error = std::exchange(d->pendingError, RovaError());
    Q_EMIT playlistHandlingError(error);
}
