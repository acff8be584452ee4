// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERER_H
#define ROVARENDERER_H

#include "rova_export.h"
#include "rovacontent.h"
#include "rovaerror.h"
#include "rovaplaylist.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

/*!
    Abstract interface of a renderer: the object that plays media, either the
    items of an assigned playlist or a URI given directly. Renderer plugins
    usually derive from RovaBasicRenderer, which implements every command.

    The order of the signals and of the command slots is part of the interface:
    the meta-object indexes them. Commands return at once; what happens is told
    by the signals. Status, position, property and media-info answers go
    asynchronously to a caller-given slot (Qt's SLOT() or SIGNAL() form), checked
    and invoked with RovaCallbackHelper.

    Renderer properties ("rova_auto_advance", "rova_policy_override", and any
    other name) are dynamic properties of the object.

    Ownership: a plugin creates its renderers and hands them to the registry;
    the destructor does not unregister the renderer.
*/
class ROVA_EXPORT RovaRenderer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString uuid READ uuid)
    Q_PROPERTY(QString pluginName READ pluginName)
    Q_PROPERTY(QString name READ name)

public:
    /*! The externally visible state, reported through stateChanged(). */
    enum State : int {
        Stopped = 0,
        Playing = 1,
        Paused = 2,
        Transitioning = 3
    };

    /*!
        How setPosition() seeks. The library hands the value to the renderer
        implementation unchanged; only SeekDefault has a meaning of its own.
    */
    enum SeekMode : int {
        SeekDefault = 0,
        SeekAccurate = 1,
        SeekKeyFrame = 2
    };

    /*! "rova_policy_override": true while the resource policy overrides playback; read-only. */
    static const QString ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE;
    /*! "rova_auto_advance": move on to the next playlist item at end of stream. */
    static const QString ROVA_RENDERER_PROPERTY_AUTO_ADVANCE;

    /*! Keeps \a uuid and \a pluginName for good; the name starts empty. */
    RovaRenderer(const QString& uuid, const QString& pluginName, QObject* parent);
    ~RovaRenderer() override;

    virtual QString uuid() const;
    virtual QString pluginName() const;
    virtual QString name() const;

Q_SIGNALS:
    void stateChanged(RovaRenderer::State state);
    void playbackCompleted();
    /*! \a index is -1 when the item is not a playlist item. */
    void mediaChanged(int index, const RovaContent& content);
    void playlistChanged(RovaPlaylist* playlist);
    void metadataChanged(const QString& metadata, const QList<QVariant>& values);
    void bufferingInfo(float status);
    void scanningInfo(float status);
    void nameChanged(const QString& name);
    void rovaPropertyChanged(const QString& name, const QVariant& value);
    void error(const RovaError& error);

public Q_SLOTS:
    /*! Plays the assigned playlist from its current item. */
    virtual bool play() = 0;
    /*! Plays \a url from \a startPosition. */
    virtual bool play(const QUrl& url, uint startPosition = 0) = 0;
    /*!
        Plays \a url whose content type is known. Renderers that do not override
        it warn and return true without playing anything.
    */
    virtual bool play(const QUrl& url, const QString& contentType);
    virtual bool stop() = 0;
    virtual bool pause() = 0;
    /*! Starts the current item paused at \a position. */
    virtual bool pauseAt(uint position) = 0;
    virtual bool resume() = 0;
    virtual bool next() = 0;
    virtual bool previous() = 0;
    virtual bool gotoIndex(uint index) = 0;
    virtual bool setPosition(int seconds, RovaRenderer::SeekMode mode = SeekDefault) = 0;

public:
    /*!
        Answers asynchronously with "statusResults(QString playlistId, uint index,
        int state, QString itemId)", optionally with a trailing RovaRenderer&.
    */
    virtual bool getStatus(QObject* receiver, const char* member) = 0;
    virtual bool assignPlaylist(RovaPlaylist* playlist) = 0;
    /*! Answers asynchronously with "positionResults(uint)". */
    virtual bool getPosition(QObject* receiver, const char* member) = 0;
    /*!
        Stores \a value as the renderer property \a name and emits
        rovaPropertyChanged(). Derived classes may refuse a name.
    */
    virtual bool setRovaProperty(const QString& name, const QVariant& value);
    /*!
        Calls \a member of \a receiver with the property's name and value (an
        invalid QVariant when it was never set). The slot takes (QString, QVariant)
        or a leading part of that. Returns false, with a warning, when the slot is
        not found, does not fit, or cannot be invoked.
    */
    virtual bool rovaProperty(QString& name, QObject* receiver, const char* member);
    /*!
        Answers with "mediaInfoResults(const RovaMediaInfo&)" where a renderer
        supports it; here it returns false and does nothing.
    */
    virtual bool getCurrentMediaInfo(QObject* receiver, const char* member, const QString& key);

protected:
    /*! Sets the human-readable name; emitting nameChanged() is left to the caller. */
    void setName(const QString& name);

private:
    Q_DISABLE_COPY(RovaRenderer)

    QString m_uuid;
    QString m_pluginName;
    QString m_name;
};

Q_DECLARE_METATYPE(RovaRenderer::State)
Q_DECLARE_METATYPE(RovaRenderer::SeekMode)

#endif // ROVARENDERER_H
