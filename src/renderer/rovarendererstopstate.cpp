// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererstopstate.h"

RovaRendererStopState::RovaRendererStopState(RovaBasicRenderer& renderer, QState* parent)
    : QState(parent)
    , m_renderer(renderer)
{
}

RovaRendererStopState::~RovaRendererStopState() = default;

RovaBasicRenderer& RovaRendererStopState::renderer() const
{
    return m_renderer;
}

void RovaRendererStopState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Stop entered...!");
    Q_EMIT stateID(RovaRenderer::Stopped);
}

void RovaRendererStopState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Stop exited...!");
}
