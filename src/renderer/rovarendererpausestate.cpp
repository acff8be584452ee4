// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererpausestate.h"

#include "rovarendererevent.h"
#include "rovarendererstate_p.h"

RovaRendererPauseState::RovaRendererPauseState(QState* parent)
    : QState(parent)
{
}

RovaRendererPauseState::~RovaRendererPauseState() = default;

void RovaRendererPauseState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Pause entered...!");
    Q_EMIT stateID(RovaRenderer::Paused);
}

void RovaRendererPauseState::onExit(QEvent* event)
{
    if (event) {
        switch (int(event->type())) {
        case RovaRendererEvent::Next:
        case RovaRendererEvent::Previous:
        case RovaRendererEvent::GotoIndex:
            RovaRendererStatePrivate::postEvent(machine(), RovaRendererEvent::Stop, QVariant(),
                                                QStateMachine::HighPriority);
            break;
        default:
            break;
        }
    }
    qDebug("Pause exited...!");
}
