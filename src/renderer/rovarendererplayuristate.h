// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPLAYURISTATE_H
#define ROVARENDERERPLAYURISTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>

class QStateMachine;

/*!
    The playing state of URI playback: reports RovaRenderer::Playing on entry.
    Entered through a signal whose first argument is 1 (rendererPlaying(1), the
    given URI), it posts ItemPlaying with that value; it never prepares a next
    item. \a machine is not owned.
*/
class ROVA_EXPORT RovaRendererPlayURIState : public QState
{
    Q_OBJECT

public:
    /*! Creates the state as a child of \a parent; it posts its events to \a machine. */
    RovaRendererPlayURIState(QStateMachine* machine, QState* parent = nullptr);
    ~RovaRendererPlayURIState() override;

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

#endif // ROVARENDERERPLAYURISTATE_H
