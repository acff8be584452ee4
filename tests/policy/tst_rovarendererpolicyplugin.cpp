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

    void shouldCreateNewPolicyEachTime()
    {
        const QString path = QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
        const int loaders = loaderCount();
        std::unique_ptr<RovaRendererPolicy> first(RovaRendererPolicyPlugin::loadPolicy(path));
        std::unique_ptr<RovaRendererPolicy> second(RovaRendererPolicyPlugin::loadPolicy(path));
        QVERIFY(first && second && first != second);
        QCOMPARE(first->metaObject()->className(), "PluginTestPolicy");
        QVERIFY(first->parent() == nullptr);
        // Each loader stays with the application, and the code stays loaded.
        QCOMPARE(loaderCount(), loaders + 2);
        QVERIFY(QCoreApplication::instance()->findChildren<QPluginLoader*>().last()->isLoaded());

        QVERIFY(first->initialize(RovaRendererPolicy::PlayerGroup));
        QSignalSpy spy(first.get(), &RovaRendererPolicy::policyEvent);
        first->request({});
        QTRY_COMPARE(spy.count(), 1);
    }

    void shouldRefuseFilesThatGiveNoPolicy_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plugin with another interface") << QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY);
        QTest::newRow("plugin of another interface id") << QStringLiteral(ROVA_TEST_PLUGIN_OTHERIID);
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

private:
    int loaderCount() const
    {
        return QCoreApplication::instance()->findChildren<QPluginLoader*>(Qt::FindDirectChildrenOnly).count();
    }
};

QTEST_GUILESS_MAIN(tst_RovaRendererPolicyPlugin)
#include "tst_rovarendererpolicyplugin.moc"
