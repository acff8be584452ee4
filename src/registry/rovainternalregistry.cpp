// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovainternalregistry.h"

#include "rovaplaylist.h"
#include "rovaplugin.h"
#include "rovaplugincontrolinterface.h"
#include "rovarenderer.h"
#include "rovarendererpolicyplugin.h"
#include "rovasource.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QPluginLoader>
#include <QPointer>
#include <QSet>

#ifndef QROVA_BUILD_TIME
#define QROVA_BUILD_TIME "N/A"
#endif

namespace {

const char revisionText[] = "N/A";
const char buildTimeText[] = QROVA_BUILD_TIME;

// Sources, renderers and playlists derive from QObject alone, so the QObject
// part of such an object lives at its own address. That lets the registry
// recognise an object that is already in its destructor without converting a
// pointer to it.
bool isSameObject(const void* registered, const QObject* object)
{
    return registered == static_cast<const void*>(object);
}

QDir pluginDir()
{
    return QDir(RovaRegistry::pluginDirectory(), QStringLiteral("*.so"), QDir::Name, QDir::Files);
}

bool isUsable(const QDir& dir)
{
    return dir.exists() && QFileInfo(dir.absolutePath()).isReadable();
}

// Why the plugin that \a loader opened cannot be used. Qt names its reason
// only when the library or its root object fails; a root object of the wrong
// kind would otherwise be reported as an unknown error.
QString refusal(const QPluginLoader& loader, bool hasRoot, bool isRovaPlugin)
{
    if (!hasRoot)
        return loader.errorString();
    if (isRovaPlugin)
        return QStringLiteral("The plugin is loaded already");
    const QString iid = loader.metaData().value(QLatin1String("IID")).toString();
    if (iid == QLatin1String(RovaRendererPolicyPlugin_iid))
        return QLatin1String("It is a renderer policy plugin; those are loaded from ")
            + QFileInfo(RovaRendererPolicyPlugin::defaultPolicyPluginPath()).path();
    return QLatin1String("It implements the interface ") + (iid.isEmpty() ? QStringLiteral("(none)") : iid)
        + QLatin1String(", not ") + QLatin1String(RovaPlugin_iid);
}

} // namespace

class RovaInternalRegistryPrivate
{
public:
    QList<RovaSource*> sources;
    QList<RovaRenderer*> renderers;
    QList<RovaPlaylist*> playlists;
    QMap<RovaPlugin*, QPluginLoader*> plugins;
    QMap<QString, RovaPluginControlInterface*> extensions;

    // The root object of each loaded plugin, so that unloading deletes the
    // object that was initialised and never makes the loader create a new one.
    QHash<QPluginLoader*, QPointer<QObject>> roots;
    // Set while the registry destroys what it owns: nothing is announced then.
    bool destroying = false;
    // Objects whose removal is being announced. They stay listed until their
    // listeners have heard of it; a second removal of one is ignored, and its
    // deletion by a listener is not announced again.
    QSet<const void*> removing;
    // The context of every connection the registry makes to the objects it
    // holds; it goes before the registry does, and its connections with it.
    QObject tracker;

    // Announces the removal of \a object through \a announce while it is still
    // listed, then takes it out of \a list and deletes it unless a listener
    // deleted it or gave it another parent meanwhile.
    template<typename T, typename Announce>
    void remove(QList<T*>& list, T* object, const QObject* registry, Announce announce)
    {
        const QPointer<T> guard(object);
        removing.insert(object);
        announce();
        removing.remove(object);
        list.removeOne(object); // compares the address only: safe after a listener deleted it
        if (guard && guard->parent() == registry)
            delete object;
    }

    template<typename T>
    static T* findByUuid(const QList<T*>& list, const QString& uuid)
    {
        for (T* item : list) {
            if (item->uuid() == uuid)
                return item;
        }
        return nullptr;
    }
};

RovaInternalRegistry* RovaInternalRegistry::m_instance = nullptr;

RovaInternalRegistry::RovaInternalRegistry(QObject* parent)
    : RovaRegistry(parent)
    , d(std::make_unique<RovaInternalRegistryPrivate>())
{
    qDebug() << "rova revision:" << revisionText;
    qDebug() << "rova library builtime:" << buildTimeText;
}

RovaInternalRegistry::~RovaInternalRegistry()
{
    qDebug() << "~RovaInternalRegistry()";
    unloadPlugins();

    d->destroying = true;
    // One at a time: an object may take others with it, and those leave the
    // lists through their destroyed() signal before their turn comes.
    while (!d->playlists.isEmpty())
        delete d->playlists.takeFirst();
    while (!d->sources.isEmpty())
        delete d->sources.takeFirst();
    while (!d->renderers.isEmpty())
        delete d->renderers.takeFirst();
    while (!d->extensions.isEmpty()) {
        RovaPluginControlInterface* controlInterface = d->extensions.take(d->extensions.firstKey());
        delete controlInterface;
    }
    // Nothing destroyed from now on may reach this half-destroyed object.
    d.reset();

    // Whoever asks later gets a new registry, never this deleted one.
    if (m_instance == this)
        m_instance = nullptr;
}

RovaInternalRegistry* RovaInternalRegistry::internalInstance()
{
    if (!m_instance)
        m_instance = new RovaInternalRegistry(QCoreApplication::instance());
    return m_instance;
}

// Lookups

RovaSource* RovaInternalRegistry::source(const QString& uuid) const
{
    return RovaInternalRegistryPrivate::findByUuid(d->sources, uuid);
}

QList<RovaSource*> RovaInternalRegistry::sources() const
{
    return d->sources;
}

RovaRenderer* RovaInternalRegistry::renderer(const QString& uuid) const
{
    return RovaInternalRegistryPrivate::findByUuid(d->renderers, uuid);
}

QList<RovaRenderer*> RovaInternalRegistry::renderers() const
{
    return d->renderers;
}

RovaPlaylist* RovaInternalRegistry::playlist(const QString& id) const
{
    for (RovaPlaylist* playlist : std::as_const(d->playlists)) {
        if (playlist->id() == id)
            return playlist;
    }
    return nullptr;
}

QList<RovaPlaylist*> RovaInternalRegistry::playlists() const
{
    return d->playlists;
}

QList<RovaPlaylist*> RovaInternalRegistry::persistentPlaylists() const
{
    QList<RovaPlaylist*> result;
    for (RovaPlaylist* playlist : std::as_const(d->playlists)) {
        if (playlist->persistent())
            result.append(playlist);
    }
    return result;
}

// Changes

bool RovaInternalRegistry::addSource(RovaSource* source)
{
    if (!source) {
        qWarning("Tried to add NULL source");
        return false;
    }
    if (d->sources.contains(source) || this->source(source->uuid())) {
        qWarning("Tried to add source with existing uuid");
        return false;
    }
    d->sources.append(source);
    source->setParent(this);
    connect(source, &QObject::destroyed, &d->tracker, [this](QObject* object) { extensionDestroyed(object); });

    // A listener of the first form may remove or delete the source: read what
    // the second form needs now, and send it only while the source stays.
    const QString uuid = source->uuid();
    const QString name = source->name();
    const QPointer<RovaSource> guard(source);
    qDebug("Signal sourceAdded(RovaSource* src) is deprecated");
    Q_EMIT sourceAdded(source);
    if (!guard || !d->sources.contains(source))
        return false;
    Q_EMIT sourceAdded(uuid, name);
    return true;
}

bool RovaInternalRegistry::addRenderer(RovaRenderer* renderer)
{
    if (!renderer) {
        qWarning("Tried to add NULL renderer");
        return false;
    }
    if (d->renderers.contains(renderer) || this->renderer(renderer->uuid())) {
        qWarning("Tried to add renderer with existing uuid");
        return false;
    }
    d->renderers.append(renderer);
    renderer->setParent(this);
    connect(renderer, &QObject::destroyed, &d->tracker, [this](QObject* object) { extensionDestroyed(object); });

    const QString uuid = renderer->uuid();
    const QString name = renderer->name();
    const QPointer<RovaRenderer> guard(renderer);
    qDebug("Signal rendererAdded(RovaRenderer* rnd) is deprecated");
    Q_EMIT rendererAdded(renderer);
    if (!guard || !d->renderers.contains(renderer))
        return false;
    Q_EMIT rendererAdded(uuid, name);
    return true;
}

bool RovaInternalRegistry::addPlaylist(RovaPlaylist* playlist)
{
    if (!playlist || playlist->id().isEmpty()) {
        qWarning("Tried to add NULL playlist or playlist without id");
        return false;
    }
    if (d->playlists.contains(playlist) || this->playlist(playlist->id())) {
        qWarning("Tried to add playlist with existing id or name");
        return false;
    }
    d->playlists.append(playlist);
    playlist->setParent(this);
    // A playlist deleted by somebody else leaves the registry and is announced
    // in the pointer form, so that renderers playing it let go of it.
    connect(playlist, &QObject::destroyed, &d->tracker, [this](QObject* object) {
        for (RovaPlaylist* registered : std::as_const(d->playlists)) {
            if (isSameObject(registered, object)) {
                d->playlists.removeOne(registered);
                if (!d->destroying && !d->removing.contains(object))
                    Q_EMIT playlistRemoved(registered);
                return;
            }
        }
    });

    const QString id = playlist->id();
    const QString name = playlist->name();
    const QPointer<RovaPlaylist> guard(playlist);
    qDebug("Signal playlistAdded(RovaPlaylist* playlist) is deprecated");
    Q_EMIT playlistAdded(playlist);
    if (!guard || !d->playlists.contains(playlist))
        return false;
    Q_EMIT playlistAdded(id, name);
    return true;
}

void RovaInternalRegistry::removePlaylist(const QString& id)
{
    RovaPlaylist* playlist = this->playlist(id);
    if (!playlist || d->removing.contains(playlist))
        return;
    const QString name = playlist->name();
    d->remove(d->playlists, playlist, this, [&] {
        Q_EMIT playlistRemoved(playlist);
        Q_EMIT playlistRemoved(id, name);
    });
}

void RovaInternalRegistry::removeExtension(const QString& uuid)
{
    if (RovaSource* source = this->source(uuid)) {
        if (!d->removing.contains(source)) {
            const QString name = source->name();
            d->remove(d->sources, source, this, [&] { Q_EMIT sourceRemoved(uuid, name); });
        }
        return;
    }
    if (RovaRenderer* renderer = this->renderer(uuid); renderer && !d->removing.contains(renderer)) {
        const QString name = renderer->name();
        d->remove(d->renderers, renderer, this, [&] { Q_EMIT rendererRemoved(uuid, name); });
    }
}

void RovaInternalRegistry::extensionDestroyed(QObject* extension)
{
    if (!extension)
        return;

    RovaRenderer* renderer = nullptr;
    for (RovaRenderer* registered : std::as_const(d->renderers)) {
        if (isSameObject(registered, extension))
            renderer = registered;
    }
    const bool announce = !d->destroying && !d->removing.contains(extension);
    if (renderer && d->renderers.removeAll(renderer) > 0 && announce) {
        Q_EMIT rendererRemoved(renderer);
        qDebug("Signal rendererRemoved(RovaRenderer* rnd) is deprecated");
    }

    RovaSource* source = nullptr;
    for (RovaSource* registered : std::as_const(d->sources)) {
        if (isSameObject(registered, extension))
            source = registered;
    }
    if (source && d->sources.removeAll(source) > 0 && announce) {
        Q_EMIT sourceRemoved(source);
        qDebug("Signal sourceRemoved(RovaSource* src) is deprecated");
    }
}

// Plugins

QStringList RovaInternalRegistry::availablePlugins() const
{
    const QDir dir = pluginDir();
    if (!isUsable(dir)) {
        qWarning() << "Unable to get available ROVA plugins from" << dir.path();
        return {};
    }
    const QStringList names = dir.entryList();
    qDebug() << names;

    QStringList result;
    for (const QString& name : names) {
        const QString canonical = QFileInfo(dir.absoluteFilePath(name)).canonicalFilePath();
        // Empty for a link whose target is gone or a file removed meanwhile.
        if (!canonical.isEmpty())
            result.append(canonical);
    }
    return result;
}

void RovaInternalRegistry::loadPlugins()
{
    const QDir dir = pluginDir();
    if (!isUsable(dir)) {
        qWarning() << "Unable to load ROVA plugins from" << dir.path();
        return;
    }
    const QStringList names = dir.entryList();
    for (const QString& name : names)
        loadPlugin(dir.absoluteFilePath(name));
}

bool RovaInternalRegistry::loadPlugin(const QString& path)
{
    auto* loader = new QPluginLoader(path, this);
    QObject* root = loader->instance();
    RovaPlugin* plugin = qobject_cast<RovaPlugin*>(root);
    if (!plugin || d->plugins.contains(plugin)) {
        qWarning() << path << ": unable to load plugin." << refusal(*loader, root != nullptr, plugin != nullptr);
        delete loader;
        return false;
    }

    d->plugins.insert(plugin, loader);
    d->roots.insert(loader, root);
    // A root object deleted by somebody else takes its entry with it; the
    // loader stays a child of the registry until the registry goes.
    connect(root, &QObject::destroyed, &d->tracker, [this, plugin, loader]() {
        if (d->plugins.value(plugin) == loader) {
            d->plugins.remove(plugin);
            d->roots.remove(loader);
        }
    });

    plugin->initialize(this);
    qDebug() << "Loaded plugin" << plugin->name();
    return true;
}

QStringList RovaInternalRegistry::loadedPlugins() const
{
    QStringList names;
    for (QPluginLoader* loader : std::as_const(d->plugins))
        names.append(loader->fileName());
    return names;
}

RovaPlugin* RovaInternalRegistry::plugin(const QString& fileName) const
{
    for (auto it = d->plugins.cbegin(); it != d->plugins.cend(); ++it) {
        if (it.value()->fileName() == fileName)
            return it.key();
    }
    return nullptr;
}

void RovaInternalRegistry::unloadPlugin(const QString& name)
{
    qDebug() << "RovaInternalRegistry::unloadPlugin" << name;
    // Every file name starts with the empty string; unloading everything is
    // what unloadPlugins() is for.
    if (name.isEmpty())
        return;

    const QList<RovaPlugin*> keys = d->plugins.keys();
    for (RovaPlugin* plugin : keys) {
        QPluginLoader* loader = d->plugins.value(plugin);
        if (!loader || !loader->fileName().startsWith(name))
            continue;
        qDebug("RovaInternalRegistry::unloadPlugin: correct plugin found");
        d->plugins.remove(plugin);
        const QPointer<QObject> root = d->roots.take(loader);
        if (loader->isLoaded())
            delete root.data();
        delete loader;
    }
}

void RovaInternalRegistry::unloadPlugins()
{
    while (!d->plugins.isEmpty()) {
        QPluginLoader* loader = d->plugins.take(d->plugins.firstKey());
        const QPointer<QObject> root = d->roots.take(loader);
        delete root.data();
        delete loader;
    }
}

// Control interfaces

void RovaInternalRegistry::addPluginControlInterface(const QString& name,
                                                     RovaPluginControlInterface* controlInterface)
{
    qDebug() << "\n\n"
             << "RovaInternalRegistry::addPluginControlInterface" << name;

    RovaPluginControlInterface* previous = d->extensions.value(name);
    if (previous && previous != controlInterface) {
        // Its destroyed() signal takes it out of the map, under every name.
        delete previous;
    }

    const bool tracked = controlInterface && d->extensions.values().contains(controlInterface);
    d->extensions.insert(name, controlInterface);
    if (controlInterface && !tracked) {
        connect(controlInterface, &QObject::destroyed, &d->tracker, [this, controlInterface]() {
            for (auto it = d->extensions.begin(); it != d->extensions.end();) {
                if (it.value() == controlInterface)
                    it = d->extensions.erase(it);
                else
                    ++it;
            }
        });
    }
}

RovaPluginControlInterface* RovaInternalRegistry::pluginControlInterface(const QString& name) const
{
    return d->extensions.value(name);
}

QList<RovaPluginControlInterface*> RovaInternalRegistry::pluginControlInterfaces() const
{
    return d->extensions.values();
}
