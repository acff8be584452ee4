// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAPLUGINCONTROLINTERFACE_H
#define ROVAPLUGINCONTROLINTERFACE_H

#include "rova_export.h"

#include <QObject>
#include <QString>
#include <QVariant>

/*!
    A named object through which applications steer a plugin: switch a feature
    on, point a source at a server, read what the plugin is set to. A plugin
    adds it with RovaInternalRegistry::addPluginControlInterface(); applications
    find it with RovaRegistry::pluginControlInterface().

    The settings are the plugin's own: each plugin documents the keys it knows.
    The registry never calls these operations; it only stores, hands out and, as
    the owner, deletes the objects.
*/
class ROVA_EXPORT RovaPluginControlInterface : public QObject
{
    Q_OBJECT

public:
    /*! Creates the interface as a child of \a parent; the registry owns it once it is added. */
    explicit RovaPluginControlInterface(QObject* parent = nullptr);
    ~RovaPluginControlInterface() override;

    /*! The current value of the setting \a key; an invalid QVariant for a key the plugin does not know. */
    virtual QVariant setting(const QString& key) const = 0;
    /*!
        Changes the setting \a key to \a value. Returns false, and changes nothing,
        for a key the plugin does not know or a value it does not accept.
    */
    virtual bool setSetting(const QString& key, const QVariant& value) = 0;
};

#endif // ROVAPLUGINCONTROLINTERFACE_H
