// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovamessagehandler.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QMutex>
#include <QString>
#include <QTextStream>
#include <QTime>

#include <glib.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Process-wide logging state. Everything here is read and written under logMutex,
// because the handler runs on whichever thread emits a message.
QBasicMutex logMutex;
QTextStream* logStream = nullptr;
int logThreshold = 0;
bool fatalWarnings = false;

// Set while this thread writes a line; a message raised while writing (for instance by
// the stream itself) is written without taking the lock again, which would deadlock.
thread_local bool writingLine = false;

// Takes the stream out of the state and resets the levels; the caller deletes the stream
// after the lock is released.
QTextStream* resetLogStateLocked()
{
    fatalWarnings = false;
    logThreshold = 1;
    QTextStream* old = logStream;
    logStream = nullptr;
    return old;
}

// Threshold from "QROVA_LOG": 1 -> 0 (debug and up), 2 -> 1 (warnings and up),
// larger -> 2 (criticals and up); unset, not a number or below 1 -> 1.
int thresholdFromEnvironment()
{
    bool ok = false;
    const int value = qgetenv("QROVA_LOG").toInt(&ok, 10);
    if (!ok || value < 1)
        return 1;
    if (value == 1)
        return 0;
    if (value == 2)
        return 1;
    return 2;
}

// GLib's log function: the level is compared as a whole, so a level combined with flags
// counts as debug output. The domain is not part of the line.
//
// The exception are GLib's last words: an error (always fatal) or any message made fatal
// (G_DEBUG=fatal-criticals, g_log_set_always_fatal()) is followed by GLib's own abort as
// soon as this returns, so it is written as a critical, which every threshold lets
// through, and flushed first.
void glibLogBridge(const gchar* /*domain*/, GLogLevelFlags level, const gchar* message, gpointer /*data*/)
{
    const char* text = message ? message : "";
    switch (static_cast<int>(level)) {
    case G_LOG_LEVEL_CRITICAL:
        qCritical("%s", text);
        break;
    case G_LOG_LEVEL_WARNING:
        qWarning("%s", text);
        break;
    case G_LOG_FLAG_FATAL:
        qFatal("%s", text);
        break;
    default:
        if (level & (G_LOG_FLAG_FATAL | G_LOG_LEVEL_ERROR)) {
            qCritical("%s", text);
            std::fflush(stdout);
            std::fflush(stderr);
        } else {
            qDebug("%s", text);
        }
        break;
    }
}

void installGlibBridge()
{
    // The default handler receives the messages of every domain that has no handler of its
    // own. Replacing it is allowed any number of times, so setting up again is harmless.
    g_log_set_default_handler(glibLogBridge, nullptr);
}

} // namespace

void RovaMessageHandler::initRovaLogging(bool enable, QTextStream* stream)
{
    if (!enable) {
        QTextStream* old = nullptr;
        {
            QMutexLocker locker(&logMutex);
            old = resetLogStateLocked();
        }
        delete old;
        qInstallMessageHandler(nullptr);
        return;
    }

    int threshold = 1;
    if (stream) {
        threshold = 0; // an application-supplied stream gets everything
    } else {
        stream = new QTextStream(stderr, QIODevice::WriteOnly);
        threshold = thresholdFromEnvironment();
    }

    QTextStream* old = nullptr;
    {
        QMutexLocker locker(&logMutex);
        old = resetLogStateLocked();
        logStream = stream;
        logThreshold = threshold;
    }
    delete old;

    qInstallMessageHandler(::rovaMessageHandler);

    if (QCoreApplication* app = QCoreApplication::instance()) {
        auto* restorer = new MessageHandlerRestorer;
        restorer->moveToThread(app->thread());
        restorer->setParent(app);
        QObject::connect(app, &QCoreApplication::aboutToQuit,
                         restorer, &MessageHandlerRestorer::restoreDefaultMsgHandler);
    }

    openlog("ROVA", LOG_PID, LOG_USER);
    installGlibBridge();

    if (qEnvironmentVariableIsSet("QT_FATAL_WARNINGS")) {
        QMutexLocker locker(&logMutex);
        fatalWarnings = true;
    }

    qDebug("RovaMessageHandler::initRovaLogging %d", threshold);
}

void RovaMessageHandler::rovaMessageHandler(QtMsgType type, const QMessageLogContext& context,
                                            const QString& message)
{
    ::rovaMessageHandler(type, context, message);
}

void rovaMessageHandler(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message)
{
    QMutexLocker locker(writingLine ? nullptr : &logMutex);

    int level = 0;
    const char* word = " Debug: ";
    int priority = LOG_DEBUG;
    switch (type) {
    case QtDebugMsg:
        break;
    case QtInfoMsg:
        word = " Info: ";
        priority = LOG_INFO;
        break;
    case QtWarningMsg:
        level = 1;
        word = " Warning: ";
        priority = LOG_WARNING;
        break;
    case QtCriticalMsg:
        level = 2;
        word = " Critical: ";
        priority = LOG_CRIT;
        break;
    case QtFatalMsg:
        level = 3;
        break;
    }
    if (type == QtFatalMsg || (type == QtWarningMsg && fatalWarnings)) {
        level = 3;
        word = " Fatal: ";
        priority = LOG_EMERG;
    }

    if (level < logThreshold)
        return;

    const QString line = QTime::currentTime().toString(QStringLiteral("hh:mm:ss:zzz"))
            + QLatin1String(word) + message;
    if (logStream) {
        writingLine = true;
        *logStream << line << Qt::endl;
        writingLine = false;
    }
    syslog(priority, "%s", message.toLocal8Bit().constData());

    if (level == 3)
        abort();
}

RovaMessageHandler::MessageHandlerRestorer::MessageHandlerRestorer(QObject* parent)
    : QObject(parent)
{
}

RovaMessageHandler::MessageHandlerRestorer::~MessageHandlerRestorer() = default;

void RovaMessageHandler::MessageHandlerRestorer::restoreDefaultMsgHandler()
{
    qDebug("MessageHandlerRestorer: restoring default message handler.");
    RovaMessageHandler::initRovaLogging(false);
    deleteLater();
}
