// SPDX-License-Identifier: LGPL-2.1-or-later
// The plugin's root object: the registry loads the .so and calls initialize().
#include "silentrenderer.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#include <QObject>

//! [plugin]
class SilentRendererPlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        auto* renderer = new SilentRenderer;
        // The registry becomes the renderer's parent and owner; one it refuses is ours to delete.
        if (!registry || !registry->addRenderer(renderer))
            delete renderer;
    }

    QString name() const override { return QStringLiteral("qrova-example-renderer"); }
};
//! [plugin]

#include "silentrendererplugin.moc"
