// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaquicksong.h"

#include <rovacontent.h>
#include <rovaregistry.h>

#include <QUrl>

RovaQuickSong RovaQuickSong::fromContent(const RovaContent& content)
{
    RovaQuickSong song;
    song.id = content.uuid().section(QStringLiteral("::"), 1);
    song.title = content.metaData(QStringLiteral("title")).toString();
    song.artist = content.metaData(QStringLiteral("artist")).toString();
    song.album = content.metaData(QStringLiteral("album")).toString();
    const QVariant uri = content.metaData(QStringLiteral("uri"));
    song.location = uri.typeId() == QMetaType::QUrl ? QString::fromUtf8(uri.toUrl().toEncoded()) : uri.toString();
    song.duration = content.metaData(QStringLiteral("duration")).toInt();
    song.trackNumber = content.metaData(QStringLiteral("track-number")).toInt();
    return song;
}

QVariant RovaQuickSongRoles::value(const RovaQuickSong& song, int role)
{
    switch (role) {
    case Title: return song.title;
    case Artist: return song.artist;
    case Album: return song.album;
    case Duration: return song.duration;
    case TrackNumber: return song.trackNumber;
    case Location: return song.location;
    default: return QVariant();
    }
}

QHash<int, QByteArray> RovaQuickSongRoles::names(bool current)
{
    QHash<int, QByteArray> roles{{Title, "title"}, {Artist, "artist"}, {Album, "album"},
                                 {Duration, "duration"}, {TrackNumber, "trackNumber"}, {Location, "location"}};
    if (current)
        roles.insert(IsCurrent, "isCurrent");
    return roles;
}

int RovaQuickSongRoles::byName(const QString& name)
{
    const QHash<int, QByteArray> roles = names(true);
    for (auto it = roles.cbegin(); it != roles.cend(); ++it) {
        if (QLatin1String(it.value()) == name)
            return it.key();
    }
    return 0;
}

RovaRegistry* rovaQuickRegistry()
{
    RovaRegistry* registry = RovaRegistry::instance();
    // Once per registry: a registry made again after the old one went loads again.
    if (!registry->property("rovaQuickLoaded").toBool()) {
        registry->setProperty("rovaQuickLoaded", true);
        if (registry->loadedPlugins().isEmpty())
            registry->loadPlugins();
    }
    return registry;
}
