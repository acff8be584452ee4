// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAREGISTRY_H
#define ROVAREGISTRY_H

#include "rova_export.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class RovaPlaylist;
class RovaPlugin;
class RovaPluginControlInterface;
class RovaRenderer;
class RovaSource;

/*!
    The process-wide directory of content sources, renderers, playlists and
    plugin control interfaces, and the loader of plugins. instance() hands out
    the one registry; it is created on first use as a child of the application
    object and destroyed with it.

    Every addition and removal is announced twice, first in the deprecated
    pointer form and then in the (uuid or id, name) form. A pointer handed out
    by a removal signal must only be compared, never called: the object may be
    in its destructor.

    Plugins are "*.so" files in pluginDirectory(). Plugins add what they provide
    through RovaInternalRegistry, the implementation behind this interface.

    All calls come from the thread of the application object.
*/
class ROVA_EXPORT RovaRegistry : public QObject
{
    Q_OBJECT

public:
    ~RovaRegistry() override;

    /*!
        The registry. Created on the first call with the application object as
        its parent; after the registry has been destroyed, the next call creates
        a new one.
    */
    static RovaRegistry* instance();

    /*!
        The plugin directory, fixed when the library is loaded: the value of the
        environment variable QROVA_PLUGIN_DIR when it is set and not empty,
        otherwise "/usr/lib/qrova-plugin".
    */
    static QString pluginDirectory();
    /*! pluginDirectory(), as a constant. */
    static const QString ROVA_PLUGIN_DIRECTORY;

    /*! The first source whose uuid() is \a uuid, or null. */
    virtual RovaSource* source(const QString& uuid) const = 0;
    /*! The registered sources, in order of registration. */
    virtual QList<RovaSource*> sources() const = 0;
    /*! The first renderer whose uuid() is \a uuid, or null. */
    virtual RovaRenderer* renderer(const QString& uuid) const = 0;
    /*! The registered renderers, in order of registration. */
    virtual QList<RovaRenderer*> renderers() const = 0;
    /*! The playlist with the id \a id, or null. */
    virtual RovaPlaylist* playlist(const QString& id) const = 0;
    /*! The registered playlists, in order of registration. */
    virtual QList<RovaPlaylist*> playlists() const = 0;
    /*! The registered playlists that are persistent, in order of registration. */
    virtual QList<RovaPlaylist*> persistentPlaylists() const = 0;

    /*! Loads the plugin file \a path and lets it register what it provides; true on success. */
    virtual bool loadPlugin(const QString& path) = 0;
    /*! Unloads every loaded plugin whose file name starts with \a name (an empty \a name matches none). */
    virtual void unloadPlugin(const QString& name) = 0;
    /*! Loads every plugin file of the plugin directory, in name order. */
    virtual void loadPlugins() = 0;
    /*! Unloads every loaded plugin. What the plugins registered stays registered. */
    virtual void unloadPlugins() = 0;
    /*! The loaded plugin whose file name is \a fileName, or null. */
    virtual RovaPlugin* plugin(const QString& fileName) const = 0;
    /*! The file names of the loaded plugins. */
    virtual QStringList loadedPlugins() const = 0;
    /*! The canonical paths of the plugin files in the plugin directory, in name order. */
    virtual QStringList availablePlugins() const = 0;
    /*! The control interface registered under \a name, or null. */
    virtual RovaPluginControlInterface* pluginControlInterface(const QString& name) const = 0;
    /*! The registered control interfaces, in ascending order of their names. */
    virtual QList<RovaPluginControlInterface*> pluginControlInterfaces() const = 0;

Q_SIGNALS:
    /*! Deprecated: use sourceAdded(const QString&, const QString&). */
    void sourceAdded(RovaSource* src);
    /*! The source \a uuid, named \a name, was registered. */
    void sourceAdded(const QString& uuid, const QString& name);
    /*! Deprecated: use sourceRemoved(const QString&, const QString&). */
    void sourceRemoved(const RovaSource* src);
    /*! The source \a uuid, named \a name, left the registry (removed or destroyed). */
    void sourceRemoved(const QString& uuid, const QString& name);
    /*! Deprecated: use rendererAdded(const QString&, const QString&). */
    void rendererAdded(RovaRenderer* rnd);
    /*! The renderer \a uuid, named \a name, was registered. */
    void rendererAdded(const QString& uuid, const QString& name);
    /*! Deprecated: use rendererRemoved(const QString&, const QString&). */
    void rendererRemoved(const RovaRenderer* rnd);
    /*! The renderer \a uuid, named \a name, left the registry (removed or destroyed). */
    void rendererRemoved(const QString& uuid, const QString& name);
    /*! Deprecated: use playlistAdded(const QString&, const QString&). */
    void playlistAdded(RovaPlaylist* playlist);
    /*! The playlist \a id, named \a name, was registered. */
    void playlistAdded(const QString& id, const QString& name);
    /*! Deprecated: use playlistRemoved(const QString&, const QString&). */
    void playlistRemoved(const RovaPlaylist* playlist);
    /*! The playlist \a id, named \a name, left the registry (removed or destroyed). */
    void playlistRemoved(const QString& id, const QString& name);

protected:
    /*! Only RovaInternalRegistry constructs a registry; applications use instance(). */
    explicit RovaRegistry(QObject* parent);

private:
    Q_DISABLE_COPY(RovaRegistry)
};

#endif // ROVAREGISTRY_H
