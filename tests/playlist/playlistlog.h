// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef PLAYLISTLOG_H
#define PLAYLISTLOG_H

#include <rovaplaylist.h>

#include <QObject>
#include <QStringList>

// Records a playlist's contentsChanged and playlistUpdated in the order they
// come, as "c(from,removed,inserted)" and "u(update,index)", one string.
class PlaylistLog
{
public:
    explicit PlaylistLog(RovaPlaylist* playlist)
    {
        QObject::connect(playlist, &RovaPlaylist::contentsChanged, &m_context, [this](uint from, uint removed, uint inserted) {
            m_entries.append(QStringLiteral("c(%1,%2,%3)").arg(from).arg(removed).arg(inserted));
        });
        QObject::connect(playlist, &RovaPlaylist::playlistUpdated, &m_context,
                         [this](RovaPlaylist::RovaPlaylistUpdate update, int index) {
                             m_entries.append(QStringLiteral("u(%1,%2)").arg(int(update)).arg(index));
                         });
    }

    QString text() const { return m_entries.join(QLatin1Char(' ')); }
    QString take()
    {
        const QString result = text();
        m_entries.clear();
        return result;
    }

private:
    QObject m_context; // ends the connections with the log
    QStringList m_entries;
};

#endif // PLAYLISTLOG_H
