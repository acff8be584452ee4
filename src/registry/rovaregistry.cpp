// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaregistry.h"

#include "rovainternalregistry.h"

namespace {

QString readPluginDirectory()
{
    const QString fromEnvironment = qEnvironmentVariable("QROVA_PLUGIN_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral("/usr/lib/qrova-plugin") : fromEnvironment;
}

} // namespace

// Built here when the library is loaded, and through a function so that
// constants in other files that derive from it do not depend on the order of
// initialisation.
const QString RovaRegistry::ROVA_PLUGIN_DIRECTORY = RovaRegistry::pluginDirectory();

QString RovaRegistry::pluginDirectory()
{
    static const QString directory = readPluginDirectory();
    return directory;
}

RovaRegistry::RovaRegistry(QObject* parent)
    : QObject(parent)
{
}

RovaRegistry::~RovaRegistry() = default;

RovaRegistry* RovaRegistry::instance()
{
    return RovaInternalRegistry::internalInstance();
}
