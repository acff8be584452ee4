// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaaudiofocusplugin.h"

#include "rovaaudiofocuspolicy.h"

RovaRendererPolicy* RovaAudioFocusPlugin::createPolicy()
{
    return new RovaAudioFocusPolicy;
}
