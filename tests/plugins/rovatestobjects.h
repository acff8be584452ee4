// SPDX-License-Identifier: LGPL-2.1-or-later
// Minimal sources, renderers, playlists and control interfaces for the registry
// tests and the test plugins; each can report its destruction through a hook.
#ifndef ROVATESTOBJECTS_H
#define ROVATESTOBJECTS_H

#include <rovaplaylist.h>
#include <rovaplugincontrolinterface.h>
#include <rovarenderer.h>
#include <rovasource.h>

#include <QHash>

#include <functional>

using RovaTestDestroyedHook = std::function<void(const QString&)>;

// Calls the hook with "<kind> <id>" when destroyed.
struct RovaTestDestroyReport
{
    RovaTestDestroyedHook hook;
    QString text;
    ~RovaTestDestroyReport()
    {
        if (hook)
            hook(text);
    }
};

class RovaTestSource : public RovaSource
{
public:
    RovaTestSource(const QString& uuid, const QString& name, RovaTestDestroyedHook hook = {})
        : RovaSource(nullptr, uuid, QStringLiteral("test-plugin"))
        , m_report{std::move(hook), QLatin1String("source ") + uuid}
    {
        setName(name);
    }
    uint browse(const QString&, uint, uint, QObject*, const char*, const char*) override { return 0; }
    uint query(const QString&, const QString&, QObject*, const char*, const char*) override { return 0; }
    bool getMetadata(const QString&, const QStringList&, QObject*, const char*, const char*) override { return false; }
    bool destroyObject(const QString&, QObject*, const char*, const char*) override { return false; }

private:
    RovaTestDestroyReport m_report;
};

class RovaTestRenderer : public RovaRenderer
{
public:
    RovaTestRenderer(const QString& uuid, const QString& name, RovaTestDestroyedHook hook = {})
        : RovaRenderer(uuid, QStringLiteral("test-plugin"), nullptr)
        , m_report{std::move(hook), QLatin1String("renderer ") + uuid}
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

private:
    RovaTestDestroyReport m_report;
};

class RovaTestPlaylist : public RovaPlaylist
{
public:
    RovaTestPlaylist(const QString& id, const QString& name, bool persistent = false, RovaTestDestroyedHook hook = {})
        : RovaPlaylist(id, name)
        , m_report{std::move(hook), QLatin1String("playlist ") + id}
    {
        setPersistent(persistent);
    }
    QAbstractItemModel* model() override { return nullptr; }
    void sort(int, RovaSortOrder) override {}
    void sort(QString, RovaSortOrder) override {}
    QStringList getColumnNames() override { return {}; }
    void shuffle() override {}
    void unShuffle() override {}
    bool removeItem(int) override { return false; }
    bool removeItems(int, int) override { return false; }
    bool moveItem(int, int) override { return false; }
    void clear() override {}
    RovaContent* getItem(int) override { return nullptr; }
    int size() override { return 0; }
    int getCurrentIndex() override { return -1; }
    int getNext(int) override { return -1; }
    int getPrevious(int) override { return -1; }
    void setRepeat(RovaRepeatMode) override {}
    RovaRepeatMode repeatMode() override { return RepeatNone; }
    RovaSortOrder getSortOrder() override { return SortNone; }
    bool isShuffled() override { return false; }
    bool import(QFile&) override { return false; }

private:
    RovaTestDestroyReport m_report;
};

// Knows one setting, "label"; other keys are refused.
class RovaTestControlInterface : public RovaPluginControlInterface
{
public:
    explicit RovaTestControlInterface(const QString& label, RovaTestDestroyedHook hook = {})
        : m_label(label)
        , m_report{std::move(hook), QLatin1String("control ") + label}
    {
    }
    QVariant setting(const QString& key) const override
    {
        return key == QLatin1String("label") ? QVariant(m_label) : QVariant();
    }
    bool setSetting(const QString& key, const QVariant& value) override
    {
        if (key != QLatin1String("label"))
            return false;
        m_label = value.toString();
        return true;
    }

private:
    QString m_label;
    RovaTestDestroyReport m_report;
};

#endif // ROVATESTOBJECTS_H
