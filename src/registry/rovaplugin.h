// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLUGIN_H
#define ROVAPLUGIN_H

#include "rova_export.h"

#include <QString>
#include <QtPlugin>

class RovaInternalRegistry;

/*!
    The interface of a source or renderer plugin's root object. A plugin
    declares it with Q_PLUGIN_METADATA(IID "RovaPlugin") and
    Q_INTERFACES(RovaPlugin), and is installed as a "*.so" file in the plugin
    directory (RovaRegistry::pluginDirectory()).

    The registry calls initialize() once, right after loading the plugin; the
    plugin then creates its sources, renderers and control interfaces and adds
    them with RovaInternalRegistry::addSource(), addRenderer() and
    addPluginControlInterface(). The registry owns what is added.
*/
class ROVA_EXPORT RovaPlugin
{
public:
    virtual ~RovaPlugin();

    /*! Creates and registers what the plugin provides. */
    virtual void initialize(RovaInternalRegistry* registry) = 0;
    /*! The plugin's name, used in the log. */
    virtual QString name() const = 0;
};

/*! The interface identifier of RovaPlugin, for Q_PLUGIN_METADATA(IID ...). */
#define RovaPlugin_iid "RovaPlugin"
Q_DECLARE_INTERFACE(RovaPlugin, RovaPlugin_iid)

#endif // ROVAPLUGIN_H
