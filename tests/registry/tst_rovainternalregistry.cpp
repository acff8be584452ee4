// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovatestobjects.h"

#include <rovainternalregistry.h>

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
#define ROVA_LOG_BOTH(signal, pointer, label) \
    log(r, qOverload<pointer>(&RovaRegistry::signal), label); \
    log(r, qOverload<const QString&, const QString&>(&RovaRegistry::signal), label)
        ROVA_LOG_BOTH(sourceAdded, RovaSource*, "+source");
        ROVA_LOG_BOTH(sourceRemoved, const RovaSource*, "-source");
        ROVA_LOG_BOTH(rendererAdded, RovaRenderer*, "+renderer");
        ROVA_LOG_BOTH(rendererRemoved, const RovaRenderer*, "-renderer");
        ROVA_LOG_BOTH(playlistAdded, RovaPlaylist*, "+playlist");
        ROVA_LOG_BOTH(playlistRemoved, const RovaPlaylist*, "-playlist");
#undef ROVA_LOG_BOTH
    }
    QString text() const { return m_entries.join(u';'); }

private:
    template<typename... Args>
    void log(RovaRegistry* r, void (RovaRegistry::*signal)(Args...), const char* label)
    {
        connect(r, signal, this, [this, label](Args... args) { m_entries << QLatin1String(label) + form(args...); });
    }
    static QString form(const void*) { return u"*"_s; }
    static QString form(const QString& id, const QString& name) { return u"(%1,%2)"_s.arg(id, name); }

    QStringList m_entries;
};

using Sources = QList<RovaSource*>;
using Renderers = QList<RovaRenderer*>;
using Playlists = QList<RovaPlaylist*>;
using Controls = QList<RovaPluginControlInterface*>;

RovaInternalRegistry* registry()
{
    return RovaInternalRegistry::internalInstance();
}

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
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        m_destroyed.clear();
    }
    void cleanup() { delete RovaInternalRegistry::internalInstance(); } // each test starts empty

    void shouldBeOneRegistryChildOfApplicationUntilDestroyed()
    {
        QPointer<RovaRegistry> first = RovaRegistry::instance();
        QCOMPARE(first.data(), static_cast<RovaRegistry*>(registry()));
        QCOMPARE(first->parent(), QCoreApplication::instance());
        QVERIFY(registry()->addSource(make<RovaTestSource>(u"s"_s)));

        delete first.data();
        QCOMPARE(destroyed(), u"s"_s);
        // A late caller gets a new, working registry, never the deleted one.
        QVERIFY(registry()->sources().isEmpty());
        QCOMPARE(registry()->parent(), QCoreApplication::instance());
    }

    void shouldOwnAnnounceAndLookUpAdditionsInOrder()
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
        QCOMPARE(log.text(), u"+source*;+source(b,Music);+source*;+source(a,);+renderer*;+renderer(a,Speaker);"
                             "+playlist*;+playlist(rova3,Party);+playlist*;+playlist(rova2,Party);+playlist*;+playlist(rova1,)"_s);
        QVERIFY(a->parent() == registry() && r->parent() == registry() && p1->parent() == registry());

        QCOMPARE(registry()->sources(), (Sources{b, a}));
        QCOMPARE(registry()->renderers(), Renderers{r});
        QCOMPARE(registry()->playlists(), (Playlists{p3, p2, p1}));
        QCOMPARE(registry()->persistentPlaylists(), (Playlists{p3, p1}));
        QCOMPARE(registry()->source(u"a"_s), a);
        QCOMPARE(registry()->source(u"A"_s), nullptr); // case matters
        QCOMPARE(registry()->source(QString()), nullptr);
        QCOMPARE(registry()->playlist(u"rova2"_s), p2);
        QCOMPARE(registry()->playlist(u"ROVA2"_s), nullptr);
    }

    void shouldRefuseBadAdditions()
    {
        auto* s = make<RovaTestSource>(u"taken"_s);
        auto* r = make<RovaTestRenderer>(u"taken"_s);
        auto* p = make<RovaTestPlaylist>(u"taken"_s);
        QVERIFY(registry()->addSource(s) && registry()->addRenderer(r) && registry()->addPlaylist(p));
        AnnouncementLog log(registry());
        // Refused candidates stay their caller's.
        RovaTestSource otherSource(u"taken"_s);
        RovaTestRenderer otherRenderer(u"taken"_s);
        RovaTestPlaylist otherPlaylist(u"taken"_s);
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

        QCOMPARE(log.text(), QString());
        QVERIFY(!otherSource.parent() && !otherRenderer.parent() && !otherPlaylist.parent() && !noId.parent());
        QCOMPARE(registry()->sources(), Sources{s});
        QCOMPARE(registry()->renderers(), Renderers{r});
        QCOMPARE(registry()->playlists(), Playlists{p});
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

        // Unknown ids change nothing.
        for (const QString& id : {u"unknown"_s, QString()}) {
            registry()->removeExtension(id);
            registry()->removePlaylist(id);
        }
        QCOMPARE(log.text() + destroyed(), QString());

        // The source wins over the renderer of the same uuid; each is deleted
        // before the call returns.
        registry()->removeExtension(u"u"_s);
        QCOMPARE(log.text() + destroyed(), u"-source(u,Src)u"_s);
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
        const auto row = [](const char* title, const char* kind, bool onAdd, bool deletes, const char* log) {
            QTest::newRow(title) << QString::fromLatin1(kind) << onAdd << deletes << QString::fromLatin1(log);
        };
        row("source removed while added", "source", true, false, "+source*;-source(x,X)");
        row("source deleted while added", "source", true, true, "+source*;-source*");
        row("renderer deleted while added", "renderer", true, true, "+renderer*;-renderer*");
        row("playlist removed while added", "playlist", true, false, "+playlist*;-playlist*;-playlist(x,X)");
        row("source removed again while removed", "source", false, false, "-source(x,X)");
        row("source deleted while removed", "source", false, true, "-source(x,X)");
        row("playlist removed again while removed", "playlist", false, false, "-playlist*;-playlist(x,X)");
        row("playlist deleted while removed", "playlist", false, true, "-playlist*;-playlist(x,X)");
    }

    void shouldLetListenersRemoveOrDeleteWhatIsAnnounced()
    {
        QFETCH(QString, kind);
        QFETCH(bool, onAdd);
        QFETCH(bool, deletes);
        QFETCH(QString, log);
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
        QCOMPARE(destroyed(), u"x"_s);
        QVERIFY(r->sources().isEmpty() && r->renderers().isEmpty() && r->playlists().isEmpty());
    }

    void shouldDeleteOwnedObjectsOnceInOrderWithoutSignals()
    {
        registry()->addRenderer(make<RovaTestRenderer>(u"r1"_s));
        registry()->addSource(make<RovaTestSource>(u"s1"_s));
        registry()->addPluginControlInterface(u"b"_s, make<RovaTestControlInterface>(u"b"_s));
        registry()->addPluginControlInterface(u"a"_s, make<RovaTestControlInterface>(u"a"_s));
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
        auto* log = new AnnouncementLog(registry());

        delete registry();
        QCOMPARE(destroyed(), u"rova1;s3;c;rova2;s1;s2;r1;a;b"_s);
        QCOMPARE(log->text(), QString());
        delete log;
    }

    void shouldKeepControlInterfacesByNameAndNeverHoldDeletedOnes()
    {
        auto* b = make<RovaTestControlInterface>(u"b"_s);
        auto* a = make<RovaTestControlInterface>(u"a"_s);
        registry()->addPluginControlInterface(u"b"_s, b);
        registry()->addPluginControlInterface(u"a"_s, a);
        registry()->addPluginControlInterface(u"c"_s, nullptr);
        QCOMPARE(registry()->pluginControlInterfaces(), (Controls{a, b, nullptr})); // by name
        QCOMPARE(registry()->pluginControlInterface(u"a"_s), a);
        QCOMPARE(registry()->pluginControlInterface(u"unknown"_s), nullptr);
        QVERIFY(!a->parent()); // owned without being reparented

        // Replacing deletes the previous object first; the same object again is kept.
        auto* b2 = make<RovaTestControlInterface>(u"b2"_s);
        registry()->addPluginControlInterface(u"b"_s, b2);
        registry()->addPluginControlInterface(u"a"_s, a);
        QCOMPARE(destroyed(), u"b"_s);
        QCOMPARE(registry()->pluginControlInterfaces(), (Controls{a, b2, nullptr}));

        // Deleted by its plugin: gone from the registry.
        delete a;
        QCOMPARE(registry()->pluginControlInterface(u"a"_s), nullptr);

        // Held under two names and replaced under one: the other name lets go too.
        auto* twice = make<RovaTestControlInterface>(u"twice"_s);
        registry()->addPluginControlInterface(u"one"_s, twice);
        registry()->addPluginControlInterface(u"two"_s, twice);
        registry()->addPluginControlInterface(u"one"_s, nullptr);
        QCOMPARE(registry()->pluginControlInterface(u"two"_s), nullptr);

        // Held under two names when the registry goes: deleted once.
        auto* last = make<RovaTestControlInterface>(u"last"_s);
        registry()->addPluginControlInterface(u"x"_s, last);
        registry()->addPluginControlInterface(u"y"_s, last);
        delete registry();
        QCOMPARE(destroyed(), u"b;a;twice;b2;last"_s);
    }
};

QTEST_GUILESS_MAIN(tst_RovaInternalRegistry)
#include "tst_rovainternalregistry.moc"
