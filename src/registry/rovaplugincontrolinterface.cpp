// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplugincontrolinterface.h"

RovaPluginControlInterface::RovaPluginControlInterface(QObject* parent)
    : QObject(parent)
{
}

RovaPluginControlInterface::~RovaPluginControlInterface() = default;
