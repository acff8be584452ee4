// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVABASICRENDERER_P_H
#define ROVABASICRENDERER_P_H

#include "rovabasicrenderer.h"
#include "rovarendererevent.h"
#include "rovarenderermachinegate_p.h"
#include "rovarendererpolicycommunicator.h"

#include <QList>

class RovaRendererPlaylistHandler;

class RovaBasicRendererPrivate
{
public:
    explicit RovaBasicRendererPrivate(RovaBasicRenderer& renderer)
        : q(renderer)
    {
    }

    // Commands reach the machine through the policy communicator; events that
    // bypass the policy go to the machine itself. Both wait, in one queue, until
    // the machine runs.
    void submit(RovaRendererEvent* event)
    {
        if (!policyCommunicator) {
            delete event;
            return;
        }
        gate.pass(event, QStateMachine::NormalPriority,
                  [this](RovaRendererEvent* e) { policyCommunicator->processRendererEvent(e); });
    }
    void post(RovaRendererEvent::RovaRendererEventType type, QStateMachine::EventPriority priority)
    {
        gate.pass(new RovaRendererEvent(type), priority);
    }

    RovaBasicRenderer& q;
    QStateMachine* stateMachine = nullptr;
    RovaRendererPlaylistHandler* playlistHandler = nullptr;
    int currentState = 100;
    QList<RovaBasicRenderer::RovaBasicRendererCallbackInfo> statusCallbacks;
    RovaRendererPolicy* policy = nullptr;
    RovaRendererPolicyCommunicator* policyCommunicator = nullptr;
    RovaRendererMachineGate gate;
    // Set when the current item was started directly from its known media info;
    // a MetadataReady already queued then must not start it a second time.
    bool startedWithoutLookup = false;
    // A command that starts the current item waits for its lookup: the answer is
    // to be played. A stop cancels the start; a pause holds it, and the item is
    // then loaded paused, so that what the renderer announces is what it holds.
    bool startAwaitsLookup = false;
    bool startPaused = false;
    // The implementation was told to stop and has not been started since: it
    // has nothing to pause.
    bool stopped = false;
    // A next-item hint is with the implementation, which may already be playing
    // on into it: it stays the next item until the implementation has moved on.
    bool hintGiven = false;
};

#endif // ROVABASICRENDERER_P_H
