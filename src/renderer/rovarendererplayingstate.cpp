// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererplayingstate.h"

#include "rovarendererevent.h"
#include "rovarendererstate_p.h"

#include <QStateMachine>

RovaRendererPlayingState::RovaRendererPlayingState(QStateMachine* machine, QState* parent)
    : QState(parent)
    , m_machine(machine)
{
}

RovaRendererPlayingState::~RovaRendererPlayingState() = default;

void RovaRendererPlayingState::fetchNext()
{
    qDebug("Fetch next triggered...");
    RovaRendererStatePrivate::postEvent(m_machine, RovaRendererEvent::PrepareNext);
}

void RovaRendererPlayingState::onEntry(QEvent* event)
{
    qDebug("Playing entered...!");
    if (event && event->type() == QEvent::StateMachineSignal) {
        const QList<QVariant> arguments = static_cast<QStateMachine::SignalEvent*>(event)->arguments();
        if (!arguments.isEmpty()) {
            const QVariant item = arguments.first();
            if (item.toInt() != 0) {
                RovaRendererStatePrivate::postEvent(m_machine, RovaRendererEvent::ItemPlaying, item);
                fetchNext();
            }
        }
    }
    Q_EMIT stateID(RovaRenderer::Playing);
}

void RovaRendererPlayingState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Playing exited...!");
}
