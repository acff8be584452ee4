// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAGSTREAMERPLUGIN_H
#define ROVAGSTREAMERPLUGIN_H

#include <rovaplugin.h>

#include <QObject>

/*!
    The plugin "qrova-gstreamer-renderer": initialises GStreamer and registers
    one RovaGStreamerRenderer and its RovaGStreamerControlInterface.
*/
class RovaGStreamerPlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID RovaPlugin_iid)
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override;
    QString name() const override;
};

#endif // ROVAGSTREAMERPLUGIN_H
