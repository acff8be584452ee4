// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplugin.h"

RovaPlugin::~RovaPlugin() = default;
