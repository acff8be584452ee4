// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPLAYBACKSTATE_H
#define ROVARENDERERPLAYBACKSTATE_H

#include "rova_export.h"

#include <QState>

/*!
    A plain grouping state for playback that only traces its entry and exit; it
    reports no renderer state. The basic renderer's own machine does not use it.
*/
class ROVA_EXPORT RovaRendererPlaybackState : public QState
{
public:
    /*! Creates the state as a child of \a parent. */
    explicit RovaRendererPlaybackState(QState* parent = nullptr);
    ~RovaRendererPlaybackState() override;

protected:
    /*! Called by the machine when it enters the state, with the \a event that caused it. */
    void onEntry(QEvent* event) override;
    /*! Called by the machine when it leaves the state, with the \a event that caused it. */
    void onExit(QEvent* event) override;
};

#endif // ROVARENDERERPLAYBACKSTATE_H
