// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarenderercommandeventtransition.h"

#include "rovabasicrenderer.h"
#include "rovabasicrenderer_p.h"
#include "rovarendererplaylisthandler.h"
#include "rovarenderertransitionstate.h"

#include <QDebug>
#include <QState>
#include <QUrl>

namespace {

const QString pausedPositionKey = QStringLiteral("paused-position");

} // namespace

RovaRendererCommandEventTransition::RovaRendererCommandEventTransition(
    RovaRendererEvent::RovaRendererEventType type, QAbstractState* target, RovaBasicRenderer& renderer,
    RovaRendererPlaylistHandler& handler)
    : m_eventType(type)
    , m_renderer(renderer)
    , m_handler(handler)
{
    if (target)
        setTargetState(target);
}

RovaRendererCommandEventTransition::~RovaRendererCommandEventTransition() = default;

RovaRendererEvent::RovaRendererEventType RovaRendererCommandEventTransition::eventType() const
{
    return m_eventType;
}

bool RovaRendererCommandEventTransition::eventTest(QEvent* event)
{
    return event && int(event->type()) == int(m_eventType);
}

bool RovaRendererCommandEventTransition::autoAdvance() const
{
    return m_renderer.property(RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE.toLatin1().constData()).toBool();
}

void RovaRendererCommandEventTransition::fetchCurrent()
{
    m_renderer.setStartedWithoutLookup(false);
    // A step into the transition state starts the new item once it is looked up.
    if (qobject_cast<RovaRendererTransitionState*>(targetState()))
        m_renderer.d->startAwaitsLookup = true;
    m_handler.fetchBasicMetadata();
}

void RovaRendererCommandEventTransition::playCurrent()
{
    RovaBasicRendererPrivate& d = *m_renderer.d;
    if (d.startPaused && !m_handler.currentContent()->metaData().contains(pausedPositionKey))
        m_handler.currentContent()->appendMetaData(pausedPositionKey, {QVariant(0u)});
    d.startAwaitsLookup = d.startPaused = d.stopped = d.hintGiven = false;
    // Playback is back on the playlist: a URL given directly before is no longer what plays.
    m_handler.setURI(QString());
    m_renderer.doPlay(*m_handler.currentContent());
    // doPlay() may have led to a new current item; strip the key from whatever is current now.
    if (RovaMediaInfo* current = m_handler.currentContent())
        current->removeMetaData(pausedPositionKey);
}

void RovaRendererCommandEventTransition::startCurrentItem()
{
    // A play or pause-at command says how the item starts, whatever a pause held before.
    m_renderer.d->startAwaitsLookup = true;
    m_renderer.d->startPaused = false;
    if (m_handler.metadataFetchOngoing())
        return;
    if (m_handler.hasContent() && m_handler.currentContent()->isPlayable()) {
        m_renderer.setStartedWithoutLookup(true);
        playCurrent();
        return;
    }
    fetchCurrent();
}

void RovaRendererCommandEventTransition::playUri(const QVariant& data)
{
    RovaMediaInfo info;
    QMap<QString, QList<QVariant>> meta;
    QUrl url;
    if (data.typeId() == QMetaType::QVariantList) {
        const QVariantList list = data.toList();
        if (!list.isEmpty())
            url = list.first().toUrl();
        if (list.size() > 1) {
            const QVariant second = list.at(1);
            if (second.typeId() == QMetaType::QString)
                meta.insert(QStringLiteral("mime-type"), {second});
            else if (second.typeId() == QMetaType::UInt && second.toUInt() != 0)
                meta.insert(QStringLiteral("start-position"), {second});
        }
    } else if (data.typeId() == QMetaType::QUrl) {
        url = data.toUrl();
    } else {
        qCritical("Invalid playURI parameters given!");
    }
    meta.insert(QStringLiteral("uri"), {QVariant(url)});
    m_handler.setURI(QString::fromLatin1(url.toEncoded()));
    info.setMetaData(meta);
    RovaBasicRendererPrivate& d = *m_renderer.d;
    d.startAwaitsLookup = d.startPaused = d.stopped = d.hintGiven = false;
    m_renderer.doPlay(info);
}

void RovaRendererCommandEventTransition::onTransition(QEvent* event)
{
    const QVariant data = static_cast<RovaRendererEvent*>(event)->data;
    RovaBasicRendererPrivate& d = *m_renderer.d;
    // Voids the implementation's next-item hint, unless the implementation
    // refuses because it already plays on into that item: then the item stays
    // the next one, and a change of the playlist or its modes takes effect from
    // the item after it. A refusal is overruled when auto advance is off or the
    // item has left the playlist. True when the hint was voided.
    const auto voidHint = [&] {
        const bool voided = m_renderer.doNextHint(RovaMediaInfo());
        RovaMediaInfo* next = m_handler.nextContent();
        RovaPlaylist* playlist = m_handler.playlist();
        if (!voided && d.hintGiven && autoAdvance() && next && next->isValid() && playlist) {
            for (int index = 0, size = playlist->size(); index < size; ++index) {
                if (playlist->getItemMediaInfo(index).uuid() == next->uuid())
                    return false;
            }
        }
        d.hintGiven = false;
        return true;
    };
    switch (m_eventType) {
    case RovaRendererEvent::Play:
        startCurrentItem();
        break;
    case RovaRendererEvent::PlayURI:
        playUri(data);
        break;
    case RovaRendererEvent::Stop:
        d.startAwaitsLookup = d.startPaused = d.hintGiven = false;
        d.stopped = true;
        m_handler.cancelNextPreparation();
        m_renderer.doStop();
        break;
    case RovaRendererEvent::Pause:
        // A start waiting for its lookup is held: the item will be loaded paused.
        if (d.startAwaitsLookup)
            d.startPaused = true;
        // A stopped implementation has nothing to pause; it stays stopped.
        if (!d.stopped)
            m_renderer.doPause();
        break;
    case RovaRendererEvent::Resume:
        // While the new item is looked up the audio held is the old item's:
        // the new item plays once it is looked up.
        if (d.startAwaitsLookup) {
            d.startPaused = false;
            break;
        }
        d.stopped = false;
        m_renderer.doResume();
        break;
    case RovaRendererEvent::Next:
        if (m_handler.stepForward(1) || m_handler.gotoFirst()) {
            m_handler.updateItemPlaying(RovaBasicRenderer::CurrentUri);
            fetchCurrent();
        }
        break;
    case RovaRendererEvent::Previous:
        if (m_handler.stepBack(1) || m_handler.gotoLast()) {
            m_handler.updateItemPlaying(RovaBasicRenderer::CurrentUri);
            fetchCurrent();
        }
        break;
    case RovaRendererEvent::GotoIndex:
        m_handler.cancelNextPreparation();
        if (m_handler.gotoIndex(data.toUInt())) {
            m_handler.updateItemPlaying(RovaBasicRenderer::CurrentUri);
            fetchCurrent();
        }
        break;
    case RovaRendererEvent::SetPosition: {
        const QVariantList list = data.toList();
        m_renderer.doSeek(list.value(0).toInt(), RovaRenderer::SeekMode(list.value(1).toInt()));
        break;
    }
    case RovaRendererEvent::PauseAt:
        if (!m_handler.hasContent()) {
            qWarning("No playlist content to set pauseAt()!");
            break;
        }
        m_handler.currentContent()->appendMetaData(pausedPositionKey, {QVariant(data.toUInt())});
        startCurrentItem();
        break;
    case RovaRendererEvent::PrepareNext:
        if (!voidHint())
            break;
        if (autoAdvance() && m_handler.hasContent() && !m_handler.metadataFetchOngoing())
            m_handler.prepareNext({QStringLiteral("uri")});
        break;
    case RovaRendererEvent::RefreshNext:
        if (!voidHint())
            break;
        if (autoAdvance())
            m_handler.prepareNext({QStringLiteral("uri")});
        break;
    case RovaRendererEvent::NextMetadataReady:
        if (RovaMediaInfo* next = m_handler.nextContent()) {
            m_renderer.doNextHint(*next);
            d.hintGiven = next->isPlayable();
        }
        break;
    case RovaRendererEvent::WaitTimeout:
        d.startAwaitsLookup = d.startPaused = false;
        break;
    case RovaRendererEvent::MetadataReady:
        // A start that found the item already looked up has played it: this
        // answer is the same item's, and playing it again would lose a
        // pause-at position.
        if (m_handler.metadataFetchOngoing() || !m_handler.hasContent())
            break;
        // Paused or stopping, the renderer starts nothing that no command asked for.
        if (!targetState() && !d.startAwaitsLookup)
            break;
        if (m_renderer.startedWithoutLookup()) {
            m_renderer.setStartedWithoutLookup(false);
            break;
        }
        playCurrent();
        break;
    case RovaRendererEvent::ItemPlaying:
        d.hintGiven = false;
        m_handler.updateItemPlaying(data.toInt());
        break;
    case RovaRendererEvent::Eos:
        m_handler.handleEos(autoAdvance());
        break;
    default:
        qWarning("Unkown event type in Command transition!");
        break;
    }
}

void addCommandTransitions(QState* source, QMap<RovaRendererEvent::RovaRendererEventType, QAbstractState*> targets,
                           RovaBasicRenderer* renderer, RovaRendererPlaylistHandler* handler)
{
    if (!source || !renderer || !handler) {
        qWarning("addCommandTransitions: a source state, a renderer and a handler are needed.");
        return;
    }
    for (auto it = targets.cbegin(); it != targets.cend(); ++it)
        source->addTransition(new RovaRendererCommandEventTransition(it.key(), it.value(), *renderer, *handler));
}
