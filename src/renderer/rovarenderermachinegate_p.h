// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERMACHINEGATE_P_H
#define ROVARENDERERMACHINEGATE_P_H

#include <QMetaObject>
#include <QPointer>
#include <QStateMachine>

#include <functional>
#include <memory>
#include <vector>

class RovaRendererEvent;

/*
    Lets renderer events through to a state machine in the order they come. A
    machine that does not run refuses posted events and loses them, and a
    renderer's machine starts only on the first turn of the event loop: until it
    runs, whatever comes is held here and let through once it has started, in
    order, after what came before.

    An event goes either straight to the machine, with its priority, or along a
    route of its own (the policy communicator, say) that takes it over.
    Held events are owned by the gate and deleted with it.
*/
class RovaRendererMachineGate
{
public:
    using Route = std::function<void(RovaRendererEvent*)>;

    RovaRendererMachineGate() = default;
    ~RovaRendererMachineGate();
    RovaRendererMachineGate(const RovaRendererMachineGate&) = delete;
    RovaRendererMachineGate& operator=(const RovaRendererMachineGate&) = delete;

    /*! The machine to let events through to; what is held for the previous one is dropped. */
    void setMachine(QStateMachine* machine);
    QStateMachine* machine() const { return m_machine.data(); }

    /*!
        Takes \a event over and lets it through: to \a route when one is given,
        else posted to the machine with \a priority. Without a machine the event
        is deleted.
    */
    void pass(RovaRendererEvent* event, QStateMachine::EventPriority priority = QStateMachine::NormalPriority,
              const Route& route = Route());

private:
    struct Held
    {
        std::unique_ptr<RovaRendererEvent> event;
        QStateMachine::EventPriority priority;
        Route route;
    };

    void deliver(RovaRendererEvent* event, QStateMachine::EventPriority priority, const Route& route);
    void release();

    QPointer<QStateMachine> m_machine;
    QMetaObject::Connection m_startWatch;
    std::vector<Held> m_held;
};

#endif // ROVARENDERERMACHINEGATE_P_H
