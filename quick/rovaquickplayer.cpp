// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaquickplayer.h"
#include "rovaquickplayqueue.h"
#include "rovaskiprule.h"

#include <rovabasicrenderer.h>
#include <rovaplugincontrolinterface.h>
#include <rovaregistry.h>
#include <rovarendererpolicyplugin.h>

#include <QFile>
#include <QQmlInfo>

namespace {
const QString defaultRenderer = QStringLiteral("RovaGStreamerRenderer");
const QString volumeKey = QStringLiteral("volume");
const QString sinkKey = QStringLiteral("audio-sink");
} // namespace

RovaQuickPlayer::RovaQuickPlayer(QObject* parent)
    : QObject(parent)
{
    m_ticker.setInterval(POSITION_INTERVAL);
    connect(&m_ticker, &QTimer::timeout, this, [this] {
        if (m_renderer)
            m_renderer->getPosition(this, SLOT(positionResults(uint)));
    });
    m_clock.start();
}

RovaQuickPlayer::~RovaQuickPlayer()
{
    detach();
}

RovaBasicRenderer* RovaQuickPlayer::renderer() const
{
    return m_renderer;
}

QObject* RovaQuickPlayer::rendererObject() const
{
    return renderer();
}

void RovaQuickPlayer::componentComplete()
{
    m_complete = true;
    attach();
}

void RovaQuickPlayer::attach()
{
    RovaRegistry* registry = rovaQuickRegistry();
    RovaBasicRenderer* renderer = qobject_cast<RovaBasicRenderer*>(registry->renderer(m_rendererUuid.isEmpty() ? defaultRenderer : m_rendererUuid));
    if (!renderer && m_rendererUuid.isEmpty()) { // any other that plays a playlist
        const QList<RovaRenderer*> renderers = registry->renderers();
        for (RovaRenderer* candidate : renderers) {
            if (!renderer)
                renderer = qobject_cast<RovaBasicRenderer*>(candidate);
        }
    }
    if (!renderer) {
        const QString message = m_rendererUuid.isEmpty() ? QStringLiteral("no renderer plugin in %1").arg(RovaRegistry::pluginDirectory())
                                                         : QStringLiteral("no renderer \"%1\" in %2").arg(m_rendererUuid, RovaRegistry::pluginDirectory());
        // Told on the next turn, once every handler of the document is connected.
        QTimer::singleShot(0, this, [this, message] {
            if (!m_renderer)
                fail(RovaError::RendererDeviceUnavailable, message);
        });
        return;
    }
    m_renderer = renderer;
    m_control = registry->pluginControlInterface(renderer->pluginName());
    connect(renderer, &RovaRenderer::stateChanged, this, &RovaQuickPlayer::stateChanged);
    connect(renderer, &RovaRenderer::mediaChanged, this, &RovaQuickPlayer::mediaChanged);
    connect(renderer, &RovaRenderer::error, this, &RovaQuickPlayer::rendererError);
    connect(renderer, &RovaRenderer::playbackCompleted, this, &RovaQuickPlayer::endOfQueue);
    if (m_control) {
        if (!m_audioSink.isEmpty() && !m_control->setSetting(sinkKey, m_audioSink))
            fail(RovaError::RendererDeviceUnavailable, QStringLiteral("the renderer does not take the audio sink \"%1\"").arg(m_audioSink));
        m_control->setSetting(volumeKey, double(m_volume));
    }
    applyPolicy();
    assignQueue();
    Q_EMIT availableChanged();
}

void RovaQuickPlayer::detach()
{
    m_ticker.stop();
    if (!m_renderer)
        return;
    disconnect(m_renderer, nullptr, this, nullptr);
    // Unless another player has taken the renderer since.
    if (m_assigned && m_renderer->property("rovaQuickPlaylist").value<QObject*>() == m_assigned.data()) {
        m_renderer->stop();
        m_renderer->assignPlaylist(nullptr);
    }
    m_assigned = nullptr;
    m_renderer = nullptr;
}

void RovaQuickPlayer::assignQueue()
{
    if (!m_renderer)
        return;
    // An empty queue is no playlist to the renderer (it would look for a first item).
    RovaPlaylist* playlist = m_queue && m_queue->rowCount() > 0 ? m_queue->playlist() : nullptr;
    if (m_assigned == playlist)
        return;
    m_assigned = playlist;
    m_renderer->setProperty("rovaQuickPlaylist", QVariant::fromValue<QObject*>(playlist));
    m_renderer->assignPlaylist(playlist);
}

void RovaQuickPlayer::applyPolicy()
{
    // Without the policy plugin the renderer keeps its built-in policy, which grants everything.
    if (!m_renderer || !QFile::exists(RovaRendererPolicyPlugin::defaultPolicyPluginPath()))
        return;
    if (!m_renderer->setDefaultRendererPolicy(m_background ? RovaRendererPolicy::DefaultGroup : RovaRendererPolicy::PlayerGroup))
        qmlWarning(this) << RovaRendererPolicyPlugin::defaultPolicyPluginPath() << " does not load, playing without audio focus";
}

void RovaQuickPlayer::setQueue(RovaQuickPlayQueue* queue)
{
    if (queue == m_queue)
        return;
    if (m_queue)
        disconnect(m_queue, nullptr, this, nullptr);
    m_queue = queue;
    if (queue) {
        connect(queue, &RovaQuickPlayQueue::playlistReplaced, this, &RovaQuickPlayer::assignQueue);
        connect(queue, &RovaQuickPlayQueue::countChanged, this, &RovaQuickPlayer::assignQueue);
    }
    assignQueue();
    Q_EMIT queueChanged();
}

void RovaQuickPlayer::setRendererUuid(const QString& uuid)
{
    if (uuid == m_rendererUuid)
        return;
    m_rendererUuid = uuid;
    Q_EMIT rendererUuidChanged();
    if (!m_complete)
        return;
    const bool had = m_renderer;
    detach();
    attach();
    if (had && !m_renderer)
        Q_EMIT availableChanged();
}

void RovaQuickPlayer::setAudioSink(const QString& sink)
{
    if (sink == m_audioSink)
        return;
    m_audioSink = sink;
    Q_EMIT audioSinkChanged();
    if (m_control && !m_control->setSetting(sinkKey, sink))
        fail(RovaError::RendererDeviceUnavailable, QStringLiteral("the renderer does not take the audio sink \"%1\"").arg(sink));
}

void RovaQuickPlayer::setBackground(bool background)
{
    if (background == m_background)
        return;
    m_background = background;
    Q_EMIT backgroundChanged();
    applyPolicy();
}

void RovaQuickPlayer::setSkipUnplayable(bool skip)
{
    if (skip == m_skipUnplayable)
        return;
    m_skipUnplayable = skip;
    Q_EMIT skipUnplayableChanged();
}

void RovaQuickPlayer::setVolume(qreal volume)
{
    volume = qBound<qreal>(0.0, volume, 1.0);
    if (qFuzzyCompare(volume + 1.0, m_volume + 1.0))
        return;
    m_volume = volume;
    if (m_control)
        m_control->setSetting(volumeKey, double(volume));
    Q_EMIT volumeChanged();
}

bool RovaQuickPlayer::ready()
{
    if (!m_renderer) {
        fail(RovaError::RendererDeviceUnavailable, QStringLiteral("no renderer plugin in %1").arg(RovaRegistry::pluginDirectory()));
        return false;
    }
    if (!m_queue || m_queue->rowCount() == 0) {
        fail(RovaError::RendererNoPlaylist, QStringLiteral("the play queue is empty"));
        return false;
    }
    return true;
}

void RovaQuickPlayer::play()
{
    if (!ready())
        return;
    if (m_state == PausedState)
        return resume();
    m_unplayable.clear();
    if (m_queue->playlist()->getCurrentIndex() < 0)
        m_renderer->gotoIndex(0);
    m_renderer->play();
}

void RovaQuickPlayer::playIndex(int row)
{
    if (!ready())
        return;
    if (row < 0 || row >= m_queue->rowCount())
        return fail(RovaError::RendererIndexOutOfBounds, QStringLiteral("the play queue has no row %1").arg(row));
    m_unplayable.clear();
    m_skipFrom = -1;
    m_renderer->gotoIndex(uint(row));
    if (m_state != PlayingState)
        m_renderer->play();
}

void RovaQuickPlayer::pause()
{
    if (m_renderer)
        m_renderer->pause();
}

void RovaQuickPlayer::resume()
{
    if (m_renderer)
        m_renderer->resume();
}

void RovaQuickPlayer::stop()
{
    m_skipFrom = -1;
    if (m_renderer)
        m_renderer->stop();
}

void RovaQuickPlayer::next()
{
    if (ready())
        m_renderer->next();
}

void RovaQuickPlayer::previous()
{
    if (ready())
        m_renderer->previous();
}

void RovaQuickPlayer::seek(qint64 position)
{
    if (!m_renderer || position < 0)
        return;
    const int seconds = int(qMin<qint64>(position / 1000, INT_MAX));
    m_renderer->setPosition(seconds);
    m_lastSeconds = seconds;
    m_anchor = qint64(seconds) * 1000;
    m_anchorTime = m_clock.elapsed();
    setPosition(m_anchor);
}

void RovaQuickPlayer::positionResults(uint seconds)
{
    const qint64 low = qint64(seconds) * 1000;
    const qint64 now = m_clock.elapsed();
    qint64 estimate = m_state == PlayingState ? m_anchor + (now - m_anchorTime) : m_position;
    // The renderer counts whole seconds: the moment the count goes up is the best clock.
    if (m_state == PlayingState && qint64(seconds) == m_lastSeconds + 1)
        estimate = low;
    estimate = qBound(low, estimate, low + 999);
    m_lastSeconds = int(seconds);
    m_anchor = estimate;
    m_anchorTime = now;
    setPosition(estimate);
}

void RovaQuickPlayer::setPosition(qint64 position)
{
    if (position == m_position)
        return;
    m_position = position;
    Q_EMIT positionChanged();
}

void RovaQuickPlayer::stateChanged(RovaRenderer::State state)
{
    m_rendererState = state;
    PlaybackState shown = m_state;
    switch (state) {
    case RovaRenderer::Playing:
        m_unplayable.clear();
        m_anchor = m_position;
        m_anchorTime = m_clock.elapsed();
        m_ticker.start();
        shown = PlayingState;
        break;
    case RovaRenderer::Paused:
        m_ticker.stop();
        shown = PausedState;
        break;
    case RovaRenderer::Stopped:
        m_ticker.stop();
        m_lastSeconds = -1;
        setPosition(0);
        shown = StoppedState;
        // A song that failed is left once the renderer has stopped on it.
        if (m_skipFrom >= 0)
            QTimer::singleShot(0, this, &RovaQuickPlayer::skip);
        break;
    case RovaRenderer::Transitioning:
        break;
    }
    if (shown != m_state) {
        m_state = shown;
        Q_EMIT playbackStateChanged();
    }
}

void RovaQuickPlayer::mediaChanged(int index, const RovaContent& content)
{
    QVariantMap values;
    RovaQuickSong song;
    if (index >= 0 && m_queue) {
        const QString id = content.uuid().section(QStringLiteral("::"), 1);
        const QList<RovaQuickSong> songs = m_queue->songs();
        for (const RovaQuickSong& candidate : songs) {
            if (candidate.id == id)
                song = candidate;
        }
        m_queue->updateCurrent();
    } else {
        song = RovaQuickSong::fromContent(content);
    }
    const QHash<int, QByteArray> roles = RovaQuickSongRoles::names();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it)
        values.insert(QString::fromLatin1(it.value()), RovaQuickSongRoles::value(song, it.key()));
    // The same song announced again (sorting or shuffling moved it) plays on where it is.
    if (song.id.isEmpty() || song.id != std::exchange(m_currentId, song.id)) {
        m_lastSeconds = 0;
        m_anchor = 0;
        m_anchorTime = m_clock.elapsed();
        setPosition(0);
    }
    if (m_duration != song.duration * 1000LL) {
        m_duration = song.duration * 1000LL;
        Q_EMIT durationChanged();
    }
    if (values != m_metaData) {
        m_metaData = values;
        Q_EMIT metaDataChanged();
    }
    const int current = m_queue ? m_queue->currentIndex() : -1;
    if (current != m_currentIndex) {
        m_currentIndex = current;
        Q_EMIT currentIndexChanged();
    }
}

void RovaQuickPlayer::rendererError(const RovaError& error)
{
    fail(error.code(), error.message());
    if (!m_skipUnplayable || !m_queue || !rovaIsItemError(error.code()))
        return;
    // The song named in the message (it may be the one queued after the current), else the current one.
    int failed = -1;
    qsizetype named = 0;
    const QList<RovaQuickSong> songs = m_queue->songs();
    for (const RovaQuickSong& song : songs) {
        if (song.location.size() > named && error.message().contains(song.location)) {
            failed = m_queue->rowOfId(song.id);
            named = song.location.size();
        }
    }
    if (failed < 0)
        failed = m_queue->playlist()->getCurrentIndex();
    m_skipFrom = qMax(0, failed);
    if (m_renderer && m_rendererState == RovaRenderer::Stopped)
        QTimer::singleShot(0, this, &RovaQuickPlayer::skip);
}

void RovaQuickPlayer::skip()
{
    const int failed = std::exchange(m_skipFrom, -1);
    if (failed < 0 || !m_renderer || !m_queue || m_rendererState != RovaRenderer::Stopped)
        return;
    m_unplayable.insert(failed);
    const int next = rovaIndexAfterFailed(m_queue->playlist(), failed, m_unplayable);
    if (next < 0)
        return Q_EMIT endOfQueue();
    m_renderer->gotoIndex(uint(next));
    m_renderer->play();
}

void RovaQuickPlayer::fail(int code, const QString& message)
{
    if (message != m_errorString) {
        m_errorString = message;
        Q_EMIT errorStringChanged();
    }
    Q_EMIT errorOccurred(code, message);
}
