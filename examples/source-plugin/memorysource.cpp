// SPDX-License-Identifier: LGPL-2.1-or-later
#include "memorysource.h"

#include <rovacallbackhelper.h>

#include <QMetaMethod>
#include <QTimer>

MemorySource::MemorySource(const QString& pluginName)
    : RovaSource(nullptr, QStringLiteral("example-memory-source"), pluginName)
{
    setName(QStringLiteral("Songs in memory"));
    const QStringList titles = {QStringLiteral("Morning"), QStringLiteral("Noon"), QStringLiteral("Night")};
    for (const QString& title : titles) {
        // Item identifiers are the source uuid, "::" and the source's own object id.
        RovaContent song(uuid() + QStringLiteral("::") + title.toLower());
        QMap<QString, QVariant> metadata = {{QStringLiteral("title"), title},
                                            {QStringLiteral("uri"), QStringLiteral("file:///music/%1.ogg").arg(title)}};
        song.setMetaData(metadata, nullptr, nullptr);
        m_songs << song;
    }
}

//! [answer]
template <typename A, typename B>
bool MemorySource::answer(QObject* receiver, const char* member, const A& first, const B& second)
{
    QMetaMethod method;
    if (!receiver || !member || !RovaCallbackHelper::getCallbackMethod(receiver, member, method))
        return false;
    // Answer on the next turn of the event loop, never inside the request; the
    // guard drops the answer when the receiver is gone by then.
    QPointer<QObject> guard(receiver);
    QTimer::singleShot(0, this, [guard, method, first, second]() {
        if (!guard)
            return;
        const QGenericArgument a(QMetaType::fromType<A>().name(), &first);
        const QGenericArgument b(QMetaType::fromType<B>().name(), &second);
        if (method.parameterCount() >= 2)
            method.invoke(guard, Qt::DirectConnection, a, b);
        else
            method.invoke(guard, Qt::DirectConnection, a);
    });
    return true;
}

void MemorySource::fail(QObject* receiver, const char* errorSlot, RovaError::Code code, const QString& message)
{
    if (errorSlot && RovaCallbackHelper::checkErrorCallback(receiver, errorSlot))
        answer(receiver, errorSlot, RovaError(code, message));
}
//! [answer]

//! [browse]
uint MemorySource::browse(const QString& objectId, uint offset, uint count,
                          QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    // Only the root container ("" or "/") exists here.
    if (!objectId.isEmpty() && objectId != QLatin1String("/")) {
        fail(receiver, errorSlot, RovaError::SourceInvalidObjectId, QStringLiteral("no container ") + objectId);
        return 0;
    }
    const QList<RovaContent> batch = m_songs.mid(offset, count ? qsizetype(count) : -1);
    const uint id = ++m_lastRequest;
    if (!answer(receiver, resultSlot, batch, id))
        return 0;
    QTimer::singleShot(0, this, &MemorySource::browseCompleted); // after the last batch
    return id;
}
//! [browse]

uint MemorySource::query(const QString& searchString, const QString&,
                         QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    if (searchString.isEmpty()) {
        fail(receiver, errorSlot, RovaError::SourceInvalidSearchString, QStringLiteral("empty search"));
        return 0;
    }
    QList<RovaContent> found;
    for (const RovaContent& song : std::as_const(m_songs)) {
        if (song.metaData(QStringLiteral("title")).toString().contains(searchString, Qt::CaseInsensitive))
            found << song;
    }
    const uint id = ++m_lastRequest;
    return answer(receiver, resultSlot, found, id) ? id : 0;
}

bool MemorySource::getMetadata(const QString& objectId, const QStringList& keys,
                               QObject* receiver, const char* resultSlot, const char* errorSlot)
{
    for (const RovaContent& song : std::as_const(m_songs)) {
        if (song.uuid() != objectId)
            continue;
        RovaContent result(song.uuid());
        QMap<QString, QVariant> metadata = song.metaData();
        for (auto it = metadata.begin(); it != metadata.end();)
            it = keys.isEmpty() || keys.contains(it.key()) ? std::next(it) : metadata.erase(it);
        result.setMetaData(metadata, nullptr, nullptr);
        return answer(receiver, resultSlot, result);
    }
    fail(receiver, errorSlot, RovaError::SourceObjectIdNotAvailable, QStringLiteral("no object ") + objectId);
    return false;
}

bool MemorySource::destroyObject(const QString& objectId, QObject* receiver, const char*, const char* errorSlot)
{
    // Nothing here can be deleted.
    fail(receiver, errorSlot, RovaError::SourceDestroyObjectFailed, QStringLiteral("read-only: ") + objectId);
    return false;
}
