// SPDX-License-Identifier: LGPL-2.1-or-later
// Child process for tst_rovamessagehandler: the cases that end the process, read the
// environment or run an application's event loop to its end. The first argument names
// the case; everything is logged to standard error by the library's handler.
//
// The system log calls of the library land here instead (the executable's definitions
// take precedence over the C library's) and are written to standard error as
// "openlog <ident> <option> <facility>" and "syslog <priority> <text>".
#include <rovamessagehandler.h>

#include <QCoreApplication>
#include <QTimer>

#include <glib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {

void openlog(const char* ident, int option, int facility)
{
    std::fprintf(stderr, "openlog %s %d %d\n", ident, option, facility);
}

static void writeSyslog(int priority, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::fprintf(stderr, "syslog %d %s\n", priority, text);
}

void syslog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeSyslog(priority, format, args);
    va_end(args);
}

// What syslog() becomes when the library is built with _FORTIFY_SOURCE.
void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeSyslog(priority, format, args);
    va_end(args);
}

} // extern "C"

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
    if (!std::strcmp(scenario, "glib-error")) {
        RovaMessageHandler::initRovaLogging(true);
        g_error("store %s", "corrupt");
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
