// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplaylist.h"

#include <QAtomicInt>
#include <QRegularExpression>
#include <QUuid>

#include <unistd.h>

namespace {

const QLatin1String playlistIdPrefix("rova");

void registerPlaylistMetaTypes()
{
    qRegisterMetaType<RovaPlaylist::RovaPlaylistUpdate>("RovaPlaylist::RovaPlaylistUpdate");
    qRegisterMetaType<RovaPlaylist::RovaSortOrder>("RovaPlaylist::RovaSortOrder");
    qRegisterMetaType<RovaPlaylist::RovaRepeatMode>("RovaPlaylist::RovaRepeatMode");
}

bool hasPlaylistIdPrefix(const QString& text)
{
    return text.startsWith(playlistIdPrefix, Qt::CaseSensitive);
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerPlaylistMetaTypes)

RovaPlaylist::RovaPlaylist(const QString& id, const QString& name)
    : QObject(nullptr)
    , m_name(name)
    , m_id(id)
{
}

RovaPlaylist::~RovaPlaylist() = default;

QString RovaPlaylist::id() const
{
    return m_id;
}

QString RovaPlaylist::name()
{
    return m_name;
}

RovaMediaInfo RovaPlaylist::getItemMediaInfo(int index)
{
    Q_UNUSED(index)
    return RovaMediaInfo();
}

bool RovaPlaylist::persistent()
{
    return m_persistent;
}

void RovaPlaylist::setPersistent(bool persistent)
{
    m_persistent = persistent;
}

QString RovaPlaylist::getNewPlaylistId()
{
    // The counter alone keeps ids of one process apart, even if two uuids collided.
    static QAtomicInt counter(0);
    static const QString pid = QString::number(::getpid());

    const int serial = counter.fetchAndAddRelaxed(1);
    return convertUuidtoPlaylistId(QUuid::createUuid().toString() + QString::number(serial) + pid);
}

QString RovaPlaylist::convertUuidtoPlaylistId(const QString& uuid)
{
    if (hasPlaylistIdPrefix(uuid))
        return uuid;
    static const QRegularExpression separators(QStringLiteral("[-{}]"));
    QString id = uuid;
    id.remove(separators);
    return playlistIdPrefix + id;
}

QString RovaPlaylist::convertPlaylistIdtoUuid(const QString& id)
{
    if (!hasPlaylistIdPrefix(id) || id.length() <= 35)
        return id;
    QString uuid = id.mid(playlistIdPrefix.size());
    for (int position : {8, 13, 18, 23})
        uuid.insert(position, QLatin1Char('-'));
    return uuid;
}
