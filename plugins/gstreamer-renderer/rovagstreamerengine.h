// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAGSTREAMERENGINE_H
#define ROVAGSTREAMERENGINE_H

#include <rovaerror.h>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <memory>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
struct RovaGStreamerShared;

/*!
    Plays one URI after another on a GStreamer playbin, without a gap when it
    is told the next URI in time (setNextUri()).

    Every command returns at once and is confirmed by a signal only once the
    pipeline has really got there: playing() when it runs (or when a hinted next
    stream starts), paused(), resumed(), seeked(), stopped(). Errors end
    playback: failed() names the URI, then stopped() follows and the engine takes
    the next command.

    Bus messages reach this object's thread as posted Qt events, so no GLib main
    loop is needed. The pipeline's about-to-finish signal runs on a streaming
    thread: there the hinted URI is handed to playbin; when a hint is expected
    but not there yet, that thread waits for it (at most hintWaitMs) so that a
    next item whose lookup is still running still plays without a gap. Every
    command that tears down or moves the pipeline first releases that wait, so
    it never deadlocks with the streaming thread. A teardown also lets a
    streaming thread that is moving playbin on to the next stream finish first,
    and keeps playbin from moving on once it has begun: going to NULL takes the
    state locks that thread needs while waiting for the stream it holds.

    Ownership: the engine owns its pipeline; its destructor stops and frees it.
*/
class RovaGStreamerEngine : public QObject
{
    Q_OBJECT

public:
    /*! Which stream playing() announces (the values of RovaBasicRenderer::RovaRendererPlayingUri). */
    enum Item { CurrentItem = 1, NextItem = 2 };

    /*! "autoaudiosink": the desktop's automatic choice of audio output. */
    static const QString DEFAULT_AUDIO_SINK;
    /*! How long about-to-finish waits for an expected next URI, in milliseconds. */
    static const int hintWaitMs;
    /*!
        How often, in milliseconds, the position is checked while the current
        stream plays out what it has after the next one failed: it has been
        rendered when the position has been at the duration, or still, for
        ten checks.
    */
    static const int drainCheckMs;
    /*!
        How long a teardown waits, in milliseconds, for a streaming thread that
        is moving the pipeline on to the next stream.
    */
    static const int drainedWaitMs;

    explicit RovaGStreamerEngine(QObject* parent = nullptr);
    ~RovaGStreamerEngine() override;

    /*! False when GStreamer has no playbin; every command then fails. */
    bool isValid() const;

    /*!
        Plays \a uri from \a startMs (milliseconds), or prerolls it paused there
        when \a startPaused. Whatever played before is stopped first, silently.
        \a hintExpected tells whether a next URI is about to be given.
    */
    void play(const QUrl& uri, qint64 startMs, bool startPaused, bool hintExpected);
    void pause();
    void resume();
    void stop();
    /*! Seeks to \a ms, clamped to the stream's length; \a keyFrame trades accuracy for speed. */
    void seek(qint64 ms, bool keyFrame);

    /*!
        The URI to play on into when the current stream ends; \a expectMoreAfter
        tells whether another hint will follow once that one plays.
    */
    void setNextUri(const QUrl& uri, bool expectMoreAfter);
    /*!
        Voids the hint; \a hintExpected tells whether another one is coming.
        False when a hint was already handed to the pipeline, which plays on
        into it whatever comes now.
    */
    bool clearNextUri(bool hintExpected);

    /*! Position and duration of the playing stream in milliseconds; -1 when unknown. */
    qint64 position() const;
    qint64 duration() const;
    QUrl currentUri() const { return m_currentUri; }

    QString audioSink() const { return m_sinkDescription; }
    /*! A gst-launch style description; an empty one means DEFAULT_AUDIO_SINK. Used from the next play(). */
    bool setAudioSink(const QString& description, QString* errorMessage = nullptr);
    double volume() const;
    /*! Linear volume, 0.0 to 1.0; applies at once. */
    bool setVolume(double volume);

    /*! The playbin, for measurements; owned by the engine. */
    GstElement* pipeline() const { return m_pipeline; }

Q_SIGNALS:
    void playing(int item);
    void paused();
    void resumed();
    void seeked();
    void stopped();
    /*! The last stream ended and no next URI was there to play on into. */
    void endOfStream();
    /*!
        Names the URI that failed. A hinted next URI that cannot be read fails
        once the current stream has played to its end.
    */
    void failed(RovaError::Code code, const QString& message);
    /*! The hinted \a uri was handed to the pipeline. */
    void nextUriTaken(const QUrl& uri);

protected:
    bool event(QEvent* event) override;

private:
    enum class Confirm { Nothing, Playing, Paused, Resumed };
    enum class Start { Idle, Prerolling, Seeking };

    void handleMessage(GstMessage* message);
    void handleStateChanged(GstMessage* message);
    void handleAsyncDone();
    void handleStreamStart();
    void handleEndOfStream();
    void handleError(GstMessage* message);
    void fail(RovaError::Code code, const QString& detail, const QUrl& uri);
    void checkDrained();
    void failDrainedNext();
    void startStream(const QUrl& uri, qint64 startMs, bool startPaused, Item item);
    void setTarget(int state, Confirm confirm);
    bool seekPipeline(qint64 ms, int flags);
    void resetPipeline();
    void waitForDrainedHandlers();
    void postToSelf(int kind);
    quint64 generation() const;

    GstElement* m_pipeline = nullptr;
    std::shared_ptr<RovaGStreamerShared> m_shared;
    QUrl m_currentUri;
    QString m_sinkDescription;
    QStringList m_wavFiles; // written by the sink; their headers are closed at every teardown
    bool m_sinkChanged = true;
    Confirm m_confirm = Confirm::Nothing;
    Start m_start = Start::Idle;
    Item m_item = CurrentItem;
    int m_target = 0;
    qint64 m_startMs = 0;
    bool m_seekPending = false;
    bool m_started = false;
    bool m_atEos = false;
    QTimer m_drainCheck;
    qint64 m_drainedAt = -2;
    int m_stalledChecks = 0;
    QUrl m_failedNext; // the hinted stream that failed to decode while the current one plays out
    RovaError m_nextFailure;
};

#endif // ROVAGSTREAMERENGINE_H
