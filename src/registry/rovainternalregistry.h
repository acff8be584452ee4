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

    /*! Registers \a source and announces it; false, with a warning, for null or a uuid already registered. */
    bool addSource(RovaSource* source);
    /*! Registers \a renderer and announces it; false, with a warning, for null or a uuid already registered. */
    bool addRenderer(RovaRenderer* renderer);
    /*! Registers \a playlist and announces it; false, with a warning, for null, an empty id or an id already registered. */
    bool addPlaylist(RovaPlaylist* playlist);
    /*! Announces and deletes the playlist \a id; does nothing for an id that is not registered. */
    void removePlaylist(const QString& id);
    /*!
        Announces, in the (uuid, name) form only, and deletes the source \a uuid,
        or when there is none the renderer \a uuid; does nothing when neither is
        registered.
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
