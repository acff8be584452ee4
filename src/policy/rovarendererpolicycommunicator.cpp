// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererpolicycommunicator.h"

#include "rovarendererevent.h"
#include "rovarenderermachinegate_p.h"

#include <QDebug>
#include <QPointer>
#include <QQueue>
#include <QStateMachine>

#include <utility>

class RovaRendererPolicyCommunicatorPrivate
{
public:
    explicit RovaRendererPolicyCommunicatorPrivate(QStateMachine& machine)
        : machine(machine)
    {
        gate.setMachine(&machine);
    }

    // What arrives before the machine runs, a policy's demand say, waits for its start.
    void post(RovaRendererEvent* event) { gate.pass(event); }

    void postQueue()
    {
        while (!queue.isEmpty())
            post(queue.dequeue());
    }

    QStateMachine& machine;
    // Not owned; a QPointer so that a policy deleted before it is replaced is
    // never called.
    QPointer<RovaRendererPolicy> policy;
    QQueue<RovaRendererEvent*> queue;
    RovaRendererMachineGate gate;
    int lastEventType = RovaRendererEvent::Stop;
};

RovaRendererPolicyCommunicator::RovaRendererPolicyCommunicator(QStateMachine& machine, RovaRendererPolicy* policy)
    : QObject(nullptr)
    , d(std::make_unique<RovaRendererPolicyCommunicatorPrivate>(machine))
{
    setPolicy(policy);
}

RovaRendererPolicyCommunicator::~RovaRendererPolicyCommunicator()
{
    qDeleteAll(d->queue);
}

void RovaRendererPolicyCommunicator::setPolicy(RovaRendererPolicy* policy)
{
    if (d->policy)
        disconnect(d->policy, nullptr, this, nullptr);
    d->policy = policy;
    if (policy) {
        connect(policy, &RovaRendererPolicy::policyEvent,
                this, &RovaRendererPolicyCommunicator::handlePolicyEvent);
    }

    // The previous policy's answer will not arrive any more: ask the new one
    // for the waiting commands, or let them go when there is nobody to ask.
    if (d->queue.isEmpty())
        return;
    if (policy)
        policy->request({});
    else
        d->postQueue();
}

RovaRendererPolicy* RovaRendererPolicyCommunicator::policy() const
{
    return d->policy;
}

bool RovaRendererPolicyCommunicator::eventRequiresResources(const RovaRendererEvent* event) const
{
    if (!event)
        return false;
    switch (int(event->type())) {
    case RovaRendererEvent::Play:
    case RovaRendererEvent::PlayURI:
    case RovaRendererEvent::Resume:
    case RovaRendererEvent::PauseAt:
        return true;
    default:
        return false;
    }
}

void RovaRendererPolicyCommunicator::processRendererEvent(RovaRendererEvent* event)
{
    if (!event) {
        qWarning() << Q_FUNC_INFO << "got no event";
        return;
    }
    qDebug() << Q_FUNC_INFO << "Event type:" << int(event->type());
    d->lastEventType = int(event->type());

    if (eventRequiresResources(event)) {
        d->queue.enqueue(event);
        if (d->policy)
            d->policy->request({});
        else
            d->postQueue();
    } else if (d->queue.isEmpty()) {
        d->post(event);
    } else {
        // Behind the commands that wait for resources, never before them.
        d->queue.enqueue(event);
    }
}

void RovaRendererPolicyCommunicator::handlePolicyEvent(RovaRendererPolicy::PolicyEvent policyEvent)
{
    qDebug() << Q_FUNC_INFO << "Event ID:" << int(policyEvent);
    switch (policyEvent) {
    case RovaRendererPolicy::ResourcesDenied:
        Q_EMIT policyDenied(RovaError(RovaError::RendererDenied, QStringLiteral("Resources not available!")));
        while (!d->queue.isEmpty()) {
            RovaRendererEvent* event = d->queue.dequeue();
            if (eventRequiresResources(event))
                delete event;
            else
                d->post(event);
        }
        break;
    case RovaRendererPolicy::StopRequested:
        d->post(new RovaRendererEvent(RovaRendererEvent::Stop));
        break;
    case RovaRendererPolicy::PauseRequested:
        d->post(new RovaRendererEvent(RovaRendererEvent::Pause));
        break;
    case RovaRendererPolicy::ResourcesGranted:
    default:
        d->postQueue();
        break;
    }
}

void RovaRendererPolicyCommunicator::handleRendererStateChange(RovaRenderer::State newState)
{
    qDebug() << Q_FUNC_INFO << int(newState);
    if (newState != RovaRenderer::Stopped)
        return;
    switch (d->lastEventType) {
    case RovaRendererEvent::Stop:
    case RovaRendererEvent::Pause:
    case RovaRendererEvent::PauseAt:
    case RovaRendererEvent::Eos:
        qDebug() << Q_FUNC_INFO << "releasing resources.";
        if (d->policy)
            d->policy->release({});
        break;
    default:
        break;
    }
}
