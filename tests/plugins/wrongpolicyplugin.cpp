// SPDX-License-Identifier: LGPL-2.1-or-later
// A source and renderer plugin that registers nothing: the wrong interface for
// a policy plugin file.
#include <rovaplugin.h>

#include <QObject>

class WrongPolicyTestPlugin : public QObject, public RovaPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "RovaPlugin")
    Q_INTERFACES(RovaPlugin)

public:
    void initialize(RovaInternalRegistry*) override {}
    QString name() const override { return QStringLiteral("wrong-policy"); }
};

#include "wrongpolicyplugin.moc"
