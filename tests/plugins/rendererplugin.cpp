// SPDX-License-Identifier: LGPL-2.1-or-later
// A plugin whose renderer is a recording basic renderer.
#include "rovarecordingrenderer.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

class RendererTestPlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        auto* renderer = new RovaRecordingRenderer(QStringLiteral("recording-renderer"));
        if (!registry->addRenderer(renderer))
            delete renderer;
    }
    QString name() const override { return QStringLiteral("renderer"); }
};

#include "rendererplugin.moc"
