// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererpolicyplugin.h"

#include "rovaregistry.h"
#include "rovarendererpolicy.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPluginLoader>

RovaRendererPolicyPlugin::~RovaRendererPolicyPlugin() = default;

RovaRendererPolicy* RovaRendererPolicyPlugin::loadPolicy(const QString& fileName)
{
    // The loader stays with the application object, so the library that holds
    // the policy's code stays loaded as long as the application lives.
    QCoreApplication* application = QCoreApplication::instance();
    auto* loader = new QPluginLoader(fileName, application);

    RovaRendererPolicy* policy = nullptr;
    if (auto* factory = qobject_cast<RovaRendererPolicyPlugin*>(loader->instance()))
        policy = factory->createPolicy();
    else
        qWarning() << "Unable to instantiate policy from plugin" << fileName;

    // Without an application object nobody would ever delete the loader.
    // Deleting it does not unload a library that was loaded.
    if (!application)
        delete loader;
    return policy;
}

QString RovaRendererPolicyPlugin::defaultPolicyPluginPath()
{
    static const QString path =
        RovaRegistry::pluginDirectory() + QLatin1String("/policy/libqrova-tarsi-renderer-policy-plugin.so");
    return path;
}
