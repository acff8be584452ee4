// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovabasicrenderer.h"
#include "rovabasicrenderer_p.h"

#include "rovacallbackhelper.h"
#include "rovacontent.h"
#include "rovadummyrendererpolicy.h"
#include "rovaregistry.h"
#include "rovarenderercommandeventtransition.h"
#include "rovarendererevent.h"
#include "rovarendererpausestate.h"
#include "rovarendererpendingstate.h"
#include "rovarendererplayingstate.h"
#include "rovarendererplaylisthandler.h"
#include "rovarendererplayuristate.h"
#include "rovarendererplayuritransitionstate.h"
#include "rovarendererpolicycommunicator.h"
#include "rovarendererpolicyplugin.h"
#include "rovarendererstopstate.h"
#include "rovarenderertransitionstate.h"

#include <QDebug>
#include <QMetaMethod>
#include <QStateMachine>
#include <QTimer>

const int RovaBasicRenderer::ROVA_RENDERER_PENDING_DELAY = 20000;
const int RovaBasicRenderer::ROVA_POLICY_PENDING_DELAY = 5000;

namespace {

void registerBasicRendererMetaTypes()
{
    qRegisterMetaType<RovaBasicRenderer::RovaRendererPlayingUri>("RovaBasicRenderer::RovaRendererPlayingUri");
}

// The first value of every key, as a renderer implementation that works with
// contents wants it.
RovaContent toContent(const RovaMediaInfo& mediaInfo)
{
    RovaContent content(mediaInfo.uuid());
    QMap<QString, QVariant> metadata;
    const auto& all = mediaInfo.metaData();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        metadata.insert(it.key(), it.value().isEmpty() ? QVariant() : it.value().first());
    content.setMetaData(metadata, nullptr, nullptr);
    return content;
}

using Targets = QMap<RovaRendererEvent::RovaRendererEventType, QAbstractState*>;

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerBasicRendererMetaTypes)

RovaBasicRenderer::RovaBasicRenderer(const QString& uuid, const QString& pluginName, const QString& name,
                                     QObject* parent)
    : RovaRenderer(uuid, pluginName, parent)
    , d(new RovaBasicRendererPrivate(*this))
{
    setName(name);
    initialize();
}

RovaBasicRenderer::~RovaBasicRenderer()
{
    // Nothing may fire into a half-destroyed renderer: the policy goes first (its
    // answers would reach the communicator), then the communicator with the
    // commands it holds, then the machine, whose states and transitions call into
    // the handler, and the handler last.
    if (d->policy)
        d->policy->disconnect(this);
    delete d->policy;
    d->policy = nullptr;
    delete d->policyCommunicator;
    d->policyCommunicator = nullptr;
    d->gate.setMachine(nullptr);
    if (d->playlistHandler)
        d->playlistHandler->setStateMachine(nullptr);
    delete d->stateMachine;
    d->stateMachine = nullptr;
    delete d->playlistHandler;
    d->playlistHandler = nullptr;
    d->statusCallbacks.clear();
}

bool RovaBasicRenderer::initialize()
{
    if (d->playlistHandler)
        return true;

    d->playlistHandler = new RovaRendererPlaylistHandler;
    if (!initializeStateMachine()) {
        qCritical("Cannot initialize renderer state machine!");
        delete d->playlistHandler;
        d->playlistHandler = nullptr;
        delete d->stateMachine;
        d->stateMachine = nullptr;
        return false;
    }

    RovaRendererPlaylistHandler* handler = d->playlistHandler;
    connect(handler, &RovaRendererPlaylistHandler::currentItemChanged, this, &RovaBasicRenderer::emitOldMediaChanged);
    connect(handler, &RovaRendererPlaylistHandler::currentPlaylistChanged, this, &RovaRenderer::playlistChanged);
    connect(handler, &RovaRendererPlaylistHandler::playlistHandlingError, this, &RovaRenderer::error);
    connect(handler, &RovaRendererPlaylistHandler::noMoreItemsToPlay, this, &RovaRenderer::playbackCompleted);
    connect(this, &RovaBasicRenderer::rendererError, this, &RovaRenderer::error);
    connect(RovaRegistry::instance(), qOverload<const RovaPlaylist*>(&RovaRegistry::playlistRemoved), this,
            &RovaBasicRenderer::unAssignPlaylist);

    RovaRenderer::setRovaProperty(ROVA_RENDERER_PROPERTY_AUTO_ADVANCE, true);

    d->policyCommunicator = new RovaRendererPolicyCommunicator(*d->stateMachine, nullptr);
    connect(d->policyCommunicator, &RovaRendererPolicyCommunicator::policyDenied, this, &RovaRenderer::error);
    connect(this, &RovaRenderer::stateChanged, d->policyCommunicator,
            &RovaRendererPolicyCommunicator::handleRendererStateChange);

    setRendererPolicy(new RovaDummyRendererPolicy, RovaRendererPolicy::DefaultGroup);
    return true;
}

bool RovaBasicRenderer::initializeStateMachine()
{
    if (d->stateMachine)
        return true;

    QStateMachine* machine = new QStateMachine;
    d->stateMachine = machine;
    d->playlistHandler->setStateMachine(machine);
    d->gate.setMachine(machine);

    const int delay = ROVA_RENDERER_PENDING_DELAY;
    auto* playlistRoot = new QState(machine);
    auto* uriRoot = new QState(machine);
    auto* idleGroup = new QState(playlistRoot);
    auto* stopState = new RovaRendererStopState(*this, idleGroup);
    auto* pauseState = new RovaRendererPauseState(idleGroup);
    auto* playbackGroup = new QState(playlistRoot);
    auto* transitionState = new RovaRendererTransitionState(machine, delay, playbackGroup);
    auto* playingState = new RovaRendererPlayingState(machine, playbackGroup);
    auto* pendingState = new RovaRendererPendingState(machine, delay, playlistRoot);

    // Names for debugging and for tests that look at the machine.
    stopState->setObjectName(QStringLiteral("stop"));
    pauseState->setObjectName(QStringLiteral("pause"));
    transitionState->setObjectName(QStringLiteral("transition"));
    playingState->setObjectName(QStringLiteral("playing"));
    pendingState->setObjectName(QStringLiteral("pending"));

    configurePlayURIStates(uriRoot);

    connect(stopState, &RovaRendererStopState::stateID, this, &RovaBasicRenderer::updateState);
    connect(playingState, &RovaRendererPlayingState::stateID, this, &RovaBasicRenderer::updateState);
    connect(transitionState, &RovaRendererTransitionState::stateID, this, &RovaBasicRenderer::updateState);
    connect(pauseState, &RovaRendererPauseState::stateID, this, &RovaBasicRenderer::updateState);

    connect(this, &RovaBasicRenderer::rendererEos, this, &RovaBasicRenderer::eos);
    connect(this, &RovaBasicRenderer::rendererReadyForNext, this,
            &RovaBasicRenderer::rendererImplementationReadyForNext);

    playlistRoot->addTransition(this, &RovaBasicRenderer::rendererPlaying, playingState);
    playlistRoot->addTransition(this, &RovaBasicRenderer::rendererStopped, stopState);
    playlistRoot->addTransition(this, &RovaBasicRenderer::rendererPaused, pauseState);
    playlistRoot->addTransition(this, &RovaBasicRenderer::rendererResumed, playingState);

    RovaRendererPlaylistHandler* handler = d->playlistHandler;
    using E = RovaRendererEvent;
    addCommandTransitions(playlistRoot, Targets{{E::PlayURI, uriRoot}, {E::RefreshNext, nullptr}}, this, handler);
    addCommandTransitions(idleGroup, Targets{{E::Play, transitionState}, {E::PauseAt, transitionState}}, this,
                          handler);
    // Steps and end of stream leave the idle state that is active where it is.
    // A history state cannot say which one that is: Qt resolves it before it
    // records the state being left, so it would return to the one recorded when
    // the idle group was last left. The pause state is left and re-entered, so
    // that a step out of it stops the implementation.
    addCommandTransitions(stopState,
                          Targets{{E::Next, nullptr}, {E::Previous, nullptr}, {E::GotoIndex, nullptr}, {E::Eos, nullptr}},
                          this, handler);
    addCommandTransitions(pauseState,
                          Targets{{E::Next, pauseState}, {E::Previous, pauseState}, {E::GotoIndex, pauseState},
                                  {E::Eos, pauseState}, {E::Resume, pendingState}, {E::Stop, pendingState},
                                  {E::SetPosition, pauseState},
                                  {E::PrepareNext, nullptr}, {E::ItemPlaying, nullptr}, {E::MetadataReady, nullptr},
                                  {E::NextMetadataReady, nullptr}},
                          this, handler);
    addCommandTransitions(playbackGroup,
                          Targets{{E::Next, transitionState}, {E::Previous, transitionState},
                                  {E::GotoIndex, transitionState}, {E::Stop, pendingState}, {E::Pause, pendingState}},
                          this, handler);
    addCommandTransitions(transitionState,
                          Targets{{E::MetadataReady, pendingState}, {E::WaitTimeout, stopState}, {E::PauseAt, nullptr}},
                          this, handler);
    addCommandTransitions(playingState,
                          Targets{{E::SetPosition, playingState}, {E::MetadataReady, pendingState},
                                  {E::PrepareNext, nullptr}, {E::ItemPlaying, nullptr},
                                  {E::NextMetadataReady, nullptr}, {E::Eos, nullptr}},
                          this, handler);
    addCommandTransitions(pendingState,
                          Targets{{E::WaitTimeout, stopState}, {E::Stop, nullptr}, {E::Pause, nullptr},
                                  {E::Resume, nullptr}, {E::NextMetadataReady, nullptr}, {E::Eos, nullptr},
                                  {E::MetadataReady, nullptr},
                                  {E::Next, transitionState}, {E::Previous, transitionState},
                                  {E::GotoIndex, transitionState}, {E::Play, transitionState}},
                          this, handler);

    // URI playback leaves for the playlist's stop and pending states.
    uriRoot->addTransition(this, &RovaBasicRenderer::rendererStopped, playlistRoot);
    addCommandTransitions(uriRoot, Targets{{E::Stop, pendingState}}, this, handler);

    machine->setInitialState(playlistRoot);
    playbackGroup->setInitialState(transitionState);
    idleGroup->setInitialState(stopState);
    playlistRoot->setInitialState(idleGroup);

    // The machine starts on the next turn of the event loop; a status asked for
    // before that still sees that no state has been entered yet.
    QMetaObject::invokeMethod(machine, &QStateMachine::start, Qt::QueuedConnection);
    return true;
}

void RovaBasicRenderer::configurePlayURIStates(QState* parent)
{
    QStateMachine* machine = d->stateMachine;
    auto* uriPlaying = new RovaRendererPlayURIState(machine, parent);
    auto* uriPause = new RovaRendererPauseState(parent);
    auto* uriPending = new RovaRendererPendingState(machine, ROVA_RENDERER_PENDING_DELAY, parent);
    auto* uriTransition = new RovaRendererPlayURITransitionState(machine, parent);

    uriPlaying->setObjectName(QStringLiteral("uriPlaying"));
    uriPause->setObjectName(QStringLiteral("uriPause"));
    uriPending->setObjectName(QStringLiteral("uriPending"));
    uriTransition->setObjectName(QStringLiteral("uriTransition"));

    connect(uriPlaying, &RovaRendererPlayURIState::stateID, this, &RovaBasicRenderer::updateState);
    connect(uriPause, &RovaRendererPauseState::stateID, this, &RovaBasicRenderer::updateState);
    connect(uriTransition, &RovaRendererPlayURITransitionState::stateID, this, &RovaBasicRenderer::updateState);

    RovaRendererPlaylistHandler* handler = d->playlistHandler;
    using E = RovaRendererEvent;
    parent->addTransition(this, &RovaBasicRenderer::rendererPlaying, uriPlaying);
    parent->addTransition(this, &RovaBasicRenderer::rendererResumed, uriPlaying);
    addCommandTransitions(parent, Targets{{E::PlayURI, uriPending}}, this, handler);
    addCommandTransitions(uriPlaying,
                          Targets{{E::ItemPlaying, nullptr}, {E::SetPosition, nullptr}, {E::Eos, nullptr},
                                  {E::Pause, uriPending}},
                          this, handler);
    uriPlaying->addTransition(this, &RovaBasicRenderer::rendererPaused, uriPause);
    addCommandTransitions(uriPause, Targets{{E::SetPosition, nullptr}, {E::Resume, uriPending}}, this, handler);
    uriPending->addTransition(this, &RovaBasicRenderer::rendererPaused, uriPause);
    addCommandTransitions(uriPending, Targets{{E::Resume, nullptr}, {E::Pause, nullptr}, {E::Eos, nullptr}}, this,
                          handler);
    uriTransition->addTransition(uriTransition, &RovaRendererPlayURITransitionState::stateID, uriPending);

    parent->setInitialState(uriTransition);
}

bool RovaBasicRenderer::startedWithoutLookup() const
{
    return d->startedWithoutLookup;
}

void RovaBasicRenderer::setStartedWithoutLookup(bool started)
{
    d->startedWithoutLookup = started;
}

RovaRendererPlaylistHandler* RovaBasicRenderer::playlistHandler() const
{
    return d->playlistHandler;
}

QStateMachine* RovaBasicRenderer::stateMachine() const
{
    return d->stateMachine;
}

bool RovaBasicRenderer::play()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Play));
    return true;
}

bool RovaBasicRenderer::play(const QUrl& url, uint startPosition)
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::PlayURI, QVariantList{url, startPosition}));
    return true;
}

bool RovaBasicRenderer::play(const QUrl& url, const QString& contentType)
{
    qDebug() << "virtual bool RovaBasicRenderer::play(const QUrl&, const QString&)" << url << contentType;
    d->submit(new RovaRendererEvent(RovaRendererEvent::PlayURI, QVariantList{url, contentType}));
    return true;
}

bool RovaBasicRenderer::stop()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Stop));
    return true;
}

bool RovaBasicRenderer::pause()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Pause));
    return true;
}

bool RovaBasicRenderer::pauseAt(uint position)
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::PauseAt, position));
    return true;
}

bool RovaBasicRenderer::resume()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Resume));
    return true;
}

bool RovaBasicRenderer::next()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Next));
    return true;
}

bool RovaBasicRenderer::previous()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Previous));
    return true;
}

bool RovaBasicRenderer::gotoIndex(uint index)
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::GotoIndex, index));
    return true;
}

bool RovaBasicRenderer::setPosition(int seconds, RovaRenderer::SeekMode mode)
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::SetPosition, QVariantList{seconds, int(mode)}));
    return true;
}

void RovaBasicRenderer::eos()
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::Eos));
}

void RovaBasicRenderer::rendererImplementationReadyForNext(RovaBasicRenderer::RovaRendererPlayingUri item)
{
    d->submit(new RovaRendererEvent(RovaRendererEvent::ItemPlaying, int(item)));
    d->submit(new RovaRendererEvent(RovaRendererEvent::PrepareNext));
}

bool RovaBasicRenderer::assignPlaylist(RovaPlaylist* playlist)
{
    d->startedWithoutLookup = false;
    if (RovaPlaylist* previous = d->playlistHandler->playlist())
        disconnect(previous, &QObject::destroyed, this, nullptr);
    d->playlistHandler->setPlaylist(playlist);
    // A playlist deleted while assigned is let go as one removed from the registry.
    if (playlist)
        connect(playlist, &QObject::destroyed, this, [this]() { stop(); });
    return stop();
}

void RovaBasicRenderer::unAssignPlaylist(const RovaPlaylist* playlist)
{
    if (!d->playlistHandler || !playlist || d->playlistHandler->playlist() != playlist)
        return;
    d->startedWithoutLookup = false;
    d->playlistHandler->setPlaylist(nullptr);
    stop();
}

bool RovaBasicRenderer::getPosition(QObject* receiver, const char* member)
{
    Q_UNUSED(receiver)
    Q_UNUSED(member)
    return false;
}

void RovaBasicRenderer::updateState(RovaRenderer::State state)
{
    if (int(state) == d->currentState)
        return;
    d->currentState = int(state);
    Q_EMIT stateChanged(state);
}

void RovaBasicRenderer::emitOldMediaChanged(int index, const RovaMediaInfo& mediaInfo)
{
    Q_EMIT mediaChanged(index, toContent(mediaInfo));
}

void RovaBasicRenderer::doPlay(const RovaMediaInfo& mediaInfo)
{
    doPlay(toContent(mediaInfo));
}

bool RovaBasicRenderer::doNextHint(const RovaMediaInfo& mediaInfo)
{
    return doNextHint(toContent(mediaInfo));
}

// --- status, properties, policy -------------------------------------------

bool RovaBasicRenderer::getStatus(QObject* receiver, const char* member)
{
    if (!RovaCallbackHelper::checkGetStatusCallback(receiver, member)) {
        Q_EMIT error(RovaError(RovaError::CallbackSlotNotFound,
                               QStringLiteral("Renderer getStatus() callback slot not found!")));
        qDebug() << "RovaBasicRenderer::getStatus" << "--- Couldn't connect result or error slots!";
        return false;
    }
    d->statusCallbacks.append({receiver, QByteArray(member)});
    QTimer::singleShot(0, this, &RovaBasicRenderer::sendStatusInfo);
    return true;
}

void RovaBasicRenderer::sendStatusInfo()
{
    if (d->statusCallbacks.isEmpty())
        return;
    const QString playlistId = d->playlistHandler->currentPlaylistID();
    const int current = d->playlistHandler->currentIndex();
    const uint index = current > 0 ? uint(current) : 0u;
    const int state = d->currentState;
    const QString itemId = d->playlistHandler->currentItemID();

    const QList<RovaBasicRendererCallbackInfo> callbacks = std::exchange(d->statusCallbacks, {});
    for (const RovaBasicRendererCallbackInfo& callback : callbacks) {
        QObject* receiver = callback.receiver.data();
        QMetaMethod method;
        // The receiver may be gone, or the slot may no longer fit: then the
        // caller hears of it through error(), and the others are still answered.
        const bool callable = receiver && RovaCallbackHelper::getCallbackMethod(receiver, callback.member.constData(), method)
            && RovaCallbackHelper::checkGetStatusCallback(receiver, callback.member.constData());
        if (!callable) {
            const QString message = QStringLiteral("Answering get status failed!");
            Q_EMIT error(RovaError(RovaError::CallbackCouldNotBeInvoked, message));
            qWarning().nospace() << "RovaRenderer: " << message;
            continue;
        }
        RovaCallbackHelper::invokeGetStatusCallback(this, playlistId, index, state, itemId, receiver,
                                                    callback.member.constData());
    }
}

bool RovaBasicRenderer::setRovaProperty(const QString& name, const QVariant& value)
{
    if (name == ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE) {
        qWarning().nospace() << "Read-only property: " << name;
        return false;
    }
    if (name == ROVA_RENDERER_PROPERTY_AUTO_ADVANCE) {
        d->post(value.toBool() ? RovaRendererEvent::PrepareNext : RovaRendererEvent::RefreshNext,
                QStateMachine::NormalPriority);
    }
    return RovaRenderer::setRovaProperty(name, value);
}

RovaRendererPolicy* RovaBasicRenderer::rendererPolicy() const
{
    return d->policy;
}

void RovaBasicRenderer::trackPolicy(RovaRendererPolicy::PolicyEvent policyEvent)
{
    const bool current = property(ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE.toLatin1().constData()).toBool();
    const bool wanted = policyEvent != RovaRendererPolicy::ResourcesGranted;
    if (current == wanted)
        return;
    if (!RovaRenderer::setRovaProperty(ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE, wanted)) {
        qWarning("RovaBasicRenderer cannot set policy property!");
        d->post(RovaRendererEvent::Stop, QStateMachine::NormalPriority);
    }
}

bool RovaBasicRenderer::setRendererPolicy(RovaRendererPolicy* policy, RovaRendererPolicy::PolicyGroup group)
{
    // Installing the policy already in place would delete the policy in use.
    if (!policy || policy == d->policy || !policy->initialize(group)
        || !connect(policy, &RovaRendererPolicy::policyEvent, this, &RovaBasicRenderer::trackPolicy)) {
        qWarning("unable to set policy, got null policy or init failed");
        return false;
    }
    d->policyCommunicator->setPolicy(policy);
    RovaRendererPolicy* previous = std::exchange(d->policy, policy);
    delete previous;
    return true;
}

bool RovaBasicRenderer::setRendererPolicy(const QString& pluginPath, RovaRendererPolicy::PolicyGroup group)
{
    RovaRendererPolicy* policy = RovaRendererPolicyPlugin::loadPolicy(pluginPath);
    if (!setRendererPolicy(policy, group)) {
        delete policy;
        return false;
    }
    return true;
}

bool RovaBasicRenderer::setDefaultRendererPolicy(RovaRendererPolicy::PolicyGroup group)
{
    if (!setRendererPolicy(RovaRendererPolicyPlugin::defaultPolicyPluginPath(), group))
        return false;
    d->policy->setDefaultResources(RovaRendererPolicy::PolicyResourceFlags(3));
    return true;
}

bool RovaBasicRenderer::setDefaultRendererPolicy()
{
    return setDefaultRendererPolicy(RovaRendererPolicy::PlayerGroup);
}
