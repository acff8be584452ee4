// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarenderertransitionstate.h"

#include "rovarendererevent.h"
#include "rovarendererstate_p.h"

#include <QDebug>

RovaRendererTransitionState::RovaRendererTransitionState(QStateMachine* machine, int delay, QState* parent)
    : QState(parent)
    , m_machine(machine)
    , m_delay(delay)
{
    if (m_delay < 0) {
        qWarning() << "Renderer state wait of" << delay << "ms is negative, waiting 0 ms instead.";
        m_delay = 0;
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RovaRendererTransitionState::finishWait);
}

RovaRendererTransitionState::~RovaRendererTransitionState() = default;

void RovaRendererTransitionState::finishWait()
{
    RovaRendererStatePrivate::postEvent(m_machine, RovaRendererEvent::WaitTimeout);
}

void RovaRendererTransitionState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Transition entered...!");
    m_timer.start(m_delay);
    Q_EMIT stateID(RovaRenderer::Transitioning);
}

void RovaRendererTransitionState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    m_timer.stop();
    qDebug("Transition exited...!");
}
