// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAMESSAGEHANDLER_H
#define ROVAMESSAGEHANDLER_H

#include "rova_export.h"

#include <QObject>
#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QTextStream;
class QMessageLogContext;
class QString;
QT_END_NAMESPACE

/*!
    The library's log format for a whole process.

    After initRovaLogging(true) every Qt message at or above a threshold is written as
    "hh:mm:ss:zzz Level: message" to a text stream (standard error unless the application
    supplies one) and sent to the system log under the ident "ROVA"; messages that GLib-based
    code logs, in any domain, join the same path. The threshold comes from "QROVA_LOG"
    (1 debug and up, 2 warnings and up, 3 or more criticals and up, anything else warnings
    and up); with an application-supplied stream everything is written. With
    "QT_FATAL_WARNINGS" in the environment a warning is written as fatal and ends the process.

    Writing is serialised, so any thread may log. Set-up and switching off belong to the
    main thread. When an application object exists at set-up, its aboutToQuit() restores
    Qt's default message handler.

    RovaMessageHandler is a namespace (moc cannot handle a QObject nested in a class); its
    functions are called as RovaMessageHandler::initRovaLogging(...).
*/
namespace RovaMessageHandler {

/*!
    Switches logging on (\a enable true) or off. A given \a stream is owned from then on
    and deleted by the next set-up or by switching off; without one, standard error is
    used. Switching on again replaces the stream and re-reads the environment. Switching
    off puts Qt's default message handler back.
*/
ROVA_EXPORT void initRovaLogging(bool enable, QTextStream* stream = nullptr);

/*! The same as ::rovaMessageHandler(). */
ROVA_EXPORT void rovaMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

/*!
    Connected to the application's aboutToQuit(): switches logging off and deletes itself.
    initRovaLogging() makes it a child of the application object, so an application that
    never quits through its event loop does not leak it.
*/
class ROVA_EXPORT MessageHandlerRestorer : public QObject
{
    Q_OBJECT
public:
    /*! Creates the restorer as a child of \a parent; initRovaLogging() does this itself. */
    explicit MessageHandlerRestorer(QObject* parent = nullptr);
    ~MessageHandlerRestorer() override;

public Q_SLOTS:
    /*! Switches logging off, as initRovaLogging(false), and deletes this object later. */
    void restoreDefaultMsgHandler();
};

} // namespace RovaMessageHandler

/*!
    The handler that RovaMessageHandler::initRovaLogging() installs with
    qInstallMessageHandler(): formats and writes one message. A fatal message, and a
    warning while warnings are fatal, ends the process with abort() after it has been
    written. An application may also install it, or call it, itself.
*/
ROVA_EXPORT void rovaMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

#endif // ROVAMESSAGEHANDLER_H
