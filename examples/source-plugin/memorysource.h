// SPDX-License-Identifier: LGPL-2.1-or-later
// A content source over a few songs kept in memory. It shows what every source
// plugin does: check the caller's slots, accept or refuse a request at once, and
// answer later, on the next turn of the event loop, through those slots.
#ifndef MEMORYSOURCE_H
#define MEMORYSOURCE_H

#include <rovacontent.h>
#include <rovaerror.h>
#include <rovasource.h>

#include <QByteArray>
#include <QList>
#include <QPointer>

//! [class]
class MemorySource : public RovaSource
{
    Q_OBJECT

public:
    explicit MemorySource(const QString& pluginName);

    uint browse(const QString& objectId, uint offset, uint count,
                QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    uint query(const QString& searchString, const QString& sortString,
               QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    bool getMetadata(const QString& objectId, const QStringList& keys,
                     QObject* receiver, const char* resultSlot, const char* errorSlot) override;
    bool destroyObject(const QString& objectId,
                       QObject* receiver, const char* resultSlot, const char* errorSlot) override;

private:
    // Calls the slot \a member of \a receiver later with \a first (and \a second
    // when the slot takes it); false when the slot does not exist.
    template <typename A, typename B = int>
    bool answer(QObject* receiver, const char* member, const A& first, const B& second = B());
    void fail(QObject* receiver, const char* errorSlot, RovaError::Code code, const QString& message);

    QList<RovaContent> m_songs;
    uint m_lastRequest = 0;
};
//! [class]

#endif // MEMORYSOURCE_H
