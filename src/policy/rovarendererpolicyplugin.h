// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPOLICYPLUGIN_H
#define ROVARENDERERPOLICYPLUGIN_H

#include "rova_export.h"

#include <QObject>
#include <QString>
#include <QtPlugin>

class RovaRendererPolicy;

/*!
    The interface of a policy plugin's root object. A policy plugin declares it
    with Q_PLUGIN_METADATA(IID "com.orvel.rova.RovaRendererPolicyPlugin") and
    Q_INTERFACES(RovaRendererPolicyPlugin).

    The library opens such a plugin with loadPolicy().
*/
class ROVA_EXPORT RovaRendererPolicyPlugin
{
public:
    virtual ~RovaRendererPolicyPlugin();

    /*! A new policy object; the caller owns it. */
    virtual RovaRendererPolicy* createPolicy() = 0;

    /*!
        Loads the policy plugin \a fileName and returns a new policy from it, which
        the caller owns; null, with the warning "Unable to instantiate policy from
        plugin" and the file name, when the file does not load or its root object
        is not a RovaRendererPolicyPlugin.

        The plugin library stays loaded as long as the application object lives:
        its loader becomes a child of the application object.
    */
    static RovaRendererPolicy* loadPolicy(const QString& fileName);

    /*!
        The file of the default policy plugin:
        "<plugin directory>/policy/libqrova-tarsi-renderer-policy-plugin.so", where
        the plugin directory is RovaRegistry::pluginDirectory().
    */
    static QString defaultPolicyPluginPath();
};

/*! The interface identifier of RovaRendererPolicyPlugin, for Q_PLUGIN_METADATA(IID ...). */
#define RovaRendererPolicyPlugin_iid "com.orvel.rova.RovaRendererPolicyPlugin"
Q_DECLARE_INTERFACE(RovaRendererPolicyPlugin, RovaRendererPolicyPlugin_iid)

#endif // ROVARENDERERPOLICYPLUGIN_H
