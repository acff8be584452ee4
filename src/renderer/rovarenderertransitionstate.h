// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERTRANSITIONSTATE_H
#define ROVARENDERERTRANSITIONSTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>
#include <QTimer>

class QStateMachine;

/*!
    The playlist transition state, while a command is on its way to the
    implementation: reports RovaRenderer::Transitioning on entry and starts a
    single-shot wait of \a delay milliseconds (the basic renderer uses 20000).
    When the wait runs out it posts WaitTimeout to \a machine; leaving the
    state stops the wait. \a machine is not owned.
*/
class ROVA_EXPORT RovaRendererTransitionState : public QState
{
    Q_OBJECT

public:
    /*! A negative \a delay is taken as 0, with a warning. */
    RovaRendererTransitionState(QStateMachine* machine, int delay = 20000, QState* parent = nullptr);
    ~RovaRendererTransitionState() override;

Q_SIGNALS:
    /*!
        Emitted on entry with the state the renderer reports now; the basic renderer connects it to
        its stateChanged().
    */
    void stateID(RovaRenderer::State id);

public Q_SLOTS:
    /*! Posts a WaitTimeout event to the machine; called when the wait runs out. */
    void finishWait();

protected:
    /*! Called by the machine when it enters the state, with the \a event that caused it. */
    void onEntry(QEvent* event) override;
    /*! Called by the machine when it leaves the state, with the \a event that caused it. */
    void onExit(QEvent* event) override;

private:
    QStateMachine* m_machine;
    QTimer m_timer;
    int m_delay;
};

#endif // ROVARENDERERTRANSITIONSTATE_H
