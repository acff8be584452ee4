// SPDX-License-Identifier: LGPL-2.1-or-later
// The plugin that finds the media servers on the network and keeps them in the registry as sources.
#include "rovaupnpsource.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#include <QObject>

class RovaUpnpSourcePlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        if (!registry)
            return;
        // The registry owns the manager; the manager's sources come and go with the servers.
        registry->addPluginControlInterface(RovaUpnpSourceManager::NAME, new RovaUpnpSourceManager(registry));
    }

    QString name() const override { return RovaUpnpSourceManager::NAME; }
};

#include "rovaupnpsourceplugin.moc"
