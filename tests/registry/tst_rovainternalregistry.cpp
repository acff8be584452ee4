// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatestobjects.h"

#include <rovainternalregistry.h>

#include <QPointer>
#include <QTest>

namespace {

// Every announcement of the registry, in order: "+source*" for the pointer
// form, "+source(uuid,name)" for the other.
class AnnouncementLog : public QObject
{
public:
    explicit AnnouncementLog(RovaRegistry* r)
    {
        using R = RovaRegistry;
        using S = const QString&;
#define ROVA_LOG_POINTER(signal, type, label) \
    connect(r, qOverload<type>(&R::signal), this, [this](type) { m_entries << QStringLiteral(label "*"); })
#define ROVA_LOG_TEXT(signal, label) \
    connect(r, qOverload<S, S>(&R::signal), this, [this](S id, S name) { \
        m_entries << QStringLiteral(label "(%1,%2)").arg(id, name); })
        ROVA_LOG_POINTER(sourceAdded, RovaSource*, "+source");
        ROVA_LOG_TEXT(sourceAdded, "+source");
        ROVA_LOG_POINTER(sourceRemoved, const RovaSource*, "-source");
        ROVA_LOG_TEXT(sourceRemoved, "-source");
        ROVA_LOG_POINTER(rendererAdded, RovaRenderer*, "+renderer");
        ROVA_LOG_TEXT(rendererAdded, "+renderer");
        ROVA_LOG_POINTER(rendererRemoved, const RovaRenderer*, "-renderer");
        ROVA_LOG_TEXT(rendererRemoved, "-renderer");
        ROVA_LOG_POINTER(playlistAdded, RovaPlaylist*, "+playlist");
        ROVA_LOG_TEXT(playlistAdded, "+playlist");
        ROVA_LOG_POINTER(playlistRemoved, const RovaPlaylist*, "-playlist");
        ROVA_LOG_TEXT(playlistRemoved, "-playlist");
#undef ROVA_LOG_POINTER
#undef ROVA_LOG_TEXT
    }
    QString text() const { return m_entries.join(QLatin1Char(';')); }

private:
    QStringList m_entries;
};

using Sources = QList<RovaSource*>;
using Renderers = QList<RovaRenderer*>;
using Playlists = QList<RovaPlaylist*>;
using Controls = QList<RovaPluginControlInterface*>;

} // namespace

class tst_RovaInternalRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shouldBeOneRegistryChildOfApplicationUntilDestroyed();
    void shouldOwnAndAnnounceAdditionsPointerFormFirst();
    void shouldRefuseBadAdditions();
    void shouldLookUpExactlyInRegistrationOrder();
    void shouldAnnounceAndDeleteRemovals();
    void shouldForgetObjectsDestroyedElsewhere();
    void shouldDeleteOwnedObjectsOnceInOrderWithoutSignals();
    void shouldKeepControlInterfacesByName();
    void shouldNeverHoldDeletedControlInterface();

private:
    RovaInternalRegistry* registry() const { return RovaInternalRegistry::internalInstance(); }
    RovaTestDestroyedHook hook()
    {
        return [this](const QString& what) { m_destroyed << what; };
    }
    QString destroyed() const { return m_destroyed.join(QLatin1Char(';')); }

    QStringList m_destroyed;
};

void tst_RovaInternalRegistry::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    m_destroyed.clear();
}

void tst_RovaInternalRegistry::cleanup()
{
    delete RovaInternalRegistry::internalInstance(); // each test starts empty
}

void tst_RovaInternalRegistry::shouldBeOneRegistryChildOfApplicationUntilDestroyed()
{
    QPointer<RovaRegistry> first = RovaRegistry::instance();
    QCOMPARE(first.data(), RovaRegistry::instance());
    QCOMPARE(first.data(), static_cast<RovaRegistry*>(registry()));
    QCOMPARE(first->parent(), QCoreApplication::instance());
    QCOMPARE(first->metaObject()->className(), "RovaInternalRegistry");
    QCOMPARE(first->metaObject()->superClass()->className(), "RovaRegistry");
    QVERIFY(registry()->addSource(new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"), hook())));

    delete first.data();
    QCOMPARE(destroyed(), QStringLiteral("source s"));
    // A late caller gets a new, working registry, never the deleted one.
    QVERIFY(first.isNull());
    QVERIFY(registry()->sources().isEmpty());
    QVERIFY(registry()->addSource(new RovaTestSource(QStringLiteral("s"), QStringLiteral("S"))));
    QCOMPARE(registry()->parent(), QCoreApplication::instance());
}

void tst_RovaInternalRegistry::shouldOwnAndAnnounceAdditionsPointerFormFirst()
{
    AnnouncementLog log(registry());
    auto* source = new RovaTestSource(QStringLiteral("u"), QStringLiteral("Music"));
    auto* renderer = new RovaTestRenderer(QStringLiteral("u"), QStringLiteral("Speaker")); // kinds never clash
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("Party"));
    auto* sameName = new RovaTestPlaylist(QStringLiteral("rova2"), QStringLiteral("Party"));
    QVERIFY(registry()->addSource(source));
    QVERIFY(registry()->addRenderer(renderer));
    QVERIFY(registry()->addPlaylist(playlist));
    QVERIFY(registry()->addPlaylist(sameName));
    QCOMPARE(log.text(), QStringLiteral("+source*;+source(u,Music);+renderer*;+renderer(u,Speaker);"
                                        "+playlist*;+playlist(rova1,Party);+playlist*;+playlist(rova2,Party)"));
    QCOMPARE(source->parent(), registry());
    QCOMPARE(renderer->parent(), registry());
    QCOMPARE(playlist->parent(), registry());
    QCOMPARE(registry()->sources(), Sources{source});
    QCOMPARE(registry()->renderers(), Renderers{renderer});
    QCOMPARE(registry()->playlists(), (Playlists{playlist, sameName}));
}

void tst_RovaInternalRegistry::shouldRefuseBadAdditions()
{
    const QString taken = QStringLiteral("taken");
    auto* source = new RovaTestSource(taken, QString());
    auto* renderer = new RovaTestRenderer(taken, QString());
    auto* playlist = new RovaTestPlaylist(taken, QString());
    QVERIFY(registry()->addSource(source) && registry()->addRenderer(renderer) && registry()->addPlaylist(playlist));
    AnnouncementLog log(registry());
    // New candidates that are refused stay their caller's.
    RovaTestSource otherSource(taken, QString());
    RovaTestRenderer otherRenderer(taken, QString());
    RovaTestPlaylist otherPlaylist(taken, QString());
    RovaTestPlaylist noId{QString(), QString()};

    for (const char* warning : {"Tried to add NULL source", "Tried to add source with existing uuid",
                                "Tried to add source with existing uuid", "Tried to add NULL renderer",
                                "Tried to add renderer with existing uuid", "Tried to add renderer with existing uuid",
                                "Tried to add NULL playlist or playlist without id",
                                "Tried to add NULL playlist or playlist without id",
                                "Tried to add playlist with existing id or name",
                                "Tried to add playlist with existing id or name"})
        QTest::ignoreMessage(QtWarningMsg, warning);
    QVERIFY(!registry()->addSource(nullptr));
    QVERIFY(!registry()->addSource(&otherSource));
    QVERIFY(!registry()->addSource(source));
    QVERIFY(!registry()->addRenderer(nullptr));
    QVERIFY(!registry()->addRenderer(&otherRenderer));
    QVERIFY(!registry()->addRenderer(renderer));
    QVERIFY(!registry()->addPlaylist(nullptr));
    QVERIFY(!registry()->addPlaylist(&noId));
    QVERIFY(!registry()->addPlaylist(&otherPlaylist));
    QVERIFY(!registry()->addPlaylist(playlist));

    QCOMPARE(log.text(), QString());
    QVERIFY(!otherSource.parent() && !otherRenderer.parent() && !otherPlaylist.parent() && !noId.parent());
    QCOMPARE(registry()->sources(), Sources{source});
    QCOMPARE(registry()->renderers(), Renderers{renderer});
    QCOMPARE(registry()->playlists(), Playlists{playlist});
}

void tst_RovaInternalRegistry::shouldLookUpExactlyInRegistrationOrder()
{
    auto* b = new RovaTestSource(QStringLiteral("b"), QString());
    auto* a = new RovaTestSource(QStringLiteral("a"), QString());
    auto* p3 = new RovaTestPlaylist(QStringLiteral("rova3"), QString(), true);
    auto* p2 = new RovaTestPlaylist(QStringLiteral("rova2"), QString(), false);
    auto* p1 = new RovaTestPlaylist(QStringLiteral("rova1"), QString(), true);
    for (RovaSource* s : {b, a})
        registry()->addSource(s);
    for (RovaPlaylist* p : {p3, p2, p1})
        registry()->addPlaylist(p);

    QCOMPARE(registry()->sources(), (Sources{b, a}));
    QCOMPARE(registry()->source(QStringLiteral("a")), a);
    QCOMPARE(registry()->source(QStringLiteral("A")), nullptr); // case matters
    QCOMPARE(registry()->source(QString()), nullptr);
    QCOMPARE(registry()->renderer(QStringLiteral("a")), nullptr);
    QCOMPARE(registry()->playlist(QStringLiteral("rova2")), p2);
    QCOMPARE(registry()->playlist(QStringLiteral("ROVA2")), nullptr);
    QCOMPARE(registry()->playlist(QString()), nullptr);
    QCOMPARE(registry()->persistentPlaylists(), (Playlists{p3, p1}));
}

void tst_RovaInternalRegistry::shouldAnnounceAndDeleteRemovals()
{
    registry()->addSource(new RovaTestSource(QStringLiteral("u"), QStringLiteral("Src"), hook()));
    registry()->addRenderer(new RovaTestRenderer(QStringLiteral("u"), QStringLiteral("Rnd"), hook()));
    registry()->addPlaylist(new RovaTestPlaylist(QStringLiteral("rova1"), QStringLiteral("Party"), false, hook()));
    AnnouncementLog log(registry());

    // Unknown ids change nothing.
    registry()->removeExtension(QStringLiteral("unknown"));
    registry()->removeExtension(QString());
    registry()->removePlaylist(QStringLiteral("rova2"));
    registry()->removePlaylist(QString());
    QCOMPARE(log.text() + destroyed(), QString());

    // The source wins over the renderer of the same uuid; each is deleted
    // before the call returns.
    registry()->removeExtension(QStringLiteral("u"));
    QCOMPARE(destroyed(), QStringLiteral("source u"));
    registry()->removeExtension(QStringLiteral("u"));
    registry()->removePlaylist(QStringLiteral("rova1"));
    QCOMPARE(log.text(), QStringLiteral("-source(u,Src);-renderer(u,Rnd);-playlist*;-playlist(rova1,Party)"));
    QCOMPARE(destroyed(), QStringLiteral("source u;renderer u;playlist rova1"));
    QVERIFY(registry()->sources().isEmpty() && registry()->renderers().isEmpty() && registry()->playlists().isEmpty());
}

void tst_RovaInternalRegistry::shouldForgetObjectsDestroyedElsewhere()
{
    auto* source = new RovaTestSource(QStringLiteral("s"), QString());
    auto* renderer = new RovaTestRenderer(QStringLiteral("r"), QString());
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QString());
    auto* kept = new RovaTestRenderer(QStringLiteral("kept"), QString());
    registry()->addSource(source);
    registry()->addRenderer(renderer);
    registry()->addPlaylist(playlist);
    registry()->addRenderer(kept);
    AnnouncementLog log(registry());

    delete source;
    {
        QObject elsewhere;
        renderer->setParent(&elsewhere); // taken away, then deleted with its new parent
    }
    delete playlist;
    QCOMPARE(log.text(), QStringLiteral("-source*;-renderer*;-playlist*"));
    QVERIFY(registry()->sources().isEmpty());
    QCOMPARE(registry()->renderers(), Renderers{kept});
    QCOMPARE(registry()->playlist(QStringLiteral("rova1")), nullptr);

    // The slot does the same for whoever calls it, and ignores strangers.
    registry()->extensionDestroyed(nullptr);
    registry()->extensionDestroyed(this);
    registry()->extensionDestroyed(kept);
    registry()->extensionDestroyed(kept);
    QCOMPARE(log.text(), QStringLiteral("-source*;-renderer*;-playlist*;-renderer*"));
    QVERIFY(registry()->renderers().isEmpty());
}

void tst_RovaInternalRegistry::shouldDeleteOwnedObjectsOnceInOrderWithoutSignals()
{
    registry()->addRenderer(new RovaTestRenderer(QStringLiteral("r1"), QString(), hook()));
    registry()->addSource(new RovaTestSource(QStringLiteral("s1"), QString(), hook()));
    registry()->addPluginControlInterface(QStringLiteral("b"), new RovaTestControlInterface(QStringLiteral("b"), hook()));
    registry()->addPluginControlInterface(QStringLiteral("a"), new RovaTestControlInterface(QStringLiteral("a"), hook()));
    auto* playlist = new RovaTestPlaylist(QStringLiteral("rova1"), QString(), false, hook());
    registry()->addPlaylist(playlist);
    registry()->addSource(new RovaTestSource(QStringLiteral("s2"), QString(), hook()));
    // The playlist takes a registered source and control interface with it.
    auto* taken = new RovaTestSource(QStringLiteral("s3"), QString(), hook());
    auto* takenControl = new RovaTestControlInterface(QStringLiteral("c"), hook());
    registry()->addSource(taken);
    registry()->addPluginControlInterface(QStringLiteral("c"), takenControl);
    taken->setParent(playlist);
    takenControl->setParent(playlist);
    auto* log = new AnnouncementLog(registry());

    delete registry();
    QCOMPARE(destroyed(), QStringLiteral("playlist rova1;source s3;control c;source s1;source s2;renderer r1;"
                                         "control a;control b"));
    QCOMPARE(log->text(), QString());
    delete log;
}

void tst_RovaInternalRegistry::shouldKeepControlInterfacesByName()
{
    auto* b = new RovaTestControlInterface(QStringLiteral("b"), hook());
    auto* a = new RovaTestControlInterface(QStringLiteral("a"), hook());
    registry()->addPluginControlInterface(QStringLiteral("b"), b);
    registry()->addPluginControlInterface(QStringLiteral("a"), a);
    registry()->addPluginControlInterface(QStringLiteral("c"), nullptr);
    QCOMPARE(registry()->pluginControlInterfaces(), (Controls{a, b, nullptr})); // by name
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("a")), a);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("c")), nullptr);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("unknown")), nullptr);
    QVERIFY(a->parent() == nullptr); // owned without being reparented

    // Replacing deletes the previous object first.
    auto* b2 = new RovaTestControlInterface(QStringLiteral("b2"), hook());
    registry()->addPluginControlInterface(QStringLiteral("b"), b2);
    QCOMPARE(destroyed(), QStringLiteral("control b"));
    QCOMPARE(registry()->pluginControlInterfaces(), (Controls{a, b2, nullptr}));
}

void tst_RovaInternalRegistry::shouldNeverHoldDeletedControlInterface()
{
    // Added again under its own name: kept, not deleted.
    auto* same = new RovaTestControlInterface(QStringLiteral("same"), hook());
    registry()->addPluginControlInterface(QStringLiteral("same"), same);
    registry()->addPluginControlInterface(QStringLiteral("same"), same);
    QVERIFY(same->setSetting(QStringLiteral("label"), QStringLiteral("alive")));
    QVERIFY(!same->setSetting(QStringLiteral("other"), 1));
    QCOMPARE(destroyed(), QString());

    // Deleted by its plugin: gone from the registry.
    auto* deleted = new RovaTestControlInterface(QStringLiteral("deleted"), hook());
    registry()->addPluginControlInterface(QStringLiteral("deleted"), deleted);
    delete deleted;
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("deleted")), nullptr);

    // Held under two names and replaced under one: the other name lets go too.
    auto* twice = new RovaTestControlInterface(QStringLiteral("twice"), hook());
    registry()->addPluginControlInterface(QStringLiteral("one"), twice);
    registry()->addPluginControlInterface(QStringLiteral("two"), twice);
    registry()->addPluginControlInterface(QStringLiteral("one"), nullptr);
    QCOMPARE(registry()->pluginControlInterface(QStringLiteral("two")), nullptr);
    QCOMPARE(registry()->pluginControlInterfaces(), (Controls{nullptr, same}));

    auto* last = new RovaTestControlInterface(QStringLiteral("last"), hook());
    registry()->addPluginControlInterface(QStringLiteral("x"), last);
    registry()->addPluginControlInterface(QStringLiteral("y"), last);
    delete registry();
    QCOMPARE(destroyed(), QStringLiteral("control deleted;control twice;control same;control last"));
}

QTEST_GUILESS_MAIN(tst_RovaInternalRegistry)
#include "tst_rovainternalregistry.moc"
