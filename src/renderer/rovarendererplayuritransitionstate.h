// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPLAYURITRANSITIONSTATE_H
#define ROVARENDERERPLAYURITRANSITIONSTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>

class QStateMachine;

/*!
    The transition state of URI playback: reports RovaRenderer::Transitioning
    on entry. It has no wait of its own; the basic renderer moves on from it on
    its stateID() signal. \a machine is not owned.
*/
class ROVA_EXPORT RovaRendererPlayURITransitionState : public QState
{
    Q_OBJECT

public:
    /*! Creates the state as a child of \a parent; it posts its events to \a machine. */
    RovaRendererPlayURITransitionState(QStateMachine* machine, QState* parent = nullptr);
    ~RovaRendererPlayURITransitionState() override;

Q_SIGNALS:
    /*!
        Emitted on entry with the state the renderer reports now; the basic renderer connects it to
        its stateChanged().
    */
    void stateID(RovaRenderer::State id);

protected:
    /*! Called by the machine when it enters the state, with the \a event that caused it. */
    void onEntry(QEvent* event) override;
    /*! Called by the machine when it leaves the state, with the \a event that caused it. */
    void onExit(QEvent* event) override;

private:
    QStateMachine* m_machine;
};

#endif // ROVARENDERERPLAYURITRANSITIONSTATE_H
