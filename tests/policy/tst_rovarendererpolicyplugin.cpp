// SPDX-License-Identifier: LGPL-2.1-or-later
#include <rovarendererpolicy.h>
#include <rovarendererpolicyplugin.h>

#include <QPluginLoader>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class tst_RovaRendererPolicyPlugin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldCreatePolicyFromPolicyPlugin();
    void shouldRefuseFilesThatGiveNoPolicy_data();
    void shouldRefuseFilesThatGiveNoPolicy();
    void shouldKeepEachLoaderWithTheApplication();

private:
    int loaderCount() const { return QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly).count(); }
};

void tst_RovaRendererPolicyPlugin::shouldCreatePolicyFromPolicyPlugin()
{
    std::unique_ptr<RovaRendererPolicy> first(RovaRendererPolicyPlugin::loadPolicy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY)));
    QVERIFY(first);
    std::unique_ptr<RovaRendererPolicy> second(RovaRendererPolicyPlugin::loadPolicy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY)));
    QVERIFY(second);
    QVERIFY(first != second); // a new policy each time, owned by the caller
    QCOMPARE(first->metaObject()->className(), "PluginTestPolicy");
    QVERIFY(first->parent() == nullptr);

    // The policy works through the interface.
    QVERIFY(first->initialize(RovaRendererPolicy::PlayerGroup));
    QVERIFY(!first->initialize(RovaRendererPolicy::DefaultGroup));
    first->setDefaultResources(RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource);
    QCOMPARE(first->property("defaultResources").toInt(), 3);
    QSignalSpy spy(first.get(), &RovaRendererPolicy::policyEvent);
    first->request({});
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<RovaRendererPolicy::PolicyEvent>(), RovaRendererPolicy::ResourcesGranted);
}

void tst_RovaRendererPolicyPlugin::shouldRefuseFilesThatGiveNoPolicy_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("plugin with another interface") << QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY);
    QTest::newRow("plugin of another interface id") << QStringLiteral(ROVA_TEST_PLUGIN_OTHERIID);
    QTest::newRow("library that is not a plugin") << QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN);
    QTest::newRow("missing file") << QStringLiteral("/nonexistent/libqrova-policy.so");
    QTest::newRow("empty file name") << QString();
}

void tst_RovaRendererPolicyPlugin::shouldRefuseFilesThatGiveNoPolicy()
{
    QFETCH(QString, fileName);
    QTest::ignoreMessage(QtWarningMsg,
                         qPrintable(QLatin1String("Unable to instantiate policy from plugin \"") + fileName + QLatin1Char('"')));
    QCOMPARE(RovaRendererPolicyPlugin::loadPolicy(fileName), nullptr);
}

void tst_RovaRendererPolicyPlugin::shouldKeepEachLoaderWithTheApplication()
{
    const int before = loaderCount();
    const QString missing = QStringLiteral("/nonexistent/policy.so");
    QTest::ignoreMessage(QtWarningMsg, "Unable to instantiate policy from plugin \"/nonexistent/policy.so\"");
    QTest::ignoreMessage(QtWarningMsg, "Unable to instantiate policy from plugin \"/nonexistent/policy.so\"");
    RovaRendererPolicyPlugin::loadPolicy(missing);
    RovaRendererPolicyPlugin::loadPolicy(missing);
    QCOMPARE(loaderCount(), before + 2);

    delete RovaRendererPolicyPlugin::loadPolicy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY));
    QCOMPARE(loaderCount(), before + 3);
    const QList<QPluginLoader*> loaders = QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly);
    QVERIFY(loaders.last()->isLoaded()); // the policy's code stays loaded
}

QTEST_GUILESS_MAIN(tst_RovaRendererPolicyPlugin)
#include "tst_rovarendererpolicyplugin.moc"
