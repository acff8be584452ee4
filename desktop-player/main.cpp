// SPDX-License-Identifier: LGPL-2.1-or-later
// qrova-player: a desktop music player on the Qrova QML module.
#include "rovadesktopplayer.h"

#include <rovamessagehandler.h>

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    RovaDesktopPlayer::nameApplication();
    RovaMessageHandler::initRovaLogging(true);
    if (qgetenv("QROVA_LOG") != "1")
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "A music player on libqrova. With paths, indexes them into a local store first; without, plays from the "
        "store the environment names, the desktop's store when it runs, or the local store."));
    options.addHelpOption();
    options.addPositionalArgument(QStringLiteral("paths"), QStringLiteral("Music files or folders to index and play."),
                                  QStringLiteral("[DIR|FILE...]"));
    const QCommandLineOption sink(QStringLiteral("audio-sink"), QStringLiteral("A GStreamer sink description, e.g. \"fakesink sync=true\"."), QStringLiteral("DESCRIPTION"));
    const QCommandLineOption background(QStringLiteral("background"),
        QStringLiteral("Play as background sound: alongside other players, never pausing them or paused by them."));
    options.addOptions({sink, background});
    options.process(app);

    QQmlApplicationEngine engine;
    RovaDesktopPlayer player(&engine);
    if (!player.start({options.positionalArguments(), options.value(sink), options.isSet(background)}))
        return 1;
    return app.exec();
}
