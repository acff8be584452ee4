// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarenderermachinegate_p.h"

#include "rovarendererevent.h"

#include <utility>

RovaRendererMachineGate::~RovaRendererMachineGate()
{
    QObject::disconnect(m_startWatch);
}

void RovaRendererMachineGate::setMachine(QStateMachine* machine)
{
    QObject::disconnect(std::exchange(m_startWatch, {}));
    m_held.clear();
    m_machine = machine;
    if (machine)
        m_startWatch = QObject::connect(machine, &QStateMachine::started, machine, [this] { release(); });
}

void RovaRendererMachineGate::pass(RovaRendererEvent* event, QStateMachine::EventPriority priority, const Route& route)
{
    if (!m_machine) {
        delete event;
        return;
    }
    if (m_machine->isRunning() && m_held.empty())
        deliver(event, priority, route);
    else
        m_held.push_back({std::unique_ptr<RovaRendererEvent>(event), priority, route});
}

void RovaRendererMachineGate::deliver(RovaRendererEvent* event, QStateMachine::EventPriority priority,
                                      const Route& route)
{
    if (route)
        route(event);
    else
        m_machine->postEvent(event, priority);
}

void RovaRendererMachineGate::release()
{
    // What a delivery passes on meanwhile goes behind what is still held.
    while (!m_held.empty() && m_machine && m_machine->isRunning()) {
        Held next = std::move(m_held.front());
        m_held.erase(m_held.begin());
        deliver(next.event.release(), next.priority, next.route);
    }
}
