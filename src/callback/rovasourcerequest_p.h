// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASOURCEREQUEST_P_H
#define ROVASOURCEREQUEST_P_H

// Not part of the installed API: what the source plugins of this tree share
// about the receiver and slots a browse, query or metadata request names.

#include "rovacallbackhelper.h"
#include "rovaerror.h"

#include <QByteArray>
#include <QDebug>
#include <QMetaMethod>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>

namespace RovaSourceRequest {

inline const char errorTemplate[] = "2errorResult(const RovaError&)";

// Whether \a receiver has \a resultSlot fitting \a resultTemplate and, when given,
// an error slot fitting errorTemplate; a warning, prefixed with \a source, says why not.
inline bool checkSlots(const char* source, QObject* receiver, const char* resultSlot, const char* errorSlot, const char* resultTemplate)
{
    if (!receiver || !resultSlot) {
        qWarning("%s: a request needs a receiver and a result slot.", source);
        return false;
    }
    QMetaMethod method;
    if (!RovaCallbackHelper::checkCallbackSignature(resultTemplate, resultSlot)) {
        qWarning("%s: the result slot %s does not fit %s", source, resultSlot, resultTemplate + 1);
        return false;
    }
    if (!RovaCallbackHelper::getCallbackMethod(receiver, resultSlot, method))
        return false;
    if (!errorSlot)
        return true;
    // No renderer to hand to an error slot that wants one.
    if (!RovaCallbackHelper::checkCallbackSignature(errorTemplate, errorSlot)) {
        qWarning("%s: the error slot %s does not fit %s", source, errorSlot, errorTemplate + 1);
        return false;
    }
    return RovaCallbackHelper::checkErrorCallback(receiver, errorSlot)
        && RovaCallbackHelper::getCallbackMethod(receiver, errorSlot, method);
}

// Refuses a request: the caller's error slot, when it gave one, hears \a code and
// \a message on the next turn of the event loop.
inline void refuse(QObject* receiver, const char* errorSlot, RovaError::Code code, const QString& message)
{
    if (!errorSlot)
        return;
    const QByteArray slot(errorSlot);
    QTimer::singleShot(0, receiver, [receiver, slot, code, message] {
        RovaError error(code, message);
        RovaCallbackHelper::invokeErrorCallback(nullptr, error, receiver, slot.constData());
    });
}

// Whether a query's \a searchString is free of control characters; a query that
// holds any gets a warning, prefixed with \a source, and is refused.
inline bool checkSearchText(const char* source, const QString& searchString, QObject* receiver, const char* errorSlot)
{
    if (std::none_of(searchString.cbegin(), searchString.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return true;
    const QByteArray warning = QByteArray(source) + "::query: the search text holds control characters:";
    qWarning() << warning.constData() << searchString;
    refuse(receiver, errorSlot, RovaError::SourceInvalidSearchString, QStringLiteral("The search text holds control characters"));
    return false;
}

} // namespace RovaSourceRequest

#endif // ROVASOURCEREQUEST_P_H
