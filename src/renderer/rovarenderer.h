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
    /*! The renderer's unique identifier; read-only. */
    Q_PROPERTY(QString uuid READ uuid)
    /*! The name of the plugin that created the renderer; read-only. */
    Q_PROPERTY(QString pluginName READ pluginName)
    /*! The human-readable name; read-only through the property system. */
    Q_PROPERTY(QString name READ name)

public:
    /*! The externally visible state, reported through stateChanged(). */
    enum State : int {
        Stopped = 0, ///< nothing plays
        Playing = 1, ///< an item or a URI plays
        Paused = 2, ///< playback is paused
        Transitioning = 3 ///< a command is on its way: an item is being looked up or started
    };

    /*!
        How setPosition() seeks. The library hands the value to the renderer
        implementation unchanged; only SeekDefault has a meaning of its own.
    */
    enum SeekMode : int {
        SeekDefault = 0, ///< the renderer's usual way of seeking
        SeekAccurate = 1, ///< to the exact position, where the renderer can
        SeekKeyFrame = 2 ///< to a nearby key frame, faster
    };

    /*! "rova_policy_override": true while the resource policy overrides playback; read-only. */
    static const QString ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE;
    /*! "rova_auto_advance": move on to the next playlist item at end of stream. */
    static const QString ROVA_RENDERER_PROPERTY_AUTO_ADVANCE;

    /*! Keeps \a uuid and \a pluginName for good; the name starts empty. */
    RovaRenderer(const QString& uuid, const QString& pluginName, QObject* parent);
    ~RovaRenderer() override;

    /*! The unique identifier given to the constructor; never changes. The registry finds renderers by it. */
    virtual QString uuid() const;
    /*! The name of the plugin that created the renderer, given to the constructor. */
    virtual QString pluginName() const;
    /*! The human-readable name; empty until a derived class sets it. */
    virtual QString name() const;

Q_SIGNALS:
    /*! The renderer entered \a state. */
    void stateChanged(RovaRenderer::State state);
    /*! Playback of the playlist ended: there is nothing more to play. */
    void playbackCompleted();
    /*! The item being played is now \a content; \a index is -1 when it is not a playlist item. */
    void mediaChanged(int index, const RovaContent& content);
    /*! The assigned playlist is now \a playlist (null when unassigned). */
    void playlistChanged(RovaPlaylist* playlist);
    /*!
        The metadata key \a metadata of the item being played now has \a values; emitted by implementations.
    */
    void metadataChanged(const QString& metadata, const QList<QVariant>& values);
    /*! Buffering progress, as the implementation measures it. */
    void bufferingInfo(float status);
    /*! Scanning progress, as the implementation measures it. */
    void scanningInfo(float status);
    /*! The renderer's name is now \a name; emitted by implementations. */
    void nameChanged(const QString& name);
    /*! The renderer property \a name was set to \a value. */
    void rovaPropertyChanged(const QString& name, const QVariant& value);
    /*!
        Something went wrong; \a error carries a code of the renderer group
        (300-331) and a message. Commands that fail after they were accepted
        report here, often on the next turn of the event loop.
    */
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
    /*! Stops playback. Returns true when the command was taken; stateChanged(Stopped) follows. */
    virtual bool stop() = 0;
    /*! Pauses playback; stateChanged(Paused) follows when the renderer was playing. */
    virtual bool pause() = 0;
    /*! Starts the current item paused at \a position. */
    virtual bool pauseAt(uint position) = 0;
    /*! Resumes paused playback. */
    virtual bool resume() = 0;
    /*!
        Moves to the next item of the playlist (under its repeat mode), playing it
        when the renderer was playing. Past the end of the playlist nothing happens;
        without a playlist error() reports RovaError::RendererNoPlaylist.
    */
    virtual bool next() = 0;
    /*! Moves to the previous item of the playlist, like next(). */
    virtual bool previous() = 0;
    /*!
        Makes the item at \a index current, playing it when the renderer was
        playing. An index without an item is reported through error() as
        RovaError::RendererIndexOutOfBounds, and the renderer stops.
    */
    virtual bool gotoIndex(uint index) = 0;
    /*! Seeks to \a seconds from the start of the item, in the way \a mode asks. */
    virtual bool setPosition(int seconds, RovaRenderer::SeekMode mode = SeekDefault) = 0;

public:
    /*!
        Answers asynchronously with "statusResults(QString playlistId, uint index,
        int state, QString itemId)", optionally with a trailing RovaRenderer&.
    */
    virtual bool getStatus(QObject* receiver, const char* member) = 0;
    /*!
        Makes \a playlist the one play() plays (null unassigns it). The renderer
        does not take it over: the playlist must outlive its assignment.
    */
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
