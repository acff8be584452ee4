// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererplayuristate.h"

#include "rovarendererevent.h"
#include "rovarendererstate_p.h"

#include <QStateMachine>

RovaRendererPlayURIState::RovaRendererPlayURIState(QStateMachine* machine, QState* parent)
    : QState(parent)
    , m_machine(machine)
{
}

RovaRendererPlayURIState::~RovaRendererPlayURIState() = default;

void RovaRendererPlayURIState::onEntry(QEvent* event)
{
    qDebug("Entering PlayURI...");
    if (event && event->type() == QEvent::StateMachineSignal) {
        const QList<QVariant> arguments = static_cast<QStateMachine::SignalEvent*>(event)->arguments();
        if (!arguments.isEmpty()) {
            const QVariant item = arguments.first();
            if (item.toInt() == 1)
                RovaRendererStatePrivate::postEvent(m_machine, RovaRendererEvent::ItemPlaying, item);
        }
    }
    Q_EMIT stateID(RovaRenderer::Playing);
}

void RovaRendererPlayURIState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("... Exiting PlayURI");
}
