// SPDX-License-Identifier: LGPL-2.1-or-later
// A policy plugin whose policy grants on request, like the dummy policy.
#include <rovarendererpolicy.h>
#include <rovarendererpolicyplugin.h>

#include <QObject>
#include <QTimer>

class PluginTestPolicy : public RovaRendererPolicy
{
    Q_OBJECT

public:
    bool initialize(RovaRendererPolicy::PolicyGroup group) override { return group == PlayerGroup; }
    void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override
    {
        setProperty("defaultResources", int(resources));
    }
    void request(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override
    {
        QTimer::singleShot(0, this, [this] { Q_EMIT policyEvent(ResourcesGranted); });
    }
    void release(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override {}
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
