// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererpendingstate.h"

#include "rovarendererevent.h"
#include "rovarendererstate_p.h"

#include <QDebug>

RovaRendererPendingState::RovaRendererPendingState(QStateMachine* machine, int delay, QState* parent)
    : QState(parent)
    , m_machine(machine)
    , m_delay(delay)
{
    if (m_delay < 0) {
        qWarning() << "Renderer state wait of" << delay << "ms is negative, waiting 0 ms instead.";
        m_delay = 0;
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RovaRendererPendingState::finishWait);
}

RovaRendererPendingState::~RovaRendererPendingState() = default;

void RovaRendererPendingState::finishWait()
{
    RovaRendererStatePrivate::postEvent(m_machine, RovaRendererEvent::WaitTimeout);
}

void RovaRendererPendingState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Pending state entered!");
    m_timer.start(m_delay);
}

void RovaRendererPendingState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Pending state exited!...");
    m_timer.stop();
}
