// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAINTERNALREGISTRY_H
#define ROVAINTERNALREGISTRY_H

#include "rova_export.h"
#include "rovaregistry.h"

#include <memory>

class RovaInternalRegistryPrivate;

/*!
    The registry itself: RovaRegistry's queries and plugin handling, plus the
    operations that add and remove objects, which plugins and applications call.
    A loaded plugin is handed this type in RovaPlugin::initialize().

    Ownership: an added source, renderer or playlist becomes a child of the
    registry; an added control interface is owned without being reparented. The
    registry deletes them on removal, when a control interface is replaced, and
    when it is destroyed itself. An object destroyed by somebody else first
    leaves the registry at once: it is never handed out or deleted again.
*/
class ROVA_EXPORT RovaInternalRegistry : public RovaRegistry
{
    Q_OBJECT

public:
    /*! Destroys what the registry owns: plugins, playlists, sources, renderers, control interfaces. */
    ~RovaInternalRegistry() override;

    /*! The registry; see RovaRegistry::instance(). */
    static RovaInternalRegistry* internalInstance();

    RovaSource* source(const QString& uuid) const override;
    QList<RovaSource*> sources() const override;
    RovaRenderer* renderer(const QString& uuid) const override;
    QList<RovaRenderer*> renderers() const override;
    RovaPlaylist* playlist(const QString& id) const override;
    QList<RovaPlaylist*> playlists() const override;
    QList<RovaPlaylist*> persistentPlaylists() const override;

    bool loadPlugin(const QString& path) override;
    void unloadPlugin(const QString& name) override;
    void loadPlugins() override;
    void unloadPlugins() override;
    RovaPlugin* plugin(const QString& fileName) const override;
    QStringList loadedPlugins() const override;
    QStringList availablePlugins() const override;
    RovaPluginControlInterface* pluginControlInterface(const QString& name) const override;
    QList<RovaPluginControlInterface*> pluginControlInterfaces() const override;

    /*!
        The add functions register an object and announce it, in the pointer
        form first. A listener of that form may remove or delete the object
        again: the second form is then not sent and the result is false. They
        are false, with a warning, for null, and for an id or uuid already
        registered (or an empty playlist id).
    */
    bool addSource(RovaSource* source);
    /*!
        Registers \a renderer, which becomes a child of the registry; announced by rendererAdded().
        Refused as addSource() says.
    */
    bool addRenderer(RovaRenderer* renderer);
    /*!
        Registers \a playlist, which becomes a child of the registry; announced by playlistAdded().
        Refused as addSource() says.
    */
    bool addPlaylist(RovaPlaylist* playlist);
    /*!
        Takes the playlist \a id out of the registry, announces that and deletes
        it; does nothing for an id that is not registered. A listener may remove
        or delete the playlist itself, or take it over by giving it another
        parent: the registry then deletes nothing.
    */
    void removePlaylist(const QString& id);
    /*!
        Takes the source \a uuid, or when there is none the renderer \a uuid, out
        of the registry, announces that in the (uuid, name) form only and deletes
        it as removePlaylist() does; does nothing when neither is registered.
    */
    void removeExtension(const QString& uuid);
    /*!
        Stores \a controlInterface under \a name and takes ownership of it. An
        interface stored under \a name before is deleted, unless it is
        \a controlInterface itself.
    */
    void addPluginControlInterface(const QString& name, RovaPluginControlInterface* controlInterface);

public Q_SLOTS:
    /*!
        Forgets \a extension, a source or renderer that is being destroyed, and
        announces that in the deprecated pointer form. The registry does this by
        itself for everything it holds; the slot stays for callers that connect
        it.
    */
    void extensionDestroyed(QObject* extension);

private:
    explicit RovaInternalRegistry(QObject* parent);

    std::unique_ptr<RovaInternalRegistryPrivate> d;
    static RovaInternalRegistry* m_instance;
};

#endif // ROVAINTERNALREGISTRY_H
