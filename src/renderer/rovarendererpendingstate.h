// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPENDINGSTATE_H
#define ROVARENDERERPENDINGSTATE_H

#include "rova_export.h"

#include <QState>
#include <QTimer>

class QStateMachine;

/*!
    The pending state, while the renderer waits for the implementation to
    confirm a command. It reports no state, so the renderer keeps reporting
    the one it had. Entering starts a single-shot wait of \a delay milliseconds
    (the basic renderer uses 20000); when it runs out, WaitTimeout is posted to
    \a machine. Leaving the state stops the wait. \a machine is not owned.
*/
class ROVA_EXPORT RovaRendererPendingState : public QState
{
    Q_OBJECT

public:
    /*! A negative \a delay is taken as 0, with a warning. */
    RovaRendererPendingState(QStateMachine* machine, int delay = 20000, QState* parent = nullptr);
    ~RovaRendererPendingState() override;

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

#endif // ROVARENDERERPENDINGSTATE_H
