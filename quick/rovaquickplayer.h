// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAQUICKPLAYER_H
#define ROVAQUICKPLAYER_H

#include "rovaquickplayqueue.h"

#include <rovabasicrenderer.h>
#include <rovaerror.h>
#include <rovarenderer.h>

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QSet>
#include <QTimer>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class RovaPluginControlInterface;

/*!
    Plays a PlayQueue with a renderer of the registry, in QML `Player`: the
    GStreamer renderer unless `rendererUuid` names another.

    Commands go to the renderer and return at once; `playbackState` follows what
    the renderer reports. `position` and `duration` are in milliseconds; while
    playing, the position is refreshed five times a second (the renderer counts
    whole seconds, the player the time in between). `metaData` describes the
    current song with the queue's roles. A song that cannot be played is
    reported with errorOccurred() and, while `skipUnplayable` is on, skipped;
    endOfQueue() says that nothing more is left to play.

    The player takes the audio focus through the default policy plugin when it
    is installed; with `background` on it plays alongside other players instead.
    A renderer serves one player at a time.
*/
class RovaQuickPlayer : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_NAMED_ELEMENT(Player)
    Q_PROPERTY(RovaQuickPlayQueue* queue READ queue WRITE setQueue NOTIFY queueChanged)
    Q_PROPERTY(QString rendererUuid READ rendererUuid WRITE setRendererUuid NOTIFY rendererUuidChanged)
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)
    Q_PROPERTY(QString audioSink READ audioSink WRITE setAudioSink NOTIFY audioSinkChanged)
    Q_PROPERTY(bool background READ background WRITE setBackground NOTIFY backgroundChanged)
    Q_PROPERTY(bool skipUnplayable READ skipUnplayable WRITE setSkipUnplayable NOTIFY skipUnplayableChanged)
    Q_PROPERTY(PlaybackState playbackState READ playbackState NOTIFY playbackStateChanged)
    Q_PROPERTY(qint64 position READ position NOTIFY positionChanged)
    Q_PROPERTY(qint64 duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(qreal volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(QVariantMap metaData READ metaData NOTIFY metaDataChanged)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY currentIndexChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY errorStringChanged)
    /*! The RovaBasicRenderer in use (null without one), for C++ code that works with the library directly. */
    Q_PROPERTY(QObject* renderer READ rendererObject NOTIFY availableChanged)

public:
    /*! What the renderer does. */
    enum PlaybackState {
        StoppedState = 0, ///< nothing plays
        PlayingState = 1, ///< a song plays
        PausedState = 2 ///< a song is paused
    };
    Q_ENUM(PlaybackState)

    /*! The interval of position updates while playing, in milliseconds. */
    static constexpr int POSITION_INTERVAL = 200;

    explicit RovaQuickPlayer(QObject* parent = nullptr);
    ~RovaQuickPlayer() override;

    RovaQuickPlayQueue* queue() const { return m_queue; }
    void setQueue(RovaQuickPlayQueue* queue);
    QString rendererUuid() const { return m_rendererUuid; }
    void setRendererUuid(const QString& uuid);
    bool available() const { return m_renderer; }
    QString audioSink() const { return m_audioSink; }
    void setAudioSink(const QString& sink);
    bool background() const { return m_background; }
    void setBackground(bool background);
    bool skipUnplayable() const { return m_skipUnplayable; }
    void setSkipUnplayable(bool skip);
    PlaybackState playbackState() const { return m_state; }
    qint64 position() const { return m_position; }
    qint64 duration() const { return m_duration; }
    qreal volume() const { return m_volume; }
    void setVolume(qreal volume);
    QVariantMap metaData() const { return m_metaData; }
    int currentIndex() const { return m_currentIndex; }
    QString errorString() const { return m_errorString; }

    /*! The renderer in use; null without one. */
    RovaBasicRenderer* renderer() const;
    QObject* rendererObject() const;

    void classBegin() override { }
    void componentComplete() override;

public Q_SLOTS:
    /*! Plays the queue from its current song (the first when there is none), or resumes when paused. */
    void play();
    void pause();
    void resume();
    void stop();
    void next();
    void previous();
    /*! Plays the song at row \a row of the queue. */
    void playIndex(int row);
    /*! Moves to \a position milliseconds into the current song (the renderer seeks to whole seconds). */
    void seek(qint64 position);

Q_SIGNALS:
    void queueChanged();
    void rendererUuidChanged();
    void availableChanged();
    void audioSinkChanged();
    void backgroundChanged();
    void skipUnplayableChanged();
    void playbackStateChanged();
    void positionChanged();
    void durationChanged();
    void volumeChanged();
    void metaDataChanged();
    void currentIndexChanged();
    void errorStringChanged();
    /*! Something went wrong; \a code is a RovaError code, \a message says what. */
    void errorOccurred(int code, const QString& message);
    /*! The queue played to its end, or nothing in it could be played. */
    void endOfQueue();

private Q_SLOTS:
    void positionResults(uint seconds);

private:
    void attach();
    void detach();
    void assignQueue();
    void applyPolicy();
    void stateChanged(RovaRenderer::State state);
    void mediaChanged(int index, const RovaContent& content);
    void rendererError(const RovaError& error);
    void skip();
    void fail(int code, const QString& message);
    void setPosition(qint64 position);
    bool ready();

    QPointer<RovaQuickPlayQueue> m_queue;
    QPointer<RovaBasicRenderer> m_renderer;
    QPointer<RovaPlaylist> m_assigned; // the queue's playlist as given to the renderer
    QPointer<RovaPluginControlInterface> m_control;
    QString m_rendererUuid;
    QString m_audioSink;
    QString m_errorString;
    QVariantMap m_metaData;
    QString m_currentId; // the object id of the song announced last
    QSet<int> m_unplayable; // rows failed since something last played
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_anchor = 0; // the position at m_anchorTime
    qint64 m_anchorTime = 0;
    qint64 m_position = 0;
    qint64 m_duration = 0;
    qreal m_volume = 1.0;
    PlaybackState m_state = StoppedState;
    int m_rendererState = RovaRenderer::Stopped; // as last reported
    int m_lastSeconds = -1;
    int m_currentIndex = -1;
    int m_skipFrom = -1; // the failed row to skip once the renderer has stopped
    bool m_background = false;
    bool m_skipUnplayable = true;
    bool m_complete = false;
};

#endif // ROVAQUICKPLAYER_H
