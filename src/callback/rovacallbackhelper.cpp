// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovacallbackhelper.h"

#include "rovaerror.h"
#include "rovamediainfo.h"
#include "rovarenderer.h"

#include <QDebug>
#include <QMetaMethod>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <array>
#include <functional>
#include <tuple>
#include <utility>

namespace {

// The two accepted templates of one result kind and the name its check
// function reports under.
struct CallbackKind {
    const char* plain;
    const char* withRenderer;
    const char* checkName;
    bool tracesResult; // the check traces "<checkName> returns" and its result
};

constexpr CallbackKind positionKind = {
    "2positionResults(uint)",
    "2positionResults(uint, RovaRenderer&)",
    "RovaCallbackHelper::checkGetPositionCallback", false};
constexpr CallbackKind errorKind = {
    "2errorResult(const RovaError&)",
    "2errorResult(const RovaError&, RovaRenderer&)",
    "RovaCallbackHelper::checkErrorCallback", false};
constexpr CallbackKind mediaInfoKind = {
    "2mediaInfoResults(const RovaMediaInfo&)",
    "2mediaInfoResults(const RovaMediaInfo&, RovaRenderer&)",
    "RovaCallbackHelper::checkGetMediaInfoCallback", true};
constexpr CallbackKind statusKind = {
    "2statusResults(QString, uint, int, QString)",
    "2statusResults(QString, uint, int, QString, RovaRenderer&)",
    "RovaCallbackHelper::checkGetStatusCallback", true};

const char* const invokeFailed = "Invoking the callback method failed!";

// The signature part of a slot reference: everything after the method code.
// An empty string stays empty instead of running past its end.
const char* signatureOf(const char* slot)
{
    return *slot ? slot + 1 : slot;
}

bool fitsKind(const CallbackKind& kind, const char* slot)
{
    return RovaCallbackHelper::checkCallbackSignature(kind.plain, slot)
        || RovaCallbackHelper::checkCallbackSignature(kind.withRenderer, slot);
}

bool checkCallback(const CallbackKind& kind, QObject* receiver, const char* slot)
{
    if (!receiver || !slot) {
        qWarning("Argument object or slot was NULL.");
        return false;
    }

    const bool ok = fitsKind(kind, slot);
    if (!ok)
        qWarning() << "Provided slot has incorrect signature (" << slot << ").";

    const QMetaObject* metaObject = receiver->metaObject();
    if (!metaObject) {
        qCritical() << kind.checkName << "failed to get metaobject";
        return false;
    }

    if (metaObject->indexOfSlot(QMetaObject::normalizedSignature(signatureOf(slot)).constData()) < 0) {
        qWarning() << "Provided slot does not exist (" << slot << ").";
        return false;
    }
    if (kind.tracesResult)
        qDebug() << kind.checkName << "returns" << ok;
    return ok;
}

bool takesRenderer(const QMetaMethod& method)
{
    static const QByteArray rendererType = QMetaObject::normalizedType("RovaRenderer&");
    const QList<QByteArray> types = method.parameterTypes();
    return !types.isEmpty() && QMetaObject::normalizedType(types.last().constData()) == rendererType;
}

template <typename... Args, std::size_t... I>
bool callMethod(const QMetaMethod& method, QObject* receiver, Qt::ConnectionType connection,
                RovaRenderer* renderer, const std::array<const char*, sizeof...(Args)>& names,
                const std::tuple<Args...>& values, std::index_sequence<I...>)
{
    if (renderer) {
        return method.invoke(receiver, connection, QArgument<Args>(names[I], std::get<I>(values))...,
                             QGenericArgument("RovaRenderer", renderer));
    }
    return method.invoke(receiver, connection, QArgument<Args>(names[I], std::get<I>(values))...);
}

// Calls the callback \a slot of \a receiver with \a values (passed under the
// type names \a names), adding the renderer when the callback's last parameter
// is RovaRenderer&.
// \a announce, when given, is told whether the renderer is added, right before the call.
template <typename... Args>
void invokeCallback(const CallbackKind& kind, RovaRenderer* renderer, QObject* receiver, const char* slot,
                    const std::array<const char*, sizeof...(Args)>& names, const std::tuple<Args...>& values,
                    const std::function<void(bool)>& announce = {})
{
    QMetaMethod method;
    if (!RovaCallbackHelper::getCallbackMethod(receiver, slot, method))
        return;

    // A callback whose parameters do not fit would read the values as other
    // types; refuse it rather than call it, and say so as for a failed call.
    if (!fitsKind(kind, method.methodSignature().constData())) {
        qWarning() << "Provided slot has incorrect signature (" << slot << ").";
        qWarning("%s", invokeFailed);
        return;
    }

    const auto sequence = std::index_sequence_for<Args...>();
    const bool withRenderer = takesRenderer(method);
    if (announce)
        announce(withRenderer);
    if (!withRenderer) {
        // Direct on the receiver's thread, queued (with copies of the values,
        // whose types are registered) on any other.
        if (!callMethod(method, receiver, Qt::AutoConnection, nullptr, names, values, sequence))
            qWarning("%s", invokeFailed);
        return;
    }

    if (!renderer) {
        qWarning() << "RovaCallbackHelper: no renderer to hand to the callback (" << slot << ").";
        qWarning("%s", invokeFailed);
        return;
    }

    if (receiver->thread() == QThread::currentThread()) {
        if (!callMethod(method, receiver, Qt::DirectConnection, renderer, names, values, sequence))
            qWarning("%s", invokeFailed);
        return;
    }

    // A renderer cannot be copied into a queued call: hand it over by reference
    // on the receiver's thread, as long as it still exists then. A receiver
    // deleted before that never gets the call.
    const QPointer<RovaRenderer> guard(renderer);
    const QByteArray slotText(slot);
    const bool posted = QMetaObject::invokeMethod(
        receiver,
        [guard, method, receiver, names, values, slotText, sequence]() {
            if (!guard) {
                qWarning() << "RovaCallbackHelper: the renderer was deleted before the callback ("
                           << slotText.constData() << ") could run.";
                return;
            }
            if (!callMethod(method, receiver, Qt::DirectConnection, guard.data(), names, values, sequence))
                qWarning("%s", invokeFailed);
        },
        Qt::QueuedConnection);
    if (!posted)
        qWarning("%s", invokeFailed);
}

} // namespace

bool RovaCallbackHelper::checkCallbackSignature(const char* signal, const char* slot)
{
    if (!signal || !slot)
        return false;
    const QByteArray normalizedSignal = QMetaObject::normalizedSignature(signal);
    const QByteArray normalizedSlot = QMetaObject::normalizedSignature(slot);
    // Without a parameter list there is nothing to compare (and nothing to scan for).
    if (!normalizedSignal.contains('(') || !normalizedSlot.contains('('))
        return false;
    return QMetaObject::checkConnectArgs(normalizedSignal.constData(), normalizedSlot.constData());
}

bool RovaCallbackHelper::checkGetPositionCallback(QObject* receiver, const char* slot)
{
    return checkCallback(positionKind, receiver, slot);
}

bool RovaCallbackHelper::checkErrorCallback(QObject* receiver, const char* slot)
{
    return checkCallback(errorKind, receiver, slot);
}

bool RovaCallbackHelper::checkGetMediaInfoCallback(QObject* receiver, const char* slot)
{
    return checkCallback(mediaInfoKind, receiver, slot);
}

bool RovaCallbackHelper::checkGetStatusCallback(QObject* receiver, const char* slot)
{
    qDebug() << "RovaCallbackHelper::checkGetStatusCallback";
    return checkCallback(statusKind, receiver, slot);
}

bool RovaCallbackHelper::getCallbackMethod(const QObject* receiver, const char* slot, QMetaMethod& method)
{
    if (!slot) {
        qWarning("RovaCallbackHelper::getCallbackMethod: slot signature is null.");
        return false;
    }
    if (!receiver) {
        qWarning() << "RovaCallbackHelper::getCallbackMethod:" << "Target object is null for slot: " << slot;
        return false;
    }
    const QMetaObject* metaObject = receiver->metaObject();
    if (!metaObject) {
        qWarning("RovaCallbackHelper::getCallbackMethod: Failed to get metaobject.");
        return false;
    }

    const QByteArray signature = QMetaObject::normalizedSignature(signatureOf(slot));
    int index = metaObject->indexOfSlot(signature.constData());
    if (index < 0)
        index = metaObject->indexOfSignal(signature.constData());
    if (index < 0) {
        qWarning() << "RovaCallbackHelper::getCallbackMethod: Invalid slot/signal(" << slot << ")";
        return false;
    }

    method = metaObject->method(index);
    if (method.parameterCount() == 0) {
        qWarning("RovaCallbackHelper::getCallbackMethod: Parameter list of callback method empty.");
        return false;
    }
    return true;
}

void RovaCallbackHelper::invokeGetPositionCallback(RovaRenderer* renderer, uint position,
                                                   QObject* receiver, const char* slot)
{
    invokeCallback(positionKind, renderer, receiver, slot, {"uint"}, std::make_tuple(position));
}

void RovaCallbackHelper::invokeGetMediaInfoCallback(RovaRenderer* renderer, const RovaMediaInfo& mediaInfo,
                                                    QObject* receiver, const char* slot)
{
    invokeCallback(mediaInfoKind, renderer, receiver, slot, {"RovaMediaInfo"}, std::make_tuple(mediaInfo));
}

void RovaCallbackHelper::invokeGetStatusCallback(RovaRenderer* renderer, const QString& playlistId, uint index,
                                                 int state, const QString& objectId,
                                                 QObject* receiver, const char* slot)
{
    invokeCallback(statusKind, renderer, receiver, slot, {"QString", "uint", "int", "QString"},
                   std::make_tuple(playlistId, index, state, objectId));
}

void RovaCallbackHelper::invokeErrorCallback(RovaRenderer* renderer, RovaError& error,
                                             QObject* receiver, const char* slot)
{
    invokeCallback(errorKind, renderer, receiver, slot, {"RovaError"}, std::make_tuple(RovaError(error)),
                   [&error](bool withRenderer) {
                       if (!withRenderer) {
                           qDebug().nospace() << "RovaRenderer, invoking  code=" << int(error.code())
                                              << " message=" << error.message();
                       }
                   });
}
