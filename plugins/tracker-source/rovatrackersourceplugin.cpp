// SPDX-License-Identifier: LGPL-2.1-or-later
// The plugin that registers the Tracker music source with the registry.
#include "rovatrackersource.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#include <QDebug>
#include <QObject>

class RovaTrackerSourcePlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        auto* source = new RovaTrackerSource(nullptr, QSparqlConnectionOptions(), name());
        // The registry takes the source over; one it refuses is ours to delete.
        if (!registry || !registry->addSource(source)) {
            qWarning() << "RovaTrackerSourcePlugin: the registry did not take the source" << source->uuid();
            delete source;
        }
    }

    QString name() const override { return QStringLiteral("qrova-tracker-source"); }
};

#include "rovatrackersourceplugin.moc"
