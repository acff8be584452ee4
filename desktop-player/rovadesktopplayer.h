// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVADESKTOPPLAYER_H
#define ROVADESKTOPPLAYER_H

#include <QObject>
#include <QPointer>
#include <QStringList>

class QQmlApplicationEngine;
class QQuickWindow;
class RovaMpris;

/*!
    qrova-player without its command line: the store it plays from, the window,
    and the desktop media controls of what the window plays. main.cpp and the
    tests use it alike.
*/
class RovaDesktopPlayer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QStringList paths; // music files or folders to index first
        QString audioSink; // a GStreamer sink description; empty for the default
        bool background = false;
    };

    explicit RovaDesktopPlayer(QQmlApplicationEngine* engine, QObject* parent = nullptr);

    /*! Names the application "qrova-player", also its desktop entry (the desktop's media controls show it). */
    static void nameApplication();
    ~RovaDesktopPlayer() override;

    /*!
        Picks the store as qrova-play does (the environment's, the desktop's, or the
        local one, which \a options.paths are indexed into) and opens the window.
        Problems before the window opens are shown in it. Returns the window, or
        null when the QML could not be loaded.
    */
    QQuickWindow* start(const Options& options);
    /*! What went wrong before the window opened; empty when nothing did. */
    QString startupError() const { return m_startupError; }

private Q_SLOTS:
    void deferQueueChanged();

private:
    void queueChanged();

    QQmlApplicationEngine* m_engine;
    QPointer<QObject> m_player;
    QPointer<QObject> m_queue;
    RovaMpris* m_mpris = nullptr;
    QString m_startupError;
    bool m_queuePending = false;
};

#endif // ROVADESKTOPPLAYER_H
