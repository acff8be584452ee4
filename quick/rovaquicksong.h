// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAQUICKSONG_H
#define ROVAQUICKSONG_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

class RovaContent;
class RovaRegistry;

/*! One song as the QML types hold it: the source's metadata, flat. */
struct RovaQuickSong
{
    QString id; // the object id within its source
    QString title;
    QString artist;
    QString album;
    QString location; // the file URL as the source gives it
    int duration = 0; // seconds
    int trackNumber = 0;

    static RovaQuickSong fromContent(const RovaContent& content);
};

/*! The song roles the library and the queue share, in their column order. */
namespace RovaQuickSongRoles {
enum Role : int {
    Title = 0x100 + 1, // Qt::UserRole + 1
    Artist,
    Album,
    Duration,
    TrackNumber,
    Location,
    IsCurrent, // the queue's own
};
/*! The value of \a role for \a song; invalid for IsCurrent and unknown roles. */
QVariant value(const RovaQuickSong& song, int role);
/*! "title", "artist", "album", "duration", "trackNumber", "location" (and "isCurrent" with \a current). */
QHash<int, QByteArray> names(bool current = false);
/*! The role called \a name, or 0. */
int byName(const QString& name);
} // namespace RovaQuickSongRoles

/*! The registry with the plugins loaded: loaded once, by the first QML type that needs them. */
RovaRegistry* rovaQuickRegistry();

#endif // ROVAQUICKSONG_H
