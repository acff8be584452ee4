// SPDX-License-Identifier: LGPL-2.1-or-later
// Child process for tst_rovamessagehandler: the cases that end the process, read the
// environment or run an application's event loop to its end. The first argument names
// the case; everything is logged to standard error by the library's handler.
#include <rovamessagehandler.h>

#include <QCoreApplication>
#include <QTimer>

#include <glib.h>

#include <cstring>

int main(int argc, char** argv)
{
    const char* scenario = argc > 1 ? argv[1] : "";

    if (!std::strcmp(scenario, "levels")) {
        // Every level once, without an application object.
        RovaMessageHandler::initRovaLogging(true);
        qDebug("a debug line");
        qInfo("an info line");
        qWarning("a warning line");
        qCritical("a critical line");
        return 0;
    }
    if (!std::strcmp(scenario, "warning")) {
        RovaMessageHandler::initRovaLogging(true);
        qWarning("careful");
        return 0;
    }
    if (!std::strcmp(scenario, "fatal")) {
        RovaMessageHandler::initRovaLogging(true);
        qFatal("the end");
        return 0;
    }
    if (!std::strcmp(scenario, "glib-twice")) {
        // Setting up twice, then GLib messages of two domains.
        QCoreApplication app(argc, argv);
        RovaMessageHandler::initRovaLogging(true);
        RovaMessageHandler::initRovaLogging(true);
        g_log("Tracker", G_LOG_LEVEL_WARNING, "store is %s", "busy");
        g_log("GLib-GIO", G_LOG_LEVEL_CRITICAL, "bus gone");
        return 0;
    }
    if (!std::strcmp(scenario, "quit")) {
        QCoreApplication app(argc, argv);
        RovaMessageHandler::initRovaLogging(true);
        RovaMessageHandler::initRovaLogging(true); // a second restorer finds logging off
        qWarning("before quit");
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        const int rc = app.exec();
        qWarning("after quit");
        return rc;
    }
    return 2;
}
