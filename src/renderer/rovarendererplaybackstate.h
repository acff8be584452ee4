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
    explicit RovaRendererPlaybackState(QState* parent = nullptr);
    ~RovaRendererPlaybackState() override;

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
};

#endif // ROVARENDERERPLAYBACKSTATE_H
