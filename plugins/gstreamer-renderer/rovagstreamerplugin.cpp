// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovagstreamerplugin.h"

#include "rovagstreamercontrolinterface.h"
#include "rovagstreamerrenderer.h"

#include <rovainternalregistry.h>

#include <QDebug>

#include <gst/gst.h>

void RovaGStreamerPlugin::initialize(RovaInternalRegistry* registry)
{
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        qWarning() << "GStreamer cannot start, no renderer:" << (error ? error->message : "");
        g_clear_error(&error);
        return;
    }
    auto* renderer = new RovaGStreamerRenderer;
    if (!registry->addRenderer(renderer)) {
        delete renderer;
        return;
    }
    registry->addPluginControlInterface(RovaGStreamerControlInterface::NAME,
                                        new RovaGStreamerControlInterface(renderer));
}

QString RovaGStreamerPlugin::name() const
{
    return RovaGStreamerRenderer::PLUGIN_NAME;
}
