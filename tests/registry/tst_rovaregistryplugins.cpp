// SPDX-License-Identifier: LGPL-2.1-or-later
// Plugin discovery and loading. QROVA_PLUGIN_DIR names ROVA_TEST_PLUGIN_DIR for
// this test; the test fills that directory itself.
#include <rovainternalregistry.h>
#include <rovaplugin.h>
#include <rovaplugincontrolinterface.h>
#include <rovarenderer.h>
#include <rovarendererpolicy.h>
#include <rovarendererpolicyplugin.h>
#include <rovasource.h>

#include <QDir>
#include <QFile>
#include <QPluginLoader>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString pluginDir = QStringLiteral(ROVA_TEST_PLUGIN_DIR);

QString inDir(const QString& name)
{
    return pluginDir + QLatin1Char('/') + name;
}

// The warning loadPlugin() writes for \a path, whatever Qt's reason.
QRegularExpression unableToLoad(const QString& path)
{
    return QRegularExpression(QLatin1String("^\"") + QRegularExpression::escape(path)
                              + QLatin1String("\" : unable to load plugin\\. \".+\"$"));
}

// The root object of the plugin in \a path, as Qt keeps it.
QPointer<QObject> rootOf(const QString& path)
{
    QPluginLoader loader(path);
    return loader.instance();
}

} // namespace

class tst_RovaRegistryPlugins : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shouldTakePluginDirectoryFromEnvironment();
    void shouldListPluginFilesAsCanonicalPaths();
    void shouldLoadGoodPluginsAndWarnForOthers();
    void shouldLoadExplicitPathAndAnnounceBeforeReturning();
    void shouldRefuseSamePluginTwice_data();
    void shouldRefuseSamePluginTwice();
    void shouldRefuseFilesThatAreNoRovaPlugin_data();
    void shouldRefuseFilesThatAreNoRovaPlugin();
    void shouldUnloadEveryPluginMatchingPrefix();
    void shouldDeletePluginRootsOnceAndLoadAgain();
    void shouldWarnOnlyForMissingDirectory();
    void shouldLoadDefaultPolicyFromPluginDirectory();

private:
    RovaInternalRegistry* registry() const { return RovaInternalRegistry::internalInstance(); }
    void fillPluginDir();
};

void tst_RovaRegistryPlugins::fillPluginDir()
{
    QDir(pluginDir).removeRecursively();
    QVERIFY(QDir().mkpath(inDir(QStringLiteral("policy"))));
    QVERIFY(QDir().mkpath(inDir(QStringLiteral("folder.so")))); // not a file: never listed
    QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD), inDir(QStringLiteral("libqrova-test-good.so"))));
    QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD2), inDir(QStringLiteral("libqrova-test-good2.so"))));
    QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_OTHERIID), inDir(QStringLiteral("libqrova-test-otheriid.so"))));
    QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN), inDir(QStringLiteral("libqrova-test-notaplugin.so"))));
    QVERIFY(QFile::link(QStringLiteral("libqrova-test-good.so"), inDir(QStringLiteral("libqrova-test-link.so"))));
    // A link whose target is gone is neither listed nor loaded.
    QVERIFY(QFile::link(QStringLiteral("gone.so"), inDir(QStringLiteral("libqrova-test-dangling.so"))));
    QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY),
                        inDir(QStringLiteral("policy/libqrova-tarsi-renderer-policy-plugin.so"))));
    QFile text(inDir(QStringLiteral("broken.so")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("this is not a shared library\n");
    text.close();
    QFile readme(inDir(QStringLiteral("README")));
    QVERIFY(readme.open(QIODevice::WriteOnly));
}

void tst_RovaRegistryPlugins::initTestCase()
{
    fillPluginDir();
}

void tst_RovaRegistryPlugins::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
}

void tst_RovaRegistryPlugins::cleanup()
{
    delete RovaInternalRegistry::internalInstance();
}

void tst_RovaRegistryPlugins::shouldTakePluginDirectoryFromEnvironment()
{
    QCOMPARE(RovaRegistry::pluginDirectory(), pluginDir);
    QCOMPARE(RovaRegistry::ROVA_PLUGIN_DIRECTORY, pluginDir);
    QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
             pluginDir + QLatin1String("/policy/libqrova-tarsi-renderer-policy-plugin.so"));
}

void tst_RovaRegistryPlugins::shouldListPluginFilesAsCanonicalPaths()
{
    const QString good = QFileInfo(inDir(QStringLiteral("libqrova-test-good.so"))).canonicalFilePath();
    const QStringList expected{
        QFileInfo(inDir(QStringLiteral("broken.so"))).canonicalFilePath(),
        good,
        QFileInfo(inDir(QStringLiteral("libqrova-test-good2.so"))).canonicalFilePath(),
        good, // the link, resolved
        QFileInfo(inDir(QStringLiteral("libqrova-test-notaplugin.so"))).canonicalFilePath(),
        QFileInfo(inDir(QStringLiteral("libqrova-test-otheriid.so"))).canonicalFilePath(),
    };
    QCOMPARE(registry()->availablePlugins(), expected);
    QVERIFY(registry()->loadedPlugins().isEmpty()); // listing loads nothing
}

void tst_RovaRegistryPlugins::shouldLoadGoodPluginsAndWarnForOthers()
{
    // In name order; the link is the good plugin a second time.
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(inDir(QStringLiteral("broken.so"))));
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(inDir(QStringLiteral("libqrova-test-link.so"))));
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(inDir(QStringLiteral("libqrova-test-notaplugin.so"))));
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(inDir(QStringLiteral("libqrova-test-otheriid.so"))));
    registry()->loadPlugins();

    QStringList loaded = registry()->loadedPlugins();
    loaded.sort();
    QCOMPARE(loaded, (QStringList{QFileInfo(inDir(QStringLiteral("libqrova-test-good.so"))).canonicalFilePath(),
                                  QFileInfo(inDir(QStringLiteral("libqrova-test-good2.so"))).canonicalFilePath()}));
    QCOMPARE(registry()->sources().count(), 2);
    QVERIFY(registry()->source(QStringLiteral("good-source")));
    QVERIFY(registry()->source(QStringLiteral("good2-source")));
    QCOMPARE(registry()->renderer(QStringLiteral("good-renderer"))->name(), QStringLiteral("Test renderer"));
    QCOMPARE(registry()->renderers().count(), 2);
    RovaPluginControlInterface* control = registry()->pluginControlInterface(QStringLiteral("good-control"));
    QVERIFY(control);
    QCOMPARE(control->setting(QStringLiteral("label")).toString(), QStringLiteral("good"));
    QVERIFY(!control->setSetting(QStringLiteral("unknown"), 1));
    QCOMPARE(registry()->pluginControlInterfaces().count(), 2);
}

void tst_RovaRegistryPlugins::shouldLoadExplicitPathAndAnnounceBeforeReturning()
{
    QStringList log;
    connect(registry(), qOverload<const QString&, const QString&>(&RovaRegistry::sourceAdded), this,
            [&log](const QString& uuid, const QString&) { log << uuid; });
    connect(registry(), qOverload<const QString&, const QString&>(&RovaRegistry::rendererAdded), this,
            [&log](const QString& uuid, const QString&) { log << uuid; });
    QVERIFY(registry()->loadPlugin(QStringLiteral(ROVA_TEST_PLUGIN_GOOD)));
    QCOMPARE(log, (QStringList{QStringLiteral("good-source"), QStringLiteral("good-renderer")}));

    const QString fileName = QFileInfo(QStringLiteral(ROVA_TEST_PLUGIN_GOOD)).canonicalFilePath();
    QCOMPARE(registry()->loadedPlugins(), QStringList{fileName});
    QVERIFY(registry()->plugin(fileName));
    QCOMPARE(registry()->plugin(fileName)->name(), QStringLiteral("good"));
    QCOMPARE(registry()->plugin(fileName + QLatin1Char('x')), nullptr);
    QCOMPARE(registry()->plugin(QString()), nullptr);
}

void tst_RovaRegistryPlugins::shouldRefuseSamePluginTwice_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("same path") << inDir(QStringLiteral("libqrova-test-good.so")) << inDir(QStringLiteral("libqrova-test-good.so"));
    QTest::newRow("file, then link to it") << inDir(QStringLiteral("libqrova-test-good.so"))
                                           << inDir(QStringLiteral("libqrova-test-link.so"));
    QTest::newRow("link, then file") << inDir(QStringLiteral("libqrova-test-link.so"))
                                     << inDir(QStringLiteral("libqrova-test-good.so"));
}

void tst_RovaRegistryPlugins::shouldRefuseSamePluginTwice()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(registry()->loadPlugin(first));
    const int loaders = registry()->findChildren<QPluginLoader*>().count();
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(second));
    QVERIFY(!registry()->loadPlugin(second));
    QCOMPARE(registry()->loadedPlugins().count(), 1);
    QCOMPARE(registry()->sources().count(), 1);
    QCOMPARE(registry()->findChildren<QPluginLoader*>().count(), loaders); // the refused loader is gone
}

void tst_RovaRegistryPlugins::shouldRefuseFilesThatAreNoRovaPlugin_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("text file") << inDir(QStringLiteral("broken.so"));
    QTest::newRow("library that is not a plugin") << QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN);
    QTest::newRow("plugin of another interface") << QStringLiteral(ROVA_TEST_PLUGIN_OTHERIID);
    QTest::newRow("policy plugin") << QStringLiteral(ROVA_TEST_PLUGIN_POLICY);
    QTest::newRow("missing file") << inDir(QStringLiteral("missing.so"));
    QTest::newRow("directory") << inDir(QStringLiteral("folder.so"));
    QTest::newRow("empty path") << QString();
}

void tst_RovaRegistryPlugins::shouldRefuseFilesThatAreNoRovaPlugin()
{
    QFETCH(QString, path);
    QTest::ignoreMessage(QtWarningMsg, unableToLoad(path));
    QVERIFY(!registry()->loadPlugin(path));
    QVERIFY(registry()->loadedPlugins().isEmpty());
    QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());
    // The registry still works.
    QVERIFY(registry()->loadPlugin(QStringLiteral(ROVA_TEST_PLUGIN_GOOD)));
}

void tst_RovaRegistryPlugins::shouldUnloadEveryPluginMatchingPrefix()
{
    const QString good = inDir(QStringLiteral("libqrova-test-good.so"));
    const QString good2 = inDir(QStringLiteral("libqrova-test-good2.so"));
    const QString elsewhere = QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY); // a RovaPlugin outside the directory
    QVERIFY(registry()->loadPlugin(good));
    QVERIFY(registry()->loadPlugin(good2));
    QVERIFY(registry()->loadPlugin(elsewhere));
    const QPointer<QObject> goodRoot = rootOf(good);
    const QPointer<QObject> good2Root = rootOf(good2);
    const QPointer<QObject> elsewhereRoot = rootOf(elsewhere);
    QVERIFY(goodRoot && good2Root && elsewhereRoot);

    // Prefixes that match nothing unload nothing; the empty one matches nothing either.
    for (const QString& name : {QString(), QStringLiteral("/nonexistent/"), QStringLiteral("libqrova-test-good.so"),
                                pluginDir.toUpper()})
        registry()->unloadPlugin(name);
    QCOMPARE(registry()->loadedPlugins().count(), 3);
    QVERIFY(goodRoot && good2Root && elsewhereRoot);

    // A prefix of both file names unloads both.
    registry()->unloadPlugin(inDir(QStringLiteral("libqrova-test-good")));
    QVERIFY(goodRoot.isNull());
    QVERIFY(good2Root.isNull());
    QVERIFY(elsewhereRoot);
    QCOMPARE(registry()->loadedPlugins(), QStringList{QFileInfo(elsewhere).canonicalFilePath()});
    // What they registered stays.
    QCOMPARE(registry()->sources().count(), 2);
    QCOMPARE(registry()->pluginControlInterfaces().count(), 2);

    registry()->unloadPlugin(pluginDir); // nothing from there is left
    QVERIFY(elsewhereRoot);
    registry()->unloadPlugin(QFileInfo(elsewhere).canonicalPath());
    QVERIFY(elsewhereRoot.isNull());
    QVERIFY(registry()->loadedPlugins().isEmpty());
    QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());
}

void tst_RovaRegistryPlugins::shouldDeletePluginRootsOnceAndLoadAgain()
{
    const QString path = inDir(QStringLiteral("libqrova-test-good.so"));
    QVERIFY(registry()->loadPlugin(path));
    registry()->unloadPlugins();
    QVERIFY(registry()->loadedPlugins().isEmpty());
    QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());

    // A new root registers again; what the first one registered is still there.
    QTest::ignoreMessage(QtWarningMsg, "Tried to add source with existing uuid");
    QTest::ignoreMessage(QtWarningMsg, "Tried to add renderer with existing uuid");
    QVERIFY(registry()->loadPlugin(path));
    QCOMPARE(registry()->sources().count(), 1);

    // A root deleted by somebody else takes its entry along.
    delete rootOf(path).data();
    QVERIFY(registry()->loadedPlugins().isEmpty());
    QCOMPARE(registry()->plugin(QFileInfo(path).canonicalFilePath()), nullptr);
    registry()->unloadPlugins(); // nothing left to delete twice

    QTest::ignoreMessage(QtWarningMsg, "Tried to add source with existing uuid");
    QTest::ignoreMessage(QtWarningMsg, "Tried to add renderer with existing uuid");
    QVERIFY(registry()->loadPlugin(path));
    const QPointer<QObject> root = rootOf(path);
    const QPointer<RovaSource> source = registry()->source(QStringLiteral("good-source"));
    delete registry();
    QVERIFY(root.isNull());
    QVERIFY(source.isNull());
}

void tst_RovaRegistryPlugins::shouldWarnOnlyForMissingDirectory()
{
    const QString moved = pluginDir + QLatin1String(".moved");
    QDir(moved).removeRecursively();
    QVERIFY(QDir().rename(pluginDir, moved));
    const QString quoted = QLatin1Char('"') + pluginDir + QLatin1Char('"');
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QLatin1String("Unable to get available ROVA plugins from ") + quoted));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QLatin1String("Unable to load ROVA plugins from ") + quoted));
    QVERIFY(registry()->availablePlugins().isEmpty());
    registry()->loadPlugins();

    // A file where the directory should be is no better.
    QFile file(pluginDir);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QLatin1String("Unable to load ROVA plugins from ") + quoted));
    registry()->loadPlugins();
    QVERIFY(QFile::remove(pluginDir));

    // An empty directory is fine.
    QVERIFY(QDir().mkpath(pluginDir));
    QVERIFY(registry()->availablePlugins().isEmpty());
    registry()->loadPlugins();
    QVERIFY(registry()->loadedPlugins().isEmpty());

    QVERIFY(QDir(pluginDir).removeRecursively());
    QVERIFY(QDir().rename(moved, pluginDir));
}

void tst_RovaRegistryPlugins::shouldLoadDefaultPolicyFromPluginDirectory()
{
    std::unique_ptr<RovaRendererPolicy> policy(
        RovaRendererPolicyPlugin::loadPolicy(RovaRendererPolicyPlugin::defaultPolicyPluginPath()));
    QVERIFY(policy);
    QVERIFY(policy->initialize(RovaRendererPolicy::PlayerGroup));
}

QTEST_GUILESS_MAIN(tst_RovaRegistryPlugins)
#include "tst_rovaregistryplugins.moc"
