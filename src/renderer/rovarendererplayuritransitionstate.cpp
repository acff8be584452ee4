// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererplayuritransitionstate.h"

RovaRendererPlayURITransitionState::RovaRendererPlayURITransitionState(QStateMachine* machine, QState* parent)
    : QState(parent)
    , m_machine(machine)
{
}

RovaRendererPlayURITransitionState::~RovaRendererPlayURITransitionState() = default;

void RovaRendererPlayURITransitionState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("PlayURI transition state entered!...");
    Q_EMIT stateID(RovaRenderer::Transitioning);
}

void RovaRendererPlayURITransitionState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("PlayURI transition state exited!...");
}
