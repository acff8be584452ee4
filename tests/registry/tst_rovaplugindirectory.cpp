// SPDX-License-Identifier: LGPL-2.1-or-later
// Run without QROVA_PLUGIN_DIR and with it empty; tst_rovaregistryplugins runs
// with it set.
#include <rovaregistry.h>
#include <rovarendererpolicyplugin.h>

#include <QTest>

class tst_RovaPluginDirectory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shouldUseDefaultPluginDirectory()
    {
        QCOMPARE(RovaRegistry::ROVA_PLUGIN_DIRECTORY, QStringLiteral("/usr/lib/qrova-plugin"));
        QCOMPARE(RovaRegistry::pluginDirectory(), QStringLiteral("/usr/lib/qrova-plugin"));
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 QStringLiteral("/usr/lib/qrova-plugin/policy/libqrova-tarsi-renderer-policy-plugin.so"));
    }
};

QTEST_GUILESS_MAIN(tst_RovaPluginDirectory)
#include "tst_rovaplugindirectory.moc"
