// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERSTATE_P_H
#define ROVARENDERERSTATE_P_H

#include "rovarendererevent.h"

#include <QStateMachine>
#include <QVariant>

namespace RovaRendererStatePrivate {

/*!
    Posts a new renderer event of \a type with \a data to \a machine. Without a
    machine, or while it does not run (it would refuse and lose the event), the
    event is not created and a warning says so.
*/
void postEvent(QStateMachine* machine, RovaRendererEvent::RovaRendererEventType type,
               const QVariant& data = QVariant(),
               QStateMachine::EventPriority priority = QStateMachine::NormalPriority);

} // namespace RovaRendererStatePrivate

#endif // ROVARENDERERSTATE_P_H
