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
    RovaRendererPlayURITransitionState(QStateMachine* machine, QState* parent = nullptr);
    ~RovaRendererPlayURITransitionState() override;

Q_SIGNALS:
    void stateID(RovaRenderer::State id);

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;

private:
    QStateMachine* m_machine;
};

#endif // ROVARENDERERPLAYURITRANSITIONSTATE_H
