// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererplaybackstate.h"

RovaRendererPlaybackState::RovaRendererPlaybackState(QState* parent)
    : QState(parent)
{
}

RovaRendererPlaybackState::~RovaRendererPlaybackState() = default;

void RovaRendererPlaybackState::onEntry(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Playback entered...!");
}

void RovaRendererPlaybackState::onExit(QEvent* event)
{
    Q_UNUSED(event)
    qDebug("Playback exited...!");
}
