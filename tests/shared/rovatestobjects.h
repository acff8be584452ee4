// SPDX-License-Identifier: LGPL-2.1-or-later
// Minimal sources, renderers, playlists and control interfaces for the tests and test plugins.
#ifndef ROVATESTOBJECTS_H
#define ROVATESTOBJECTS_H

#include <rovaplaylistbase.h>
#include <rovaplugincontrolinterface.h>
#include <rovarenderer.h>
#include <rovasource.h>

class RovaTestSource : public RovaSource
{
public:
    explicit RovaTestSource(const QString& uuid, const QString& name = QString())
        : RovaSource(nullptr, uuid, QStringLiteral("test-plugin"))
    {
        setName(name);
    }
    uint browse(const QString&, uint, uint, QObject*, const char*, const char*) override { return 0; }
    uint query(const QString&, const QString&, QObject*, const char*, const char*) override { return 0; }
    bool getMetadata(const QString&, const QStringList&, QObject*, const char*, const char*) override { return false; }
    bool destroyObject(const QString&, QObject*, const char*, const char*) override { return false; }
};

// Accepts every playback command and does nothing; tests override what they watch.
class RovaTestRenderer : public RovaRenderer
{
public:
    explicit RovaTestRenderer(const QString& uuid, const QString& name = QString())
        : RovaRenderer(uuid, QStringLiteral("test-plugin"), nullptr)
    {
        setName(name);
    }
    using RovaRenderer::play;
    bool play() override { return true; }
    bool play(const QUrl&, uint) override { return true; }
    bool stop() override { return true; }
    bool pause() override { return true; }
    bool pauseAt(uint) override { return true; }
    bool resume() override { return true; }
    bool next() override { return true; }
    bool previous() override { return true; }
    bool gotoIndex(uint) override { return true; }
    bool setPosition(int, RovaRenderer::SeekMode) override { return true; }
    bool getStatus(QObject*, const char*) override { return false; }
    bool assignPlaylist(RovaPlaylist*) override { return false; }
    bool getPosition(QObject*, const char*) override { return false; }
};

class RovaTestPlaylist : public RovaPlaylistBase
{
public:
    explicit RovaTestPlaylist(const QString& id, const QString& name = QString(), bool persistent = false)
        : RovaPlaylistBase(id, name)
    {
        setPersistent(persistent);
    }
};

// Every setting reads as its label; nothing can be changed.
class RovaTestControlInterface : public RovaPluginControlInterface
{
public:
    explicit RovaTestControlInterface(const QString& label) { setObjectName(label); }
    QVariant setting(const QString&) const override { return objectName(); }
    bool setSetting(const QString&, const QVariant&) override { return false; }
};

#endif // ROVATESTOBJECTS_H
