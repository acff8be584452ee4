// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAMPRIS_H
#define ROVAMPRIS_H

#include <rovacontent.h>
#include <rovarenderer.h>

#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

class QDBusObjectPath;
class RovaBasicRenderer;
class RovaPlaylist;
class RovaPluginControlInterface;
class RovaMprisPlayerAdaptor;

/*!
    Desktop control of the player: serves the media player interfaces
    "org.mpris.MediaPlayer2" and "org.mpris.MediaPlayer2.Player" at
    /org/mpris/MediaPlayer2 on the session bus, as "org.mpris.MediaPlayer2.qrova"
    or, when another player holds that name, "org.mpris.MediaPlayer2.qrova.instance<pid>".

    Every command becomes a renderer command, and every property is what the
    renderer last reported (its state, its current item, its position) or what
    the playlist holds (repeat mode, shuffle); the volume is the renderer
    plugin's "volume" setting. Changes are announced with PropertiesChanged,
    seeks with Seeked once the renderer has carried them out.

    Ownership: the renderer, the playlist and the control interface are not
    owned and may go first; the two adaptors are children of this object.
*/
class RovaMpris : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    static const QString SERVICE;
    static const QString OBJECT_PATH;
    static const QString PLAYER_INTERFACE;

    /*! \a songs describe the playlist's items (title, artist, album, duration, uri), found by uuid. */
    RovaMpris(RovaBasicRenderer* renderer, RovaPlaylist* playlist, const QList<RovaContent>& songs,
              RovaPluginControlInterface* control, QObject* parent = nullptr);
    ~RovaMpris() override;

    /*! Serves on the session bus: an empty string when it does, otherwise why not. */
    QString registerService();
    /*! The bus name owned; empty while not served. */
    QString serviceName() const;

    /*! The player interface's properties as last published, Position aside. */
    QVariantMap properties() const { return m_published; }
    /*! The renderer's last reported position, in microseconds. */
    qint64 position() const { return m_position; }

    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    /*! Moves by \a offset microseconds from where the renderer is now. */
    void seek(qint64 offset);
    /*! Seeks to \a position microseconds of the item \a trackId; a stale id or a position outside the item is ignored. */
    void setPosition(const QDBusObjectPath& trackId, qint64 position);
    /*! Plays a local audio file (a query or fragment of the address is no part of it); otherwise returns why not. */
    QString openUri(const QString& uri);
    /*! "None", "Track" or "Playlist"; false for anything else. */
    bool setLoopStatus(const QString& status);
    void setShuffle(bool shuffle);
    /*! Clamped to 0.0 ... 1.0. */
    void setVolume(double volume);
    /*! Only 1.0 is played; 0.0 pauses. */
    void setRate(double rate);
    /*! Answers the D-Bus call being served with an InvalidArgs error, or warns outside of one. */
    void refuse(const QString& message);

Q_SIGNALS:
    /*! openUri() handed \a url to the renderer. */
    void uriOpened(const QUrl& url);

public Q_SLOTS:
    void statusResults(const QString& playlistId, uint index, int state, const QString& itemId);
    void positionResults(uint seconds);

private:
    void mediaChanged(int index, const RovaContent& content);
    void stateChanged(int state);
    void refresh();
    QVariantMap metadata() const;
    QString trackId() const;
    qint64 length() const;
    bool canGo(bool forward) const;
    void requestPosition();

    QPointer<RovaBasicRenderer> m_renderer;
    QPointer<RovaPlaylist> m_playlist;
    QList<RovaContent> m_songs;
    QPointer<RovaPluginControlInterface> m_control;
    RovaMprisPlayerAdaptor* m_player = nullptr;
    QString m_serviceName;
    QVariantMap m_published;
    RovaContent m_current;
    int m_index = -1;
    int m_uriCount = 0;
    int m_state = RovaRenderer::Stopped;
    qint64 m_position = 0;
    qint64 m_seekOffset = 0;
    bool m_seekRequested = false;
    bool m_seekedPending = false;
    QTimer m_ticker;
};

#endif // ROVAMPRIS_H
