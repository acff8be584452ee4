// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarenderereventtransition.h"

RovaRendererEventTransition::RovaRendererEventTransition(RovaRendererEvent::RovaRendererEventType type,
                                                         QAbstractState* target)
    : m_eventType(type)
{
    if (target)
        setTargetState(target);
}

RovaRendererEventTransition::~RovaRendererEventTransition() = default;

RovaRendererEvent::RovaRendererEventType RovaRendererEventTransition::eventType() const
{
    return m_eventType;
}

bool RovaRendererEventTransition::eventTest(QEvent* event)
{
    return event && int(event->type()) == int(m_eventType);
}

void RovaRendererEventTransition::onTransition(QEvent* event)
{
    Q_UNUSED(event)
}
