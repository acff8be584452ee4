// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPAUSESTATE_H
#define ROVARENDERERPAUSESTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>

/*!
    A pause state (of playlist or URI playback): reports RovaRenderer::Paused
    on entry. Left because of a Next, Previous or GotoIndex event, it posts a
    high-priority Stop to its machine, so the implementation is stopped before
    the new item is played.
*/
class ROVA_EXPORT RovaRendererPauseState : public QState
{
    Q_OBJECT

public:
    /*! Creates the state as a child of \a parent. */
    explicit RovaRendererPauseState(QState* parent = nullptr);
    ~RovaRendererPauseState() override;

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
};

#endif // ROVARENDERERPAUSESTATE_H
