// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVACALLBACKHELPER_H
#define ROVACALLBACKHELPER_H

#include "rova_export.h"

#include <QString>

class QMetaMethod;
class QObject;
class RovaError;
class RovaMediaInfo;
class RovaRenderer;

/*!
    Checks and calls the result slots that callers hand to asynchronous renderer
    queries. A slot reference is what Qt's SLOT() or SIGNAL() makes: a method
    code character followed by the signature; the first character is dropped,
    whatever it is.

    Each result kind accepts a slot whose parameter list equals its template or
    is a leading part of it, with or without a trailing RovaRenderer&:
    - position:   "positionResults(uint)"
    - error:      "errorResult(const RovaError&)"
    - media info: "mediaInfoResults(const RovaMediaInfo&)"
    - status:     "statusResults(QString, uint, int, QString)"
    The method name does not matter.

    Use a check function when a request is accepted and the matching invoke
    function when the answer is ready. Invocation is direct for a receiver on
    the calling thread and queued for a receiver on another thread; a queued
    answer to a receiver deleted meanwhile is dropped. Failures are warnings,
    never crashes.
*/
class ROVA_EXPORT RovaCallbackHelper
{
public:
    /*! True when the parameters of \a slot fit the template \a signal (rule above). */
    static bool checkCallbackSignature(const char* signal, const char* slot);

    /*!
        True when \a receiver is not null and has \a slot, fitting "positionResults(uint)". False,
        with a warning, otherwise.
    */
    static bool checkGetPositionCallback(QObject* receiver, const char* slot);
    /*! The same check for error slots, "errorResult(const RovaError&)". */
    static bool checkErrorCallback(QObject* receiver, const char* slot);
    /*! The same check for media-info slots, "mediaInfoResults(const RovaMediaInfo&)". */
    static bool checkGetMediaInfoCallback(QObject* receiver, const char* slot);
    /*! The same check for status slots, "statusResults(QString, uint, int, QString)". */
    static bool checkGetStatusCallback(QObject* receiver, const char* slot);

    /*!
        Finds \a slot among the slots, then the signals, of \a receiver. True
        when \a method has been set to a method with at least one parameter.
    */
    static bool getCallbackMethod(const QObject* receiver, const char* slot, QMetaMethod& method);

    /*!
        Calls \a slot of \a receiver with \a position, and with \a renderer when the slot takes it.
        Checks only what getCallbackMethod() checks: pass only a slot that passed
        checkGetPositionCallback(). A failure is a warning.
    */
    static void invokeGetPositionCallback(RovaRenderer* renderer, uint position,
                                          QObject* receiver, const char* slot);
    /*!
        Calls \a slot of \a receiver with \a mediaInfo (and \a renderer when the slot takes it),
        like invokeGetPositionCallback().
    */
    static void invokeGetMediaInfoCallback(RovaRenderer* renderer, const RovaMediaInfo& mediaInfo,
                                           QObject* receiver, const char* slot);
    /*!
        Calls \a slot of \a receiver with the playlist id, the item index, the RovaRenderer::State
        value and the item identifier (and \a renderer when the slot takes it), like
        invokeGetPositionCallback().
    */
    static void invokeGetStatusCallback(RovaRenderer* renderer, const QString& playlistId, uint index,
                                        int state, const QString& objectId,
                                        QObject* receiver, const char* slot);
    /*!
        Calls \a slot of \a receiver with \a error (and \a renderer when the slot takes it), like
        invokeGetPositionCallback().
    */
    static void invokeErrorCallback(RovaRenderer* renderer, RovaError& error,
                                    QObject* receiver, const char* slot);

private:
    RovaCallbackHelper() = delete;
};

#endif // ROVACALLBACKHELPER_H
