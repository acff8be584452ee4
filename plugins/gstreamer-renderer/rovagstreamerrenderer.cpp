// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovagstreamerrenderer.h"

#include "rovagstreamerengine.h"

#include <rovacallbackhelper.h>
#include <rovarendererplaylisthandler.h>

#include <QPointer>
#include <QTimer>

const QString RovaGStreamerRenderer::RENDERER_UUID = QStringLiteral("RovaGStreamerRenderer");
const QString RovaGStreamerRenderer::PLUGIN_NAME = QStringLiteral("qrova-gstreamer-renderer");

namespace {

// "uri" as the store gives it (an encoded URL) or as an application gives it (a QUrl or a local path).
QUrl uriOf(const RovaMediaInfo& mediaInfo)
{
    const QVariant value = mediaInfo.firstMetaData(QStringLiteral("uri"));
    if (value.typeId() == QMetaType::QUrl)
        return value.toUrl();
    const QString text = value.toString();
    if (text.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(text);
    return QUrl::fromEncoded(text.toUtf8());
}

qint64 secondsToMs(const QVariant& value)
{
    return value.isValid() ? qint64(value.toUInt()) * 1000 : 0;
}

} // namespace

RovaGStreamerRenderer::RovaGStreamerRenderer(QObject* parent)
    : RovaBasicRenderer(RENDERER_UUID, PLUGIN_NAME, QStringLiteral("GStreamer audio renderer"), parent)
    , m_engine(new RovaGStreamerEngine(this))
{
    connect(this, &RovaRenderer::stateChanged, this, [this](RovaRenderer::State state) { m_reported = state; });
    connect(m_engine, &RovaGStreamerEngine::playing, this, &RovaGStreamerRenderer::announcePlaying);
    connect(m_engine, &RovaGStreamerEngine::paused, this, &RovaBasicRenderer::rendererPaused);
    connect(m_engine, &RovaGStreamerEngine::resumed, this, &RovaBasicRenderer::rendererResumed);
    connect(m_engine, &RovaGStreamerEngine::seeked, this, &RovaBasicRenderer::rendererSeeking);
    connect(m_engine, &RovaGStreamerEngine::stopped, this, &RovaBasicRenderer::rendererStopped);
    connect(m_engine, &RovaGStreamerEngine::endOfStream, this, &RovaBasicRenderer::rendererEos);
    connect(m_engine, &RovaGStreamerEngine::failed, this,
            [this](RovaError::Code code, const QString& message) { Q_EMIT rendererError(RovaError(code, message)); });
}

RovaGStreamerRenderer::~RovaGStreamerRenderer()
{
    // The pipeline goes before the base's machine, so no hook runs on a half-destroyed renderer.
    delete m_engine;
    m_engine = nullptr;
}

void RovaGStreamerRenderer::announcePlaying(int item)
{
    if (item == RovaGStreamerEngine::NextItem) {
        if (m_reported == RovaRenderer::Transitioning)
            return; // the application has moved elsewhere; that item is about to be played
        if (m_reported == RovaRenderer::Paused) { // announce the item without leaving the pause
            Q_EMIT rendererReadyForNext(NextUri);
            return;
        }
    }
    Q_EMIT rendererPlaying(item);
}

// Whether the playlist has an item \a stepsAhead steps after the current one
// that the base will hand over as a hint.
bool RovaGStreamerRenderer::playlistHasItem(int stepsAhead) const
{
    if (m_playingUri || !property(ROVA_RENDERER_PROPERTY_AUTO_ADVANCE.toLatin1().constData()).toBool())
        return false;
    RovaPlaylist* playlist = playlistHandler() ? playlistHandler()->playlist() : nullptr;
    int index = playlist ? playlist->getCurrentIndex() : -1;
    for (int step = 0; step < stepsAhead && index >= 0; ++step)
        index = playlist->getNext(index);
    return index >= 0;
}

void RovaGStreamerRenderer::doPlay(const RovaContent& content)
{
    doPlay(RovaMediaInfo(content));
}

void RovaGStreamerRenderer::doPlay(const RovaMediaInfo& mediaInfo)
{
    m_playingUri = mediaInfo.uuid().isEmpty(); // a URI given directly, not a playlist item
    const QVariant pausedAt = mediaInfo.firstMetaData(QStringLiteral("paused-position"));
    const qint64 startMs = pausedAt.isValid() ? secondsToMs(pausedAt)
                                              : secondsToMs(mediaInfo.firstMetaData(QStringLiteral("start-position")));
    m_engine->play(uriOf(mediaInfo), startMs, pausedAt.isValid(), playlistHasItem(1));
}

void RovaGStreamerRenderer::doStop()
{
    m_engine->stop();
}

void RovaGStreamerRenderer::doPause()
{
    m_engine->pause();
}

void RovaGStreamerRenderer::doResume()
{
    m_engine->resume();
}

void RovaGStreamerRenderer::doSeek(int seconds, RovaRenderer::SeekMode mode)
{
    m_engine->seek(qint64(seconds) * 1000, mode == RovaRenderer::SeekKeyFrame);
}

bool RovaGStreamerRenderer::doNextHint(const RovaContent& content)
{
    return doNextHint(RovaMediaInfo(content));
}

bool RovaGStreamerRenderer::doNextHint(const RovaMediaInfo& mediaInfo)
{
    const QUrl uri = uriOf(mediaInfo);
    if (uri.isEmpty())
        return m_engine->clearNextUri(playlistHasItem(1));
    m_engine->setNextUri(uri, playlistHasItem(2));
    return true;
}

bool RovaGStreamerRenderer::getPosition(QObject* receiver, const char* member)
{
    if (!RovaCallbackHelper::checkGetPositionCallback(receiver, member))
        return false;
    const QByteArray slot(member);
    QTimer::singleShot(0, this, [this, target = QPointer<QObject>(receiver), slot] {
        if (target)
            RovaCallbackHelper::invokeGetPositionCallback(this, uint(qMax<qint64>(0, m_engine->position()) / 1000),
                                                          target, slot.constData());
    });
    return true;
}

bool RovaGStreamerRenderer::getCurrentMediaInfo(QObject* receiver, const char* member, const QString& key)
{
    if (!RovaCallbackHelper::checkGetMediaInfoCallback(receiver, member))
        return false;
    const QByteArray slot(member);
    QTimer::singleShot(0, this, [this, target = QPointer<QObject>(receiver), slot, key] {
        if (!target)
            return;
        RovaMediaInfo info;
        const auto add = [&](const QString& name, const QVariant& value) {
            if (key.isEmpty() || key == name)
                info.appendMetaData(name, {value});
        };
        add(QStringLiteral("uri"), m_engine->currentUri());
        add(QStringLiteral("position"), int(qMax<qint64>(0, m_engine->position()) / 1000));
        add(QStringLiteral("duration"), int(qMax<qint64>(0, m_engine->duration()) / 1000));
        RovaCallbackHelper::invokeGetMediaInfoCallback(this, info, target, slot.constData());
    });
    return true;
}
