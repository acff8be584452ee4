// SPDX-License-Identifier: LGPL-2.1-or-later
// The dummy policy, and policies loaded from a policy plugin.
#include <rovadummyrendererpolicy.h>
#include <rovaregistry.h>
#include <rovarendererpolicyplugin.h>

#include <QPluginLoader>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

int loaderCount()
{
    return QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly).count();
}

} // namespace

class tst_RovaRendererPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void shouldUseDefaultPluginDirectory()
    {
        QCOMPARE(RovaRegistry::pluginDirectory(), QStringLiteral("/usr/lib/qrova-plugin"));
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 QStringLiteral("/usr/lib/qrova-plugin/policy/libqrova-tarsi-renderer-policy-plugin.so"));
    }

    void shouldGrantEachDummyRequestOnNextTurnOnly()
    {
        RovaDummyRendererPolicy policy;
        QVERIFY(policy.initialize(RovaRendererPolicy::PlayerGroup));
        QSignalSpy spy(&policy, &RovaRendererPolicy::policyEvent);
        policy.request({});
        policy.request(RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource);
        policy.release({}); // never answered
        QCOMPARE(spy.count(), 0); // never within the call

        QTRY_COMPARE(spy.count(), 2);
        for (const QList<QVariant>& arguments : std::as_const(spy))
            QCOMPARE(arguments.at(0).value<RovaRendererPolicy::PolicyEvent>(), RovaRendererPolicy::ResourcesGranted);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 2);

        // Deleting the policy first cancels its grant.
        auto* deleted = new RovaDummyRendererPolicy;
        QSignalSpy deletedSpy(deleted, &RovaRendererPolicy::policyEvent);
        deleted->request({});
        delete deleted;
        QCoreApplication::processEvents();
        QCOMPARE(deletedSpy.count(), 0);
    }

    void shouldLoadNewPolicyFromPluginEachTime()
    {
        const int loaders = loaderCount();
        const QString path = QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
        std::unique_ptr<RovaRendererPolicy> first(RovaRendererPolicyPlugin::loadPolicy(path));
        std::unique_ptr<RovaRendererPolicy> second(RovaRendererPolicyPlugin::loadPolicy(path));
        QVERIFY(first && second && first != second);
        QCOMPARE(first->metaObject()->className(), "PluginTestPolicy");
        // Each loader stays with the application, and the code stays loaded.
        QCOMPARE(loaderCount(), loaders + 2);
        QVERIFY(QCoreApplication::instance()->findChildren<QPluginLoader*>().last()->isLoaded());
        QSignalSpy spy(first.get(), &RovaRendererPolicy::policyEvent);
        first->request({});
        QTRY_COMPARE(spy.count(), 1);
    }

    void shouldRefuseFilesThatGiveNoPolicy_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plugin with another interface") << QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY);
        QTest::newRow("library that is not a plugin") << QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN);
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/libqrova-policy.so");
        QTest::newRow("empty file name") << QString();
    }

    void shouldRefuseFilesThatGiveNoPolicy()
    {
        QFETCH(QString, fileName);
        const int loaders = loaderCount();
        const QByteArray warning = "Unable to instantiate policy from plugin \"" + fileName.toUtf8() + '"';
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
        QCOMPARE(RovaRendererPolicyPlugin::loadPolicy(fileName), nullptr);
        QCOMPARE(loaderCount(), loaders + 1);
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPolicy)
#include "tst_rovarendererpolicy.moc"
