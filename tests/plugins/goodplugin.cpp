// SPDX-License-Identifier: LGPL-2.1-or-later
// A well-formed plugin: registers one source, one renderer and one control
// interface, all named after ROVA_TEST_PLUGIN_TAG (the plugin is built twice).
#include "rovatestobjects.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#define ROVA_TEST_STR2(x) #x
#define ROVA_TEST_STR(x) ROVA_TEST_STR2(x)

class GoodTestPlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry* registry) override
    {
        // Refused when loaded again: what the first load registered stays.
        auto* source = new RovaTestSource(name() + QLatin1String("-source"), QStringLiteral("Test source"));
        if (!registry->addSource(source))
            delete source;
        auto* renderer = new RovaTestRenderer(name() + QLatin1String("-renderer"), QStringLiteral("Test renderer"));
        if (!registry->addRenderer(renderer))
            delete renderer;
        registry->addPluginControlInterface(name() + QLatin1String("-control"), new RovaTestControlInterface(name()));
    }

    QString name() const override { return QStringLiteral(ROVA_TEST_STR(ROVA_TEST_PLUGIN_TAG)); }
};

#include "goodplugin.moc"
