// SPDX-License-Identifier: LGPL-2.1-or-later
// What the registry holds, announces and deletes, and the plugins it loads. QROVA_PLUGIN_DIR
// names ROVA_TEST_PLUGIN_DIR for this test; the test fills that directory itself.
#include "rovatestobjects.h"

#include <rovainternalregistry.h>
#include <rovaplugin.h>
#include <rovarendererpolicyplugin.h>

#include <QDir>
#include <QPluginLoader>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Every announcement of the registry, in order: "+source*" for the pointer
// form, "+source(uuid,name)" for the other.
class AnnouncementLog : public QObject
{
public:
    explicit AnnouncementLog(RovaRegistry* r)
    {
        log<RovaSource*>(r, &RovaRegistry::sourceAdded, &RovaRegistry::sourceAdded, "+source");
        log<const RovaSource*>(r, &RovaRegistry::sourceRemoved, &RovaRegistry::sourceRemoved, "-source");
        log<RovaRenderer*>(r, &RovaRegistry::rendererAdded, &RovaRegistry::rendererAdded, "+renderer");
        log<const RovaRenderer*>(r, &RovaRegistry::rendererRemoved, &RovaRegistry::rendererRemoved, "-renderer");
        log<RovaPlaylist*>(r, &RovaRegistry::playlistAdded, &RovaRegistry::playlistAdded, "+playlist");
        log<const RovaPlaylist*>(r, &RovaRegistry::playlistRemoved, &RovaRegistry::playlistRemoved, "-playlist");
    }
    QString text() const { return m_entries.join(u';'); }

private:
    template<typename Pointer>
    void log(RovaRegistry* r, void (RovaRegistry::*pointerForm)(Pointer),
             void (RovaRegistry::*idForm)(const QString&, const QString&), const char* label)
    {
        connect(r, pointerForm, this, [this, label] { m_entries << QLatin1String(label) + u'*'; });
        connect(r, idForm, this, [this, label](const QString& id, const QString& name) {
            m_entries << u"%1(%2,%3)"_s.arg(QLatin1String(label), id, name);
        });
    }

    QStringList m_entries;
};

using Controls = QList<RovaPluginControlInterface*>;

const QString pluginDir = QStringLiteral(ROVA_TEST_PLUGIN_DIR);
const QString good = pluginDir + u"/libqrova-test-good.so"_s;
const QString good2 = pluginDir + u"/libqrova-test-good2.so"_s;
const QString goodLink = pluginDir + u"/libqrova-test-link.so"_s;

QString inDir(const QString& name) { return pluginDir + u'/' + name; }

QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

// The warning loadPlugin() writes for \a path, with \a reason or any reason
// that names one.
void expectUnableToLoad(const QString& path, const QString& reason = {})
{
    const QString because = reason.isEmpty() ? u"(?!Unknown error).+"_s : QRegularExpression::escape(reason);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\""_s + QRegularExpression::escape(path)
                                                          + u"\" : unable to load plugin\\. \""_s + because + u"\"$"_s));
}

RovaInternalRegistry* registry() { return RovaInternalRegistry::internalInstance(); }

// The root object of the plugin in \a path, as Qt keeps it.
QPointer<QObject> rootOf(const QString& path) { return QPluginLoader(path).instance(); }

} // namespace

class tst_RovaInternalRegistry : public QObject
{
    Q_OBJECT

    QStringList m_destroyed;

    // A new test object whose id is written to destroyed() when it goes.
    template<typename T, typename... Args>
    T* make(const QString& id, Args... args)
    {
        auto* object = new T(id, args...);
        connect(object, &QObject::destroyed, this, [this, id] { m_destroyed << id; });
        return object;
    }
    QString destroyed() const { return m_destroyed.join(u';'); }

private Q_SLOTS:
    void initTestCase()
    {
        QDir(pluginDir).removeRecursively();
        QVERIFY(QDir().mkpath(inDir(u"folder.so"_s))); // not a file: never listed
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD), good));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_GOOD2), good2));
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_POLICY), inDir(u"libqrova-test-otheriid.so"_s))); // a plugin of another interface
        QVERIFY(QFile::copy(QStringLiteral(ROVA_TEST_PLUGIN_NOTAPLUGIN), inDir(u"libqrova-test-notaplugin.so"_s)));
        QVERIFY(QFile::link(u"libqrova-test-good.so"_s, goodLink));
        // A link whose target is gone is neither listed nor loaded.
        QVERIFY(QFile::link(u"gone.so"_s, inDir(u"libqrova-test-dangling.so"_s)));
        QFile text(inDir(u"broken.so"_s));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("this is not a shared library\n") > 0);
    }
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        m_destroyed.clear();
    }
    void cleanup() { delete RovaInternalRegistry::internalInstance(); } // each test starts empty

    void shouldOwnAnnounceAndLookUpAdditionsAndRefuseBadOnes()
    {
        AnnouncementLog log(registry());
        auto* b = make<RovaTestSource>(u"b"_s, u"Music"_s);
        auto* a = make<RovaTestSource>(u"a"_s);
        auto* r = make<RovaTestRenderer>(u"a"_s, u"Speaker"_s); // kinds never clash
        auto* p3 = make<RovaTestPlaylist>(u"rova3"_s, u"Party"_s, true);
        auto* p2 = make<RovaTestPlaylist>(u"rova2"_s, u"Party"_s); // names may
        auto* p1 = make<RovaTestPlaylist>(u"rova1"_s, QString(), true);
        QVERIFY(registry()->addSource(b) && registry()->addSource(a) && registry()->addRenderer(r));
        QVERIFY(registry()->addPlaylist(p3) && registry()->addPlaylist(p2) && registry()->addPlaylist(p1));
        QVERIFY(a->parent() == registry() && r->parent() == registry() && p1->parent() == registry());

        // Refused candidates stay their caller's.
        RovaTestSource otherSource(u"a"_s);
        RovaTestRenderer otherRenderer(u"a"_s);
        RovaTestPlaylist otherPlaylist(u"rova2"_s);
        RovaTestPlaylist noId{QString()};
        for (const char* warning : {"Tried to add NULL source", "Tried to add source with existing uuid",
                                    "Tried to add NULL renderer", "Tried to add renderer with existing uuid",
                                    "Tried to add NULL playlist or playlist without id",
                                    "Tried to add NULL playlist or playlist without id",
                                    "Tried to add playlist with existing id or name"})
            QTest::ignoreMessage(QtWarningMsg, warning);
        QVERIFY(!registry()->addSource(nullptr) && !registry()->addSource(&otherSource));
        QVERIFY(!registry()->addRenderer(nullptr) && !registry()->addRenderer(&otherRenderer));
        QVERIFY(!registry()->addPlaylist(nullptr) && !registry()->addPlaylist(&noId));
        QVERIFY(!registry()->addPlaylist(&otherPlaylist));
        QVERIFY(!otherSource.parent() && !otherRenderer.parent() && !otherPlaylist.parent() && !noId.parent());

        QCOMPARE(log.text(), u"+source*;+source(b,Music);+source*;+source(a,);+renderer*;+renderer(a,Speaker);"
                             "+playlist*;+playlist(rova3,Party);+playlist*;+playlist(rova2,Party);+playlist*;+playlist(rova1,)"_s);
        QCOMPARE(registry()->sources(), (QList<RovaSource*>{b, a}));
        QCOMPARE(registry()->renderers(), QList<RovaRenderer*>{r});
        QCOMPARE(registry()->playlists(), (QList<RovaPlaylist*>{p3, p2, p1}));
        QCOMPARE(registry()->persistentPlaylists(), (QList<RovaPlaylist*>{p3, p1}));
        QCOMPARE(registry()->source(u"a"_s), a);
        QCOMPARE(registry()->renderer(u"a"_s), r);
        QCOMPARE(registry()->playlist(u"rova2"_s), p2);
        QCOMPARE(registry()->playlist(u"ROVA2"_s), nullptr);
    }

    void shouldAnnounceRemovalsAndForgetObjectsDestroyedElsewhere()
    {
        auto* s = make<RovaTestSource>(u"s"_s);
        auto* r = make<RovaTestRenderer>(u"r"_s);
        auto* p = make<RovaTestPlaylist>(u"rova2"_s);
        auto* kept = make<RovaTestRenderer>(u"kept"_s);
        QVERIFY(registry()->addSource(make<RovaTestSource>(u"u"_s, u"Src"_s)) && registry()->addSource(s));
        QVERIFY(registry()->addRenderer(make<RovaTestRenderer>(u"u"_s, u"Rnd"_s)) && registry()->addRenderer(r));
        QVERIFY(registry()->addPlaylist(make<RovaTestPlaylist>(u"rova1"_s, u"Party"_s)) && registry()->addPlaylist(p));
        QVERIFY(registry()->addRenderer(kept));
        AnnouncementLog log(registry());

        for (const QString& id : {u"unknown"_s, QString()}) {
            registry()->removeExtension(id);
            registry()->removePlaylist(id);
        }
        // The source wins over the renderer of the same uuid; each is deleted
        // before the call returns.
        registry()->removeExtension(u"u"_s);
        registry()->removeExtension(u"u"_s);
        registry()->removePlaylist(u"rova1"_s);
        QCOMPARE(destroyed(), u"u;u;rova1"_s);

        // Destroyed elsewhere: forgotten and announced in the pointer form.
        delete s;
        {
            QObject elsewhere;
            r->setParent(&elsewhere); // taken away, then deleted with its new parent
        }
        delete p;
        // The slot does the same for whoever calls it, and ignores strangers.
        for (QObject* object : std::initializer_list<QObject*>{nullptr, this, kept, kept})
            registry()->extensionDestroyed(object);
        QCOMPARE(log.text(), u"-source(u,Src);-renderer(u,Rnd);-playlist*;-playlist(rova1,Party);"
                             "-source*;-renderer*;-playlist*;-renderer*"_s);
        QVERIFY(registry()->sources().isEmpty() && registry()->renderers().isEmpty() && registry()->playlists().isEmpty());
    }

    void shouldLetListenersRemoveOrDeleteWhatIsAnnounced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("onAdd"); // the listener hears the addition, else the removal
        QTest::addColumn<bool>("deletes"); // it deletes the object, else has the registry remove it
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("listed"); // still in the registry during each removal signal that names it
        QTest::newRow("source removed while added") << "source" << true << false << "+source*;-source(x,X)" << "1";
        QTest::newRow("source deleted while added") << "source" << true << true << "+source*;-source*" << "";
        QTest::newRow("renderer deleted while added") << "renderer" << true << true << "+renderer*;-renderer*" << "";
        QTest::newRow("playlist removed while added") << "playlist" << true << false << "+playlist*;-playlist*;-playlist(x,X)" << "1;1";
        QTest::newRow("source removed again while removed") << "source" << false << false << "-source(x,X)" << "1";
        QTest::newRow("source deleted while removed") << "source" << false << true << "-source(x,X)" << "1";
        QTest::newRow("playlist removed again while removed") << "playlist" << false << false << "-playlist*;-playlist(x,X)" << "1;1";
        QTest::newRow("playlist deleted while removed") << "playlist" << false << true << "-playlist*;-playlist(x,X)" << "1;0";
    }

    void shouldLetListenersRemoveOrDeleteWhatIsAnnounced()
    {
        QFETCH(QString, kind);
        QFETCH(bool, onAdd);
        QFETCH(bool, deletes);
        QFETCH(QString, log);
        QFETCH(QString, listed);
        auto* r = registry();
        QObject* object = kind == u"source"_s ? make<RovaTestSource>(u"x"_s, u"X"_s)
                        : kind == u"renderer"_s ? static_cast<QObject*>(make<RovaTestRenderer>(u"x"_s, u"X"_s))
                                                : make<RovaTestPlaylist>(u"x"_s, u"X"_s);
        const auto add = [&] {
            return kind == u"source"_s ? r->addSource(static_cast<RovaSource*>(object))
                 : kind == u"renderer"_s ? r->addRenderer(static_cast<RovaRenderer*>(object))
                                         : r->addPlaylist(static_cast<RovaPlaylist*>(object));
        };
        const auto remove = [&] { kind == u"playlist"_s ? r->removePlaylist(u"x"_s) : r->removeExtension(u"x"_s); };
        const auto react = [&] { deletes ? delete object : remove(); };
        if (!onAdd)
            QVERIFY(add());
        AnnouncementLog announcements(r); // hears everything before the listener
        QStringList seen;
        const auto look = [&] { seen << (r->source(u"x"_s) || r->playlist(u"x"_s) ? u"1"_s : u"0"_s); };
        connect(r, qOverload<const QString&, const QString&>(&RovaRegistry::sourceRemoved), this, look);
        connect(r, qOverload<const QString&, const QString&>(&RovaRegistry::playlistRemoved), this, look);
        connect(r, qOverload<const RovaPlaylist*>(&RovaRegistry::playlistRemoved), this, look);
        if (onAdd) {
            connect(r, qOverload<RovaSource*>(&RovaRegistry::sourceAdded), this, react);
            connect(r, qOverload<RovaRenderer*>(&RovaRegistry::rendererAdded), this, react);
            connect(r, qOverload<RovaPlaylist*>(&RovaRegistry::playlistAdded), this, react);
            QVERIFY(!add()); // it did not stay
        } else {
            connect(r, qOverload<const QString&, const QString&>(&RovaRegistry::sourceRemoved), this, react);
            connect(r, qOverload<const RovaPlaylist*>(&RovaRegistry::playlistRemoved), this, react);
            remove();
        }
        QCOMPARE(announcements.text(), log);
        QCOMPARE(seen.join(u';'), listed);
        QCOMPARE(destroyed(), u"x"_s);
        QVERIFY(r->sources().isEmpty() && r->renderers().isEmpty() && r->playlists().isEmpty());
    }

    void shouldKeepControlInterfacesByNameAndDeleteWhatItOwnsOnceInOrderWithoutSignals()
    {
        QPointer<RovaRegistry> first = RovaRegistry::instance();
        QCOMPARE(first.data(), static_cast<RovaRegistry*>(registry()));
        QCOMPARE(first->parent(), QCoreApplication::instance());
        auto* a = make<RovaTestControlInterface>(u"a"_s);
        auto* b = make<RovaTestControlInterface>(u"b"_s);
        auto* gone = make<RovaTestControlInterface>(u"gone"_s);
        auto* replaced = make<RovaTestControlInterface>(u"replaced"_s);
        auto* twice = make<RovaTestControlInterface>(u"twice"_s);
        // Replacing deletes the previous object, under every name it is held; the
        // same object again is kept, and so is one held under two names.
        const QList<std::pair<QString, RovaTestControlInterface*>> additions{
            {u"b"_s, make<RovaTestControlInterface>(u"old"_s)}, {u"b"_s, b}, {u"a"_s, a}, {u"a"_s, a}, {u"n"_s, nullptr},
            {u"g"_s, gone}, {u"r1"_s, replaced}, {u"r2"_s, replaced}, {u"r1"_s, nullptr}, {u"x"_s, twice}, {u"y"_s, twice}};
        for (const auto& [name, control] : additions)
            registry()->addPluginControlInterface(name, control);
        delete gone; // by its plugin
        QCOMPARE(registry()->pluginControlInterfaces(), (Controls{a, b, nullptr, nullptr, twice, twice})); // by name
        QCOMPARE(registry()->pluginControlInterface(u"a"_s), a);
        QVERIFY(!a->parent()); // owned without being reparented
        QCOMPARE(destroyed(), u"old;replaced;gone"_s);
        m_destroyed.clear();

        registry()->addRenderer(make<RovaTestRenderer>(u"r1"_s));
        registry()->addSource(make<RovaTestSource>(u"s1"_s));
        auto* p = make<RovaTestPlaylist>(u"rova1"_s);
        registry()->addPlaylist(p);
        registry()->addSource(make<RovaTestSource>(u"s2"_s));
        // The playlist takes a registered source, control interface and playlist with it.
        auto* taken = make<RovaTestSource>(u"s3"_s);
        auto* takenControl = make<RovaTestControlInterface>(u"c"_s);
        auto* takenPlaylist = make<RovaTestPlaylist>(u"rova2"_s);
        registry()->addSource(taken);
        registry()->addPluginControlInterface(u"c"_s, takenControl);
        registry()->addPlaylist(takenPlaylist);
        for (QObject* object : std::initializer_list<QObject*>{taken, takenControl, takenPlaylist})
            object->setParent(p);
        AnnouncementLog log(registry());

        delete first.data();
        QCOMPARE(destroyed(), u"rova1;s3;c;rova2;s1;s2;r1;a;b;twice"_s);
        QCOMPARE(log.text(), QString());
        // A late caller gets a new, working registry, never the deleted one.
        QVERIFY(registry()->sources().isEmpty());
        QCOMPARE(registry()->parent(), QCoreApplication::instance());
    }

    void shouldListAndLoadEachGoodPluginOnceAndWarnForOtherPaths()
    {
        QCOMPARE(RovaRegistry::pluginDirectory(), pluginDir);
        QCOMPARE(RovaRegistry::ROVA_PLUGIN_DIRECTORY, pluginDir);
        QCOMPARE(RovaRendererPolicyPlugin::defaultPolicyPluginPath(),
                 inDir(u"policy/libqrova-tarsi-renderer-policy-plugin.so"_s));
        // In name order; the link resolved to the good plugin.
        const QStringList expected{canonical(inDir(u"broken.so"_s)), canonical(good), canonical(good2), canonical(good),
                                   canonical(inDir(u"libqrova-test-notaplugin.so"_s)),
                                   canonical(inDir(u"libqrova-test-otheriid.so"_s))};
        QCOMPARE(registry()->availablePlugins(), expected);
        QVERIFY(registry()->loadedPlugins().isEmpty()); // listing loads nothing

        // The link is the good plugin a second time; a policy plugin belongs in its own folder.
        const QString loadedAlready = u"The plugin is loaded already"_s;
        expectUnableToLoad(inDir(u"broken.so"_s));
        expectUnableToLoad(goodLink, loadedAlready);
        expectUnableToLoad(inDir(u"libqrova-test-notaplugin.so"_s));
        expectUnableToLoad(inDir(u"libqrova-test-otheriid.so"_s),
                           u"It is a renderer policy plugin; those are loaded from "_s + inDir(u"policy"_s));
        registry()->loadPlugins();
        QCOMPARE(registry()->renderer(u"good2-renderer"_s)->name(), u"Test renderer"_s);
        QCOMPARE(registry()->pluginControlInterface(u"good-control"_s)->setting(u"label"_s), u"good"_s);
        QCOMPARE(registry()->plugin(canonical(good))->name(), u"good"_s);
        QCOMPARE(registry()->plugin(canonical(good) + u'x'), nullptr);
        QCOMPARE(registry()->plugin(QString()), nullptr);

        // Loaded already, or no plugin file at all.
        for (const QString& path : {good, inDir(u"missing.so"_s), inDir(u"folder.so"_s), QString()}) {
            expectUnableToLoad(path, path == good ? loadedAlready : QString());
            QVERIFY(!registry()->loadPlugin(path));
        }
        QStringList loaded = registry()->loadedPlugins();
        loaded.sort();
        QCOMPARE(loaded, (QStringList{canonical(good), canonical(good2)}));
        QCOMPARE(registry()->findChildren<QPluginLoader*>().count(), 2); // refused loaders are gone
        QCOMPARE(registry()->sources().count(), 2);
        QCOMPARE(registry()->renderers().count(), 2);
        QCOMPARE(registry()->pluginControlInterfaces().count(), 2);
    }

    void shouldUnloadByPrefixOrAllAndDeleteEachRootOnce()
    {
        const QString elsewhere = QStringLiteral(ROVA_TEST_PLUGIN_RENDERER); // a RovaPlugin outside the directory
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
        registry()->unloadPlugin(QFileInfo(elsewhere).canonicalPath());
        QVERIFY(!elsewhereRoot && registry()->findChildren<QPluginLoader*>().isEmpty());

        // A new root registers again; what the first one registered stays.
        for (int load = 0; load < 2; ++load) {
            QTest::ignoreMessage(QtWarningMsg, "Tried to add source with existing uuid");
            QTest::ignoreMessage(QtWarningMsg, "Tried to add renderer with existing uuid");
        }
        QVERIFY(registry()->loadPlugin(good));
        QCOMPARE(registry()->sources().count(), 2);
        // A root deleted by somebody else takes its entry along.
        delete rootOf(good).data();
        QCOMPARE(registry()->plugin(canonical(good)), nullptr);
        QVERIFY(registry()->loadPlugin(good));
        const QPointer<QObject> root = rootOf(good);
        registry()->unloadPlugins();
        QVERIFY(!root && registry()->loadedPlugins().isEmpty());
        QCOMPARE(registry()->findChildren<QPluginLoader*>().count(), 1); // the one whose root went stays with the registry
    }

    void shouldWarnOnlyForMissingPluginDirectory()
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
        QVERIFY(QDir().rename(moved, pluginDir));
    }
};

QTEST_GUILESS_MAIN(tst_RovaInternalRegistry)
#include "tst_rovainternalregistry.moc"
