// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPLAYINGSTATE_H
#define ROVARENDERERPLAYINGSTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>

class QStateMachine;

/*!
    The playing state of playlist playback: reports RovaRenderer::Playing on
    entry. Entered through a signal whose first argument is a non-zero
    RovaBasicRenderer::RovaRendererPlayingUri value (rendererPlaying(1) or
    rendererPlaying(2)), it first posts ItemPlaying with that value and then
    PrepareNext, so the item is announced and the one after it prepared. Any
    other entry posts nothing. \a machine is not owned.
*/
class ROVA_EXPORT RovaRendererPlayingState : public QState
{
    Q_OBJECT

public:
    /*! Creates the state as a child of \a parent; it posts its events to \a machine. */
    RovaRendererPlayingState(QStateMachine* machine, QState* parent = nullptr);
    ~RovaRendererPlayingState() override;

Q_SIGNALS:
    /*!
        Emitted on entry with the state the renderer reports now; the basic renderer connects it to
        its stateChanged().
    */
    void stateID(RovaRenderer::State id);

public Q_SLOTS:
    /*! Posts a PrepareNext event to the machine. */
    void fetchNext();

protected:
    /*! Called by the machine when it enters the state, with the \a event that caused it. */
    void onEntry(QEvent* event) override;
    /*! Called by the machine when it leaves the state, with the \a event that caused it. */
    void onExit(QEvent* event) override;

private:
    QStateMachine* m_machine;
};

#endif // ROVARENDERERPLAYINGSTATE_H
