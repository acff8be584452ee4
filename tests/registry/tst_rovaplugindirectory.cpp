// SPDX-License-Identifier: LGPL-2.1-or-later
// Run three times: without QROVA_PLUGIN_DIR, with it empty and with a value.
// ROVA_EXPECTED_PLUGIN_DIR holds what the library has to make of it.
#include <rovaregistry.h>
#include <rovarendererpolicyplugin.h>

#include <QTest>

class tst_RovaPluginDirectory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shouldFixPluginDirectoryAtLoad()
    {
        const QString expected = qEnvironmentVariable("ROVA_EXPECTED_PLUGIN_DIR");
        QVERIFY(!expected.isEmpty());
        QCOMPARE(RovaRegistry::ROVA_PLUGIN_DIRECTORY, expected);
        QCOMPARE(RovaRegistry::pluginDirectory(), expected);
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 expected + QLatin1String("/policy/libqrova-tarsi-renderer-policy-plugin.so"));
    }
};

QTEST_GUILESS_MAIN(tst_RovaPluginDirectory)
#include "tst_rovaplugindirectory.moc"
