// SPDX-License-Identifier: LGPL-2.1-or-later
// A valid Qt plugin for some other interface.
#include <QObject>
#include <QtPlugin>

class OtherInterface
{
public:
    virtual ~OtherInterface() = default;
};
Q_DECLARE_INTERFACE(OtherInterface, "org.example.OtherInterface")

class OtherIidTestPlugin : public QObject, public OtherInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.example.OtherInterface")
    Q_INTERFACES(OtherInterface)
};

#include "otheriidplugin.moc"
