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
#include <QPluginLoader>
#include <QPointer>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString pluginDir = QStringLiteral(ROVA_TEST_PLUGIN_DIR);
const QString good = pluginDir + u"/libqrova-test-good.so"_s;
const QString good2 = pluginDir + u"/libqrova-test-good2.so"_s;
const QString goodLink = pluginDir + u"/libqrova-test-link.so"_s;

QString inDir(const QString& name)
{
    return pluginDir + u'/' + name;
}

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

// The warning loadPlugin() writes for \a path, whatever Qt's reason.
void expectUnableToLoad(const QString& path)
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\""_s + QRegularExpression::escape(path)
                                                          + u"\" : unable to load plugin\\. \".+\"$"_s));
}

RovaInternalRegistry* registry()
{
    return RovaInternalRegistry::internalInstance();
}

// The root object of the plugin in \a path, as Qt keeps it.
QPointer<QObject> rootOf(const QString& path)
{
    return QPluginLoader(path).instance();
}

} // namespace

class tst_RovaRegistryPlugins : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }
    void cleanup() { delete RovaInternalRegistry::internalInstance(); }

    void initTestCase()
    {
        QDir(pluginDir).removeRecursively();
        QVERIFY(QDir().mkpath(inDir(u"policy"_s)));
        QVERIFY(QDir().mkpath(inDir(u"folder.so"_s))); // not a file: never listed
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD), good));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD2), good2));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_OTHERIID), inDir(u"libqrova-test-otheriid.so"_s)));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN), inDir(u"libqrova-test-notaplugin.so"_s)));
        QVERIFY(QFile::link(u"libqrova-test-good.so"_s, goodLink));
        // A link whose target is gone is neither listed nor loaded.
        QVERIFY(QFile::link(u"gone.so"_s, inDir(u"libqrova-test-dangling.so"_s)));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY),
                            inDir(u"policy/libqrova-tarsi-renderer-policy-plugin.so"_s)));
        QFile text(inDir(u"broken.so"_s));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("this is not a shared library\n") > 0);
        QFile readme(inDir(u"README"_s));
        QVERIFY(readme.open(QIODevice::WriteOnly));
    }

    void shouldListPluginDirectoryFromEnvironment()
    {
        QCOMPARE(RovaRegistry::pluginDirectory(), pluginDir);
        QCOMPARE(RovaRegistry::ROVA_PLUGIN_DIRECTORY, pluginDir);
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 pluginDir + u"/policy/libqrova-tarsi-renderer-policy-plugin.so"_s);
        QVERIFY(std::unique_ptr<RovaRendererPolicy>(
            RovaRendererPolicyPlugin::loadPolicy(RovaRendererPolicyPlugin::defaultPolicyPluginPath())));

        // In name order; the link resolved to the good plugin.
        const QStringList expected{canonical(inDir(u"broken.so"_s)), canonical(good), canonical(good2), canonical(good),
                                   canonical(inDir(u"libqrova-test-notaplugin.so"_s)),
                                   canonical(inDir(u"libqrova-test-otheriid.so"_s))};
        QCOMPARE(registry()->availablePlugins(), expected);
        QVERIFY(registry()->loadedPlugins().isEmpty()); // listing loads nothing
    }

    void shouldLoadGoodPluginsAndWarnForOthers()
    {
        // In name order; the link is the good plugin a second time.
        for (const QString& path : {inDir(u"broken.so"_s), goodLink, inDir(u"libqrova-test-notaplugin.so"_s),
                                    inDir(u"libqrova-test-otheriid.so"_s)})
            expectUnableToLoad(path);
        registry()->loadPlugins();

        QStringList loaded = registry()->loadedPlugins();
        loaded.sort();
        QCOMPARE(loaded, (QStringList{canonical(good), canonical(good2)}));
        QCOMPARE(registry()->findChildren<QPluginLoader*>().count(), 2); // refused loaders are gone
        QCOMPARE(registry()->sources().count(), 2);
        QCOMPARE(registry()->renderers().count(), 2);
        QCOMPARE(registry()->renderer(u"good2-renderer"_s)->name(), u"Test renderer"_s);
        QCOMPARE(registry()->pluginControlInterfaces().count(), 2);
        QCOMPARE(registry()->pluginControlInterface(u"good-control"_s)->setting(u"label"_s), u"good"_s);
    }

    void shouldLoadExplicitPathOnce_data()
    {
        QTest::addColumn<QString>("again");
        QTest::newRow("same path") << good;
        QTest::newRow("link to it") << goodLink;
    }

    void shouldLoadExplicitPathOnce()
    {
        QFETCH(QString, again);
        QVERIFY(registry()->loadPlugin(good));
        // Registered before loadPlugin() returns.
        QVERIFY(registry()->source(u"good-source"_s) && registry()->renderer(u"good-renderer"_s));
        QCOMPARE(registry()->loadedPlugins(), QStringList{canonical(good)});
        QCOMPARE(registry()->plugin(canonical(good))->name(), u"good"_s);
        QCOMPARE(registry()->plugin(canonical(good) + u'x'), nullptr);
        QCOMPARE(registry()->plugin(QString()), nullptr);

        expectUnableToLoad(again);
        QVERIFY(!registry()->loadPlugin(again));
        QCOMPARE(registry()->loadedPlugins().count(), 1);
        QCOMPARE(registry()->sources().count(), 1);
        QCOMPARE(registry()->findChildren<QPluginLoader*>().count(), 1); // the refused loader is gone
    }

    // Plugin files of the wrong kind are tried by loadPlugins() above.
    void shouldRefusePathsThatAreNoPluginFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing file") << inDir(u"missing.so"_s);
        QTest::newRow("directory") << inDir(u"folder.so"_s);
        QTest::newRow("empty path") << QString();
    }

    void shouldRefusePathsThatAreNoPluginFile()
    {
        QFETCH(QString, path);
        expectUnableToLoad(path);
        QVERIFY(!registry()->loadPlugin(path));
        QVERIFY(registry()->loadedPlugins().isEmpty());
        QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());
        QVERIFY(registry()->loadPlugin(good)); // the registry still works
    }

    void shouldUnloadEveryPluginMatchingPrefix()
    {
        const QString elsewhere = QStringLiteral(ROVA_TEST_PLUGIN_WRONGPOLICY); // a RovaPlugin outside the directory
        for (const QString& path : {good, good2, elsewhere})
            QVERIFY(registry()->loadPlugin(path));
        const QPointer<QObject> goodRoot = rootOf(good);
        const QPointer<QObject> good2Root = rootOf(good2);
        const QPointer<QObject> elsewhereRoot = rootOf(elsewhere);
        QVERIFY(goodRoot && good2Root && elsewhereRoot);

        // Prefixes that match nothing unload nothing; the empty one matches nothing either.
        for (const QString& name : {QString(), u"/nonexistent/"_s, u"libqrova-test-good.so"_s, pluginDir.toUpper()})
            registry()->unloadPlugin(name);
        QCOMPARE(registry()->loadedPlugins().count(), 3);

        // A prefix of both file names unloads both; what they registered stays.
        registry()->unloadPlugin(inDir(u"libqrova-test-good"_s));
        QVERIFY(!goodRoot && !good2Root && elsewhereRoot);
        QCOMPARE(registry()->loadedPlugins(), QStringList{canonical(elsewhere)});
        QCOMPARE(registry()->sources().count(), 2);
        QCOMPARE(registry()->pluginControlInterfaces().count(), 2);

        registry()->unloadPlugin(QFileInfo(elsewhere).canonicalPath());
        QVERIFY(!elsewhereRoot);
        QVERIFY(registry()->loadedPlugins().isEmpty());
        QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());
    }

    void shouldDeletePluginRootsOnceAndLoadAgain()
    {
        QVERIFY(registry()->loadPlugin(good));
        registry()->unloadPlugins();
        QVERIFY(registry()->loadedPlugins().isEmpty());
        QVERIFY(registry()->findChildren<QPluginLoader*>().isEmpty());

        // A new root registers again; what the first one registered is still there.
        for (int load = 0; load < 2; ++load) {
            QTest::ignoreMessage(QtWarningMsg, "Tried to add source with existing uuid");
            QTest::ignoreMessage(QtWarningMsg, "Tried to add renderer with existing uuid");
        }
        QVERIFY(registry()->loadPlugin(good));
        QCOMPARE(registry()->sources().count(), 1);

        // A root deleted by somebody else takes its entry along.
        delete rootOf(good).data();
        QCOMPARE(registry()->plugin(canonical(good)), nullptr);
        registry()->unloadPlugins(); // nothing left to delete twice

        QVERIFY(registry()->loadPlugin(good));
        const QPointer<QObject> root = rootOf(good);
        const QPointer<RovaSource> source = registry()->source(u"good-source"_s);
        delete registry();
        QVERIFY(!root && !source);
    }

    void shouldWarnOnlyForMissingDirectory()
    {
        const QString moved = pluginDir + u".moved"_s;
        QDir(moved).removeRecursively();
        QVERIFY(QDir().rename(pluginDir, moved));
        const QString quoted = u'"' + pluginDir + u'"';
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Unable to get available ROVA plugins from "_s + quoted));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Unable to load ROVA plugins from "_s + quoted));
        QVERIFY(registry()->availablePlugins().isEmpty());
        registry()->loadPlugins();

        // A file where the directory should be is no better.
        QFile file(pluginDir);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Unable to load ROVA plugins from "_s + quoted));
        registry()->loadPlugins();
        QVERIFY(file.remove());

        // An empty directory is fine.
        QVERIFY(QDir().mkpath(pluginDir));
        QVERIFY(registry()->availablePlugins().isEmpty());
        registry()->loadPlugins();
        QVERIFY(registry()->loadedPlugins().isEmpty());

        QVERIFY(QDir(pluginDir).removeRecursively() && QDir().rename(moved, pluginDir));
    }
};

QTEST_GUILESS_MAIN(tst_RovaRegistryPlugins)
#include "tst_rovaregistryplugins.moc"
