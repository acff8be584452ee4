// SPDX-License-Identifier: LGPL-2.1-or-later
// A well-formed plugin: registers one source, one renderer and one control
// interface. Built twice, with different ids (ROVA_TEST_PLUGIN_TAG).
#include "rovatestobjects.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>

#include <QObject>

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
        const QString tag = QStringLiteral(ROVA_TEST_STR(ROVA_TEST_PLUGIN_TAG));
        auto* source = new RovaTestSource(tag + QLatin1String("-source"), QStringLiteral("Test source"));
        if (!registry->addSource(source))
            delete source;
        auto* renderer = new RovaTestRenderer(tag + QLatin1String("-renderer"), QStringLiteral("Test renderer"));
        if (!registry->addRenderer(renderer))
            delete renderer;
        registry->addPluginControlInterface(tag + QLatin1String("-control"), new RovaTestControlInterface(tag));
    }

    QString name() const override { return QStringLiteral(ROVA_TEST_STR(ROVA_TEST_PLUGIN_TAG)); }
};

#include "goodplugin.moc"
