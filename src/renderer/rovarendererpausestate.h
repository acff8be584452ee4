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
    explicit RovaRendererPauseState(QState* parent = nullptr);
    ~RovaRendererPauseState() override;

Q_SIGNALS:
    void stateID(RovaRenderer::State id);

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
};

#endif // ROVARENDERERPAUSESTATE_H
