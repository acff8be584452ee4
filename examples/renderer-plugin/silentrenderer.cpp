// SPDX-License-Identifier: LGPL-2.1-or-later
#include "silentrenderer.h"

#include <rovacontent.h>
#include <rovamediainfo.h>
#include <rovaplaylist.h>
#include <rovarendererplaylisthandler.h>

namespace {
const int itemLength = 30; // ms each item "plays"
}

//! [constructor]
SilentRenderer::SilentRenderer(QObject* parent)
    : RovaBasicRenderer(QStringLiteral("example-silent-renderer"), QStringLiteral("qrova-example-renderer"),
                        QStringLiteral("Silent renderer"), parent)
{
    m_item.setSingleShot(true);
    m_item.setInterval(itemLength);
    connect(&m_item, &QTimer::timeout, this, &SilentRenderer::endOfItem);
    m_hintWait.setSingleShot(true);
    m_hintWait.setInterval(5000);
    connect(&m_hintWait, &QTimer::timeout, this, [this]() { Q_EMIT rendererEos(); });
}
//! [constructor]

//! [hooks]
void SilentRenderer::doPlay(const RovaContent&)
{
    // Not reached: doPlay(const RovaMediaInfo&) below is the one the base calls.
}

void SilentRenderer::doPlay(const RovaMediaInfo& mediaInfo)
{
    // The base has looked the item up: "uri", "duration" and "play-count" are filled in.
    const QUrl uri = mediaInfo.firstMetaData(QStringLiteral("uri")).toUrl();
    if (!uri.isValid()) {
        Q_EMIT rendererError(RovaError(RovaError::RendererMediaNotFound, QStringLiteral("no uri to play")));
        return;
    }
    start(uri);
    // Confirm once playback really started (here: at once); the state machine
    // waits in its pending state until then.
    if (mediaInfo.firstMetaData(QStringLiteral("paused-position")).isValid()) {
        m_item.stop();
        Q_EMIT rendererPaused();
    } else {
        Q_EMIT rendererPlaying(CurrentUri);
    }
}

void SilentRenderer::doStop()
{
    m_item.stop();
    m_hintWait.stop();
    m_next.clear();
    Q_EMIT rendererStopped();
}

void SilentRenderer::doPause()
{
    m_item.stop();
    Q_EMIT rendererPaused();
}

void SilentRenderer::doResume()
{
    m_item.start();
    Q_EMIT rendererResumed();
}

void SilentRenderer::doSeek(int, RovaRenderer::SeekMode)
{
    // A real engine seeks here and, when it is done, keeps playing.
    Q_EMIT rendererSeeking();
    m_item.start();
}
//! [hooks]

//! [hint]
bool SilentRenderer::doNextHint(const RovaContent&)
{
    return true;
}

bool SilentRenderer::doNextHint(const RovaMediaInfo& mediaInfo)
{
    // The item to play on into at end of stream; an empty media info voids the hint.
    m_next = mediaInfo.firstMetaData(QStringLiteral("uri")).toUrl();
    // The item ended before its successor's hint came: play on now.
    if (m_hintWait.isActive() && m_next.isValid()) {
        m_hintWait.stop();
        endOfItem();
    }
    return true;
}

void SilentRenderer::endOfItem()
{
    if (m_next.isValid()) {
        // Move on without a gap and say so: the base then steps its playlist forward.
        start(m_next);
        m_next.clear();
        Q_EMIT rendererPlaying(NextUri);
    } else if (nextItemExpected()) {
        // There is a next item but its lookup has not answered yet: wait for the hint.
        m_hintWait.start();
    } else {
        // The end of the playlist: the base pauses and reports playbackCompleted().
        Q_EMIT rendererEos();
    }
}

bool SilentRenderer::nextItemExpected() const
{
    const RovaRendererPlaylistHandler* handler = playlistHandler();
    RovaPlaylist* playlist = handler->playlist();
    return property("rova_auto_advance").toBool() && playlist && playlist->getNext(handler->currentIndex()) >= 0;
}
//! [hint]

void SilentRenderer::start(const QUrl& uri)
{
    played << uri.fileName();
    m_item.start();
}
