// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVABASICRENDERER_H
#define ROVABASICRENDERER_H

#include "rova_export.h"
#include "rovamediainfo.h"
#include "rovarenderer.h"
#include "rovarendererpolicy.h"

#include <QByteArray>
#include <QPointer>

#include <memory>

class QState;
class QStateMachine;
class RovaBasicRendererPrivate;
class RovaRendererCommandEventTransition;
class RovaRendererPlaylistHandler;

/*!
    The base class of renderer plugins. It implements every command of
    RovaRenderer once: each command becomes a RovaRendererEvent, passes the
    resource policy, and is carried out by the state machine only when the
    renderer's state accepts it. Commands return true at once.

    A derived class does the media work in the implementation hooks (doPlay(),
    doStop(), doPause(), doResume(), doSeek(), doNextHint()) and tells the base
    what really happened by emitting the notification signals once each hook has
    taken effect: rendererPlaying() after doPlay() or after moving on to the
    hinted next item, rendererPaused(), rendererResumed(), rendererStopped(),
    rendererEos() at end of stream, rendererError() for failures. A hook must
    return promptly; a command that is never confirmed leaves the waiting states
    for Stopped after ROVA_RENDERER_PENDING_DELAY ms.

    Before each item is played the base looks it up in the metadata store
    ("uri", "duration", "play-count"); with "rova_auto_advance" on it looks up
    the following item too and hands it to doNextHint(), so that the
    implementation can play on without a gap and report NextUri.

    Ownership: the renderer owns its state machine, playlist handler, policy and
    policy communicator. Playlists are not owned. Everything runs on the thread
    that owns the renderer.
*/
class ROVA_EXPORT RovaBasicRenderer : public RovaRenderer
{
    Q_OBJECT

public:
    /*! What the implementation says it plays. */
    enum RovaRendererPlayingUri : int {
        NoUri = 0,      ///< no playlist item is announced
        CurrentUri = 1, ///< the current item, or the URI given directly
        NextUri = 2     ///< the item hinted with doNextHint(), moved on to
    };

    /*! A pending status request: the receiver (guarded) and a copy of its slot signature. */
    struct RovaBasicRendererCallbackInfo {
        /*! The object to answer; null once it is deleted, and the answer is dropped. */
        QPointer<QObject> receiver;
        /*! The receiver's slot, in Qt's SLOT() form. */
        QByteArray member;
    };

    /*! How long the waiting states wait for the implementation, in milliseconds. */
    static const int ROVA_RENDERER_PENDING_DELAY;
    /*! How long a policy answer may take, in milliseconds. Not read by the library. */
    static const int ROVA_POLICY_PENDING_DELAY;

    /*! Builds the playlist handler, the state machine and the policy hookup; the machine runs once the event loop turns. */
    RovaBasicRenderer(const QString& uuid, const QString& pluginName, const QString& name, QObject* parent = nullptr);
    /*! Deletes the machine, the handler, the policy and the communicator; pending status requests go unanswered. */
    ~RovaBasicRenderer() override;

    bool play() override;
    bool play(const QUrl& url, uint startPosition = 0) override;
    bool play(const QUrl& url, const QString& contentType) override;
    bool stop() override;
    bool pause() override;
    bool pauseAt(uint position) override;
    bool resume() override;
    bool next() override;
    bool previous() override;
    bool gotoIndex(uint index) override;
    bool setPosition(int seconds, RovaRenderer::SeekMode mode = SeekDefault) override;

    /*! Answers "statusResults(QString playlistId, uint index, int state, QString itemId)" on the next turn of the event loop. */
    bool getStatus(QObject* receiver, const char* member) override;
    /*! Assigns \a playlist (null unassigns) and issues a stop. */
    bool assignPlaylist(RovaPlaylist* playlist) override;
    /*! Returns false here; implementations answer "positionResults(uint)". */
    bool getPosition(QObject* receiver, const char* member) override;
    /*!
        "rova_policy_override" is read-only (false, with a warning). Setting
        "rova_auto_advance" voids the next-item hint and, when switched on,
        prepares the next item again.
    */
    bool setRovaProperty(const QString& name, const QVariant& value) override;

    /*! The installed resource policy; never null after construction. */
    RovaRendererPolicy* rendererPolicy() const;
    /*!
        Installs \a policy, initialised with \a group, and takes it over; the
        previous policy is deleted. False (the installed policy stays, \a policy
        is not taken over) for a null policy, the installed one, or a policy that
        fails to initialise.
    */
    bool setRendererPolicy(RovaRendererPolicy* policy, RovaRendererPolicy::PolicyGroup group);
    /*! Loads a policy from the policy plugin \a pluginPath and installs it. */
    bool setRendererPolicy(const QString& pluginPath, RovaRendererPolicy::PolicyGroup group);
    /*! Installs the default policy plugin's policy for \a group, with audio and video as its default resources. */
    bool setDefaultRendererPolicy(RovaRendererPolicy::PolicyGroup group);
    /*! The same for the player group (1). */
    bool setDefaultRendererPolicy();

Q_SIGNALS:
    /*! Emitted by the implementation once doStop() has taken effect, or when playback stopped on its own. */
    void rendererStopped();
    /*! \a item is a RovaRendererPlayingUri value. */
    void rendererPlaying(int item);
    /*! Emitted by the implementation once doPause() has taken effect, or when doPlay() started paused. */
    void rendererPaused();
    /*! Emitted by the implementation once doResume() has taken effect. */
    void rendererResumed();
    /*! Emitted by the implementation while doSeek() is carried out; the base does nothing with it. */
    void rendererSeeking();
    /*!
        Emitted by the implementation at the end of an item. With "rova_auto_advance" on and an item
        after the current one, the base waits for the implementation to play on into it and report
        rendererPlaying(NextUri); otherwise playback ends: the base pauses and reports
        playbackCompleted().
    */
    void rendererEos();
    /*!
        Emitted by the implementation when it fails; the base passes \a error on through error() and
        leaves the state as it is: the implementation emits rendererStopped() if it stopped.
    */
    void rendererError(const RovaError& error);
    /*! The implementation can take a next-item hint; NextUri when it has already moved on to it. */
    void rendererReadyForNext(RovaBasicRenderer::RovaRendererPlayingUri item);

protected:
    /*! Called once by the constructor. False when the machine could not be built. */
    bool initialize();
    /*! Builds and starts the machine; does nothing when it exists. */
    bool initializeStateMachine();
    /*! Builds the states of URI playback inside \a parent. */
    void configurePlayURIStates(QState* parent);

    /*! The renderer's view of its assigned playlist; owned by the renderer. */
    RovaRendererPlaylistHandler* playlistHandler() const;
    /*! The state machine that carries out the commands; owned by the renderer. */
    QStateMachine* stateMachine() const;

    /*! Plays \a content. Called through doPlay(const RovaMediaInfo&) unless that is overridden. */
    virtual void doPlay(const RovaContent& content) = 0;
    /*!
        Plays the item whose "uri" \a mediaInfo carries, from "start-position"
        when present; when it carries "paused-position", starts paused there.
        Confirm with rendererPlaying() or rendererPaused(). The default converts
        to a RovaContent (first value of every key) and calls doPlay(const RovaContent&).
    */
    virtual void doPlay(const RovaMediaInfo& mediaInfo);
    /*! Stops; confirm with rendererStopped(). */
    virtual void doStop() = 0;
    /*! Pauses; confirm with rendererPaused(). */
    virtual void doPause() = 0;
    /*! Resumes; confirm with rendererResumed(). */
    virtual void doResume() = 0;
    /*! Seeks to \a seconds; \a mode comes unchanged from setPosition(). */
    virtual void doSeek(int seconds, RovaRenderer::SeekMode mode) = 0;
    /*!
        Keeps \a content as the next item to play on into; an empty one voids the hint.
        Return false for an empty one when the implementation already plays on into
        the hinted item and cannot let go of it: the base then keeps that item as the
        next one, and announces it when the implementation reports NextUri.
    */
    virtual bool doNextHint(const RovaContent& content) = 0;
    /*! The default converts to a RovaContent and calls doNextHint(const RovaContent&). */
    virtual bool doNextHint(const RovaMediaInfo& mediaInfo);

private Q_SLOTS:
    void updateState(RovaRenderer::State currentState);
    void unAssignPlaylist(const RovaPlaylist* playlist);
    void sendStatusInfo();
    void trackPolicy(RovaRendererPolicy::PolicyEvent policyEvent);
    void emitOldMediaChanged(int index, const RovaMediaInfo& mediaInfo);
    void eos();
    void rendererImplementationReadyForNext(RovaBasicRenderer::RovaRendererPlayingUri item);

private:
    // Whether the current item was started straight from its known media info
    // since the last lookup began; a MetadataReady still queued is then stale.
    bool startedWithoutLookup() const;
    void setStartedWithoutLookup(bool started);

    Q_DISABLE_COPY(RovaBasicRenderer)
    friend class RovaBasicRendererPrivate;
    friend class RovaRendererCommandEventTransition;
    std::unique_ptr<RovaBasicRendererPrivate> d;
};

Q_DECLARE_METATYPE(RovaBasicRenderer::RovaRendererPlayingUri)

#endif // ROVABASICRENDERER_H
