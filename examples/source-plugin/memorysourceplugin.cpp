// SPDX-License-Identifier: LGPL-2.1-or-later
#include "memorysource.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#include <QObject>

//! [plugin]
class MemorySourcePlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        auto* source = new MemorySource(name());
        // The registry becomes the source's parent and owner; one it refuses is ours to delete.
        if (!registry || !registry->addSource(source))
            delete source;
    }

    QString name() const override { return QStringLiteral("qrova-example-source"); }
};
//! [plugin]

#include "memorysourceplugin.moc"
