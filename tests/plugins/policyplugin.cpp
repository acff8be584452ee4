// SPDX-License-Identifier: LGPL-2.1-or-later
// A policy plugin whose policy grants every request, like the dummy policy,
// under a class name of its own.
#include <rovadummyrendererpolicy.h>
#include <rovarendererpolicyplugin.h>

class PluginTestPolicy : public RovaDummyRendererPolicy
{
    Q_OBJECT
};

class PolicyTestPlugin : public QObject, public RovaRendererPolicyPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.orvel.rova.RovaRendererPolicyPlugin")
    Q_INTERFACES(RovaRendererPolicyPlugin)

public:
    RovaRendererPolicy* createPolicy() override { return new PluginTestPolicy; }
};

#include "policyplugin.moc"
