// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatestobjects.h"

#include <rovainternalregistry.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

// Writes down every announcement of a registry, in order:
// "+source*" for the pointer form, "+source(uuid,name)" for the other one.
class AnnouncementLog
{
public:
    explicit AnnouncementLog(RovaRegistry* registry)
    {
        using R = RovaRegistry;
        QObject::connect(registry, qOverload<RovaSource*>(&R::sourceAdded), &m_context,
                         [this](RovaSource*) { m_entries << QStringLiteral("+source*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::sourceAdded), &m_context,
                         [this](const QString& u, const QString& n) { add(QStringLiteral("+source"), u, n); });
        QObject::connect(registry, qOverload<const RovaSource*>(&R::sourceRemoved), &m_context,
                         [this](const RovaSource*) { m_entries << QStringLiteral("-source*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::sourceRemoved), &m_context,
                         [this](const QString& u, const QString& n) { add(QStringLiteral("-source"), u, n); });
        QObject::connect(registry, qOverload<RovaRenderer*>(&R::rendererAdded), &m_context,
                         [this](RovaRenderer*) { m_entries << QStringLiteral("+renderer*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::rendererAdded), &m_context,
                         [this](const QString& u, const QString& n) { add(QStringLiteral("+renderer"), u, n); });
        QObject::connect(registry, qOverload<const RovaRenderer*>(&R::rendererRemoved), &m_context,
                         [this](const RovaRenderer*) { m_entries << QStringLiteral("-renderer*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::rendererRemoved), &m_context,
                         [this](const QString& u, const QString& n) { add(QStringLiteral("-renderer"), u, n); });
        QObject::connect(registry, qOverload<RovaPlaylist*>(&R::playlistAdded), &m_context,
                         [this](RovaPlaylist*) { m_entries << QStringLiteral("+playlist*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::playlistAdded), &m_context,
                         [this](const QString& i, const QString& n) { add(QStringLiteral("+playlist"), i, n); });
        QObject::connect(registry, qOverload<const RovaPlaylist*>(&R::playlistRemoved), &m_context,
                         [this](const RovaPlaylist*) { m_entries << QStringLiteral("-playlist*"); });
        QObject::connect(registry, qOverload<const QString&, const QString&>(&R::playlistRemoved), &m_context,
                         [this](const QString& i, const QString& n) { add(QStringLiteral("-playlist"), i, n); });
    }

    QString text() const { return m_entries.join(QLatin1Char(';')); }

private:
    void add(const QString& what, const QString& id, const QString& name)
    {
        m_entries << what + QLatin1Char('(') + id + QLatin1Char(',') + name + QLatin1Char(')');
    }

    QObject m_context;
    QStringList m_entries;
};

} // namespace

class tst_RovaInternalRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shouldBeOneRegistryChildOfApplication();
    void shouldHandOutNewRegistryAfterDestruction();
    void shouldAnnounceAdditionsPointerFormFirst();
    void shouldRefuseBadAdditions_data();
    void shouldRefuseBadAdditions();
    void shouldCompareUuidsPerKindOnly();
    void shouldAcceptPlaylistsWithSameName();
    void shouldLookUpExactlyInRegistrationOrder();
    void shouldListPersistentPlaylistsInOrder();
    void shouldAnnounceAndDeleteRemovedPlaylist();
    void shouldRemoveSourceBeforeRendererOfSameUuid();
    void shouldIgnoreRemovalOfUnknownIds();
    void shouldForgetObjectsDestroyedElsewhere();
    void shouldForgetExtensionsThroughSlot();
    void shouldDeleteOwnedObjectsInOrderWithoutSignals();
    void shouldNotDeleteTwiceWhenObjectsTakeOthersAlong();
    void shouldKeepControlInterfacesByName();
    void shouldKeepControlInterfaceAddedAgainUnderSameName();
    void shouldForgetControlInterfaceDestroyedElsewhere();
    void shouldDeleteControlInterfaceHeldUnderTwoNamesOnce();

private:
    RovaInternalRegistry* registry() const { return RovaInternalRegistry::internalInstance(); }
    RovaTestDestroyedHook hook()
    {
        return [this](const QString& what) { m_destroyed << what; };
    }

    QStringList m_destroyed;
};

void tst_RovaInternalRegistry::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_destroyed.clear();
}

void tst_RovaInternalRegistry::cleanup()
{
    // Each test starts with an empty registry.
    delete RovaInternalRegistry::internalInstance();
}

void tst_RovaInternalRegistry::shouldBeOneRegistryChildOfApplication()
{
    RovaRegistry* registry = RovaRegistry::instance();
    QVERIFY(registry);
    QCOMPARE(registry, RovaRegistry::instance());
    QCOMPARE(registry, static_cast<RovaRegistry*>(RovaInternalRegistry::internalInstance()));
    QCOMPARE(registry->parent(), QCoreApplication::instance());
    QCOMPARE(registry->metaObject()->className(), "RovaInternalRegistry");
    QCOMPARE(registry->metaObject()->superClass()->className(), "RovaRegistry");
    QVERIFY(registry->sources().isEmpty());
    QVERIFY(registry->renderers().isEmpty());
    QVERIFY(registry->playlists().isEmpty());
    QVERIFY(registry->pluginControlInterfaces().isEmpty());
    QCOMPARE(registry->source(QString()), nullptr);
}

void tst_RovaInternalRegistry::shouldHandOutNewRegistryAfterDestruction()
{
    QPointer<RovaInternalRegistry> first = registry();
    QVERIFY(first->addSource(new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"), hook())));
    delete first.data();
    QVERIFY(first.isNull());
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("source s")});

    // A late caller gets a working registry, not the deleted one.
    RovaInternalRegistry* second = registry();
    QVERIFY(second->sources().isEmpty());
    QVERIFY(second->addSource(new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"))));
    QCOMPARE(second->sources().count(), 1);
    QCOMPARE(second->parent(), QCoreApplication::instance());
}

void tst_RovaInternalRegistry::shouldAnnounceAdditionsPointerFormFirst()
{
    AnnouncementLog log(registry());
    auto* source = new RovaTestSource(QStringLiteral("s1"), QStringLiteral("Music"));
    auto* renderer = new RovaTestRenderer(QStringLiteral("r1"), QStringLiteral("Speaker"));
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("Party"));
    QVERIFY(registry()->addSource(source));
    QVERIFY(registry()->addRenderer(renderer));
    QVERIFY(registry()->addPlaylist(playlist));
    QCOMPARE(log.text(), QStringLiteral("+source*;+source(s1,Music);+renderer*;+renderer(r1,Speaker);"
                                        "+playlist*;+playlist(rova1,Party)"));
    // The registry owns them now.
    QCOMPARE(source->parent(), registry());
    QCOMPARE(renderer->parent(), registry());
    QCOMPARE(playlist->parent(), registry());
    QCOMPARE(registry()->sources(), QList<RovaSource*>{source});
    QCOMPARE(registry()->renderers(), QList<RovaRenderer*>{renderer});
    QCOMPARE(registry()->playlists(), QList<RovaPlaylist*>{playlist});
}

void tst_RovaInternalRegistry::shouldRefuseBadAdditions_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("warning");
    QTest::newRow("null source") << QStringLiteral("source") << QString() << QStringLiteral("Tried to add NULL source");
    QTest::newRow("source with registered uuid") << QStringLiteral("source") << QStringLiteral("taken")
                                                 << QStringLiteral("Tried to add source with existing uuid");
    QTest::newRow("same source again") << QStringLiteral("source") << QStringLiteral("same")
                                       << QStringLiteral("Tried to add source with existing uuid");
    QTest::newRow("null renderer") << QStringLiteral("renderer") << QString() << QStringLiteral("Tried to add NULL renderer");
    QTest::newRow("renderer with registered uuid") << QStringLiteral("renderer") << QStringLiteral("taken")
                                                   << QStringLiteral("Tried to add renderer with existing uuid");
    QTest::newRow("same renderer again") << QStringLiteral("renderer") << QStringLiteral("same")
                                         << QStringLiteral("Tried to add renderer with existing uuid");
    QTest::newRow("null playlist") << QStringLiteral("playlist") << QString()
                                   << QStringLiteral("Tried to add NULL playlist or playlist without id");
    QTest::newRow("playlist with empty id") << QStringLiteral("playlist") << QStringLiteral("")
                                            << QStringLiteral("Tried to add NULL playlist or playlist without id");
    QTest::newRow("playlist with registered id") << QStringLiteral("playlist") << QStringLiteral("taken")
                                                 << QStringLiteral("Tried to add playlist with existing id or name");
    QTest::newRow("same playlist again") << QStringLiteral("playlist") << QStringLiteral("same")
                                         << QStringLiteral("Tried to add playlist with existing id or name");
}

void tst_RovaInternalRegistry::shouldRefuseBadAdditions()
{
    QFETCH(QString, kind);
    QFETCH(QString, id);
    QFETCH(QString, warning);
    const QString taken = QStringLiteral("taken");
    auto* source = new RovaTestSource(taken, QStringLiteral("first"));
    auto* renderer = new RovaTestRenderer(taken, QStringLiteral("first"));
    auto* playlist = new RovaTestPlaylist(taken, QStringLiteral("first"));
    QVERIFY(registry()->addSource(source));
    QVERIFY(registry()->addRenderer(renderer));
    QVERIFY(registry()->addPlaylist(playlist));
    AnnouncementLog log(registry());

    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    bool added = true;
    if (kind == QLatin1String("source")) {
        std::unique_ptr<RovaTestSource> candidate(id.isNull() ? nullptr : new RovaTestSource(id, QStringLiteral("second")));
        added = registry()->addSource(id == QLatin1String("same") ? source : candidate.get());
        if (candidate)
            QCOMPARE(candidate->parent(), nullptr);
    } else if (kind == QLatin1String("renderer")) {
        std::unique_ptr<RovaTestRenderer> candidate(id.isNull() ? nullptr : new RovaTestRenderer(id, QStringLiteral("second")));
        added = registry()->addRenderer(id == QLatin1String("same") ? renderer : candidate.get());
        if (candidate)
            QCOMPARE(candidate->parent(), nullptr);
    } else {
        std::unique_ptr<RovaTestPlaylist> candidate(id.isNull() ? nullptr : new RovaTestPlaylist(id, QStringLiteral("second")));
        added = registry()->addPlaylist(id == QLatin1String("same") ? playlist : candidate.get());
        if (candidate)
            QCOMPARE(candidate->parent(), nullptr);
    }
    QVERIFY(!added);
    QCOMPARE(log.text(), QString());
    QCOMPARE(registry()->sources(), QList<RovaSource*>{source});
    QCOMPARE(registry()->renderers(), QList<RovaRenderer*>{renderer});
    QCOMPARE(registry()->playlists(), QList<RovaPlaylist*>{playlist});
}

void tst_RovaInternalRegistry::shouldCompareUuidsPerKindOnly()
{
    auto* source = new RovaTestSource(QStringLiteral("shared"), QStringLiteral("S"));
    auto* renderer = new RovaTestRenderer(QStringLiteral("shared"), QStringLiteral("R"));
    QVERIFY(registry()->addSource(source));
    QVERIFY(registry()->addRenderer(renderer));
    QCOMPARE(registry()->source(QStringLiteral("shared")), source);
    QCOMPARE(registry()->renderer(QStringLiteral("shared")), renderer);
}

void tst_RovaInternalRegistry::shouldAcceptPlaylistsWithSameName()
{
    QVERIFY(registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("Same"))));
    QVERIFY(registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova2"), QStringLiteral("Same"))));
    QCOMPARE(registry()->playlists().count(), 2);
}

void tst_RovaInternalRegistry::shouldLookUpExactlyInRegistrationOrder()
{
    auto* a = new RovaTestSource(QStringLiteral("a"), QStringLiteral("A"));
    auto* b = new RovaTestSource(QStringLiteral("b"), QStringLiteral("B"));
    registry()->addSource(b);
    registry()->addSource(a);
    QCOMPARE(registry()->sources(), (QList<RovaSource*>{b, a}));
    QCOMPARE(registry()->source(QStringLiteral("a")), a);
    QCOMPARE(registry()->source(QStringLiteral("A")), nullptr); // case matters
    QCOMPARE(registry()->source(QString()), nullptr);
    QCOMPARE(registry()->renderer(QStringLiteral("a")), nullptr);

    auto* p = new RovaTestPlaylist(QStringLiteral("rovaP"), QStringLiteral("P"));
    registry()->addPlaylist(p);
    QCOMPARE(registry()->playlist(QStringLiteral("rovaP")), p);
    QCOMPARE(registry()->playlist(QStringLiteral("rovap")), nullptr);
    QCOMPARE(registry()->playlist(QString()), nullptr);

    // A copy: changing it leaves the registry alone.
    QList<RovaSource*> copy = registry()->sources();
    copy.clear();
    QCOMPARE(registry()->sources().count(), 2);
}

void tst_RovaInternalRegistry::shouldListPersistentPlaylistsInOrder()
{
    auto* p1 = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("1"), true);
    auto* p2 = new RovaTestPlaylist(QStringLiteral("rova2"), QStringLiteral("2"), false);
    auto* p3 = new RovaTestPlaylist(QStringLiteral("rova3"), QStringLiteral("3"), true);
    registry()->addPlaylist(p3);
    registry()->addPlaylist(p2);
    registry()->addPlaylist(p1);
    QCOMPARE(registry()->persistentPlaylists(), (QList<RovaPlaylist*>{p3, p1}));
}

void tst_RovaInternalRegistry::shouldAnnounceAndDeleteRemovedPlaylist()
{
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("Party"), false, hook());
    registry()->addPlaylist(playlist);
    registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova2"), QStringLiteral("Other")));
    AnnouncementLog log(registry());
    const RovaPlaylist* announced = nullptr;
    connect(registry(), qOverload<const RovaPlaylist*>(&RovaRegistry::playlistRemoved), this,
            [&announced](const RovaPlaylist* p) { announced = p; });

    registry()->removePlaylist(QStringLiteral("rova1"));
    QCOMPARE(log.text(), QStringLiteral("-playlist*;-playlist(rova1,Party)"));
    QCOMPARE(announced, playlist);
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("playlist rova1")}); // deleted before the call returned
    QCOMPARE(registry()->playlists().count(), 1);
    QCOMPARE(registry()->playlist(QStringLiteral("rova1")), nullptr);
}

void tst_RovaInternalRegistry::shouldRemoveSourceBeforeRendererOfSameUuid()
{
    registry()->addSource(new RovaTestSource(QStringLiteral("u"), QStringLiteral("Src"), hook()));
    registry()->addRenderer(new RovaTestRenderer(QStringLiteral("u"), QStringLiteral("Rnd"), hook()));
    AnnouncementLog log(registry());

    registry()->removeExtension(QStringLiteral("u"));
    QCOMPARE(log.text(), QStringLiteral("-source(u,Src)"));
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("source u")});
    QVERIFY(registry()->sources().isEmpty());
    QCOMPARE(registry()->renderers().count(), 1);

    registry()->removeExtension(QStringLiteral("u"));
    QCOMPARE(log.text(), QStringLiteral("-source(u,Src);-renderer(u,Rnd)"));
    QCOMPARE(m_destroyed, (QStringList{QStringLiteral("source u"), QStringLiteral("renderer u")}));
    QVERIFY(registry()->renderers().isEmpty());
}

void tst_RovaInternalRegistry::shouldIgnoreRemovalOfUnknownIds()
{
    registry()->addSource(new RovaTestSource(QStringLiteral("u"), QStringLiteral("Src")));
    registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("P")));
    AnnouncementLog log(registry());
    registry()->removeExtension(QStringLiteral("unknown"));
    registry()->removeExtension(QString());
    registry()->removePlaylist(QStringLiteral("rova2"));
    registry()->removePlaylist(QString());
    QCOMPARE(log.text(), QString());
    QCOMPARE(registry()->sources().count(), 1);
    QCOMPARE(registry()->playlists().count(), 1);
}

void tst_RovaInternalRegistry::shouldForgetObjectsDestroyedElsewhere()
{
    auto* source = new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"), hook());
    auto* renderer = new RovaTestRenderer(QStringLiteral("r"), QStringLiteral("R"), hook());
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("P"), false, hook());
    registry()->addSource(source);
    registry()->addRenderer(renderer);
    registry()->addPlaylist(playlist);
    AnnouncementLog log(registry());

    delete source;
    QObject elsewhere;
    renderer->setParent(&elsewhere); // moved away, then deleted with its new parent
    delete playlist;
    QCOMPARE(log.text(), QStringLiteral("-source*;-playlist*"));
    QVERIFY(registry()->sources().isEmpty());
    QVERIFY(registry()->playlists().isEmpty());
    QCOMPARE(registry()->source(QStringLiteral("s")), nullptr);
    QCOMPARE(registry()->playlist(QStringLiteral("rova1")), nullptr);
    QCOMPARE(registry()->renderers().count(), 1);
}

void tst_RovaInternalRegistry::shouldForgetExtensionsThroughSlot()
{
    auto* renderer = new RovaTestRenderer(QStringLiteral("r"), QStringLiteral("R"));
    registry()->addRenderer(renderer);
    AnnouncementLog log(registry());
    registry()->extensionDestroyed(nullptr);
    registry()->extensionDestroyed(this); // not registered
    QCOMPARE(log.text(), QString());
    registry()->extensionDestroyed(renderer);
    registry()->extensionDestroyed(renderer);
    QCOMPARE(log.text(), QStringLiteral("-renderer*"));
    QVERIFY(registry()->renderers().isEmpty());
    delete renderer;
}

void tst_RovaInternalRegistry::shouldDeleteOwnedObjectsInOrderWithoutSignals()
{
    registry()->addRenderer(new RovaTestRenderer(QStringLiteral("r1"), QStringLiteral("R"), hook()));
    registry()->addSource(new RovaTestSource(QStringLiteral("s1"), QStringLiteral("S"), hook()));
    registry()->addPluginControlInterface(QStringLiteral("b"), new RovaTestControlInterface(QStringLiteral("b"), hook()));
    registry()->addPluginControlInterface(QStringLiteral("a"), new RovaTestControlInterface(QStringLiteral("a"), hook()));
    registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("P"), false, hook()));
    registry()->addSource(new RovaTestSource(QStringLiteral("s2"), QStringLiteral("S"), hook()));
    auto* log = new AnnouncementLog(registry());

    delete registry();
    QCOMPARE(m_destroyed.join(QLatin1Char(';')),
             QStringLiteral("playlist rova1;source s1;source s2;renderer r1;control a;control b"));
    QCOMPARE(log->text(), QString());
    delete log;
}

void tst_RovaInternalRegistry::shouldNotDeleteTwiceWhenObjectsTakeOthersAlong()
{
    // A playlist that owns a registered source and a control interface deletes
    // them when the registry deletes it.
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("P"), false, hook());
    auto* source = new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"), hook());
    auto* control = new RovaTestControlInterface(QStringLiteral("c"), hook());
    registry()->addPlaylist(playlist);
    registry()->addSource(source);
    registry()->addPluginControlInterface(QStringLiteral("c"), control);
    source->setParent(playlist);
    control->setParent(playlist);

    delete registry();
    QCOMPARE(m_destroyed.join(QLatin1Char(';')), QStringLiteral("playlist rova1;source s;control c"));
}

void tst_RovaInternalRegistry::shouldKeepControlInterfacesByName()
{
    auto* b = new RovaTestControlInterface(QStringLiteral("b"), hook());
    auto* a = new RovaTestControlInterface(QStringLiteral("a"), hook());
    registry()->addPluginControlInterface(QStringLiteral("b"), b);
    registry()->addPluginControlInterface(QStringLiteral("a"), a);
    registry()->addPluginControlInterface(QStringLiteral("c"), nullptr);
    QCOMPARE(registry()->pluginControlInterfaces(), (QList<RovaPluginControlInterface*>{a, b, nullptr}));
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("a")), a);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("c")), nullptr);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("unknown")), nullptr);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("a"))->setting(QStringLiteral("label")).toString(),
             QStringLiteral("a"));

    // Replacing deletes the previous object before the new one is stored.
    auto* b2 = new RovaTestControlInterface(QStringLiteral("b2"), hook());
    registry()->addPluginControlInterface(QStringLiteral("b"), b2);
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("control b")});
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("b")), b2);
    QCOMPARE(registry()->pluginControlInterfaces().count(), 3);
    QVERIFY(b2->parent() == nullptr); // owned without being reparented
}

void tst_RovaInternalRegistry::shouldKeepControlInterfaceAddedAgainUnderSameName()
{
    auto* control = new RovaTestControlInterface(QStringLiteral("c"), hook());
    registry()->addPluginControlInterface(QStringLiteral("c"), control);
    registry()->addPluginControlInterface(QStringLiteral("c"), control);
    QVERIFY(m_destroyed.isEmpty());
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("c")), control);
    QVERIFY(control->setSetting(QStringLiteral("label"), QStringLiteral("still alive")));
    delete registry();
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("control c")});
}

void tst_RovaInternalRegistry::shouldForgetControlInterfaceDestroyedElsewhere()
{
    auto* control = new RovaTestControlInterface(QStringLiteral("c"), hook());
    registry()->addPluginControlInterface(QStringLiteral("c"), control);
    registry()->addPluginControlInterface(QStringLiteral("d"), new RovaTestControlInterface(QStringLiteral("d"), hook()));
    delete control;
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("c")), nullptr);
    QCOMPARE(registry()->pluginControlInterfaces().count(), 1);
    delete registry();
    QCOMPARE(m_destroyed, (QStringList{QStringLiteral("control c"), QStringLiteral("control d")}));
}

void tst_RovaInternalRegistry::shouldDeleteControlInterfaceHeldUnderTwoNamesOnce()
{
    auto* control = new RovaTestControlInterface(QStringLiteral("c"), hook());
    registry()->addPluginControlInterface(QStringLiteral("one"), control);
    registry()->addPluginControlInterface(QStringLiteral("two"), control);
    QCOMPARE(registry()->pluginControlInterfaces().count(), 2);

    // Replaced under one name: the other name does not keep a deleted object.
    registry()->addPluginControlInterface(QStringLiteral("one"), nullptr);
    QCOMPARE(m_destroyed, QStringList{QStringLiteral("control c")});
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("two")), nullptr);
    QCOMPARE(registry()->pluginControlInterfaces(), QList<RovaPluginControlInterface*>{nullptr});

    auto* other = new RovaTestControlInterface(QStringLiteral("o"), hook());
    registry()->addPluginControlInterface(QStringLiteral("x"), other);
    registry()->addPluginControlInterface(QStringLiteral("y"), other);
    delete registry();
    QCOMPARE(m_destroyed, (QStringList{QStringLiteral("control c"), QStringLiteral("control o")}));
}

QTEST_GUILESS_MAIN(tst_RovaInternalRegistry)
#include "tst_rovainternalregistry.moc"
