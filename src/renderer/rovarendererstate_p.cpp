// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererstate_p.h"

#include <QDebug>

void RovaRendererStatePrivate::postEvent(QStateMachine* machine, RovaRendererEvent::RovaRendererEventType type,
                                         const QVariant& data, QStateMachine::EventPriority priority)
{
    if (!machine) {
        qWarning() << "Renderer state has no state machine to post event" << int(type) << "to.";
        return;
    }
    if (!machine->isRunning()) {
        qWarning() << "Renderer state cannot post event" << int(type) << "while its state machine is not running.";
        return;
    }
    machine->postEvent(new RovaRendererEvent(type, data), priority);
}
