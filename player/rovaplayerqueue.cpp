// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaplayerqueue.h"

#include <QAbstractItemModel>
#include <QFileInfo>

namespace {

const QString uriKey = QStringLiteral("uri");

QString localPath(const RovaContent& song)
{
    const QVariant uri = song.metaData(uriKey);
    const QUrl url = uri.typeId() == QMetaType::QUrl ? uri.toUrl() : QUrl::fromEncoded(uri.toString().toUtf8());
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

RovaPlayerQueue::RovaPlayerQueue(const QStringList& arguments, QStringList* indexPaths, QStringList* skipped)
{
    QSet<QString> indexed;
    for (const QString& argument : arguments) {
        const QFileInfo info(argument);
        if (RovaPlaylistFile::formatOf(argument) == RovaPlaylistFile::UnknownFormat || !info.isFile()) {
            m_others.append(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath());
            indexPaths->append(argument);
            continue;
        }
        m_active = true;
        const RovaPlaylistFile::ReadResult result = RovaPlaylistFile::read(argument, RovaPlaylistFile::CheckLocalFiles);
        if (!result.error.isEmpty())
            skipped->append(argument + QStringLiteral(": ") + result.error);
        for (const RovaPlaylistFile::Skipped& entry : result.skipped)
            skipped->append(QStringLiteral("%1 line %2: %3").arg(argument).arg(entry.line).arg(entry.reason));
        if (result.skippedCount > result.skipped.size())
            skipped->append(QStringLiteral("%1: %2 more entries").arg(argument).arg(result.skippedCount - result.skipped.size()));
        for (RovaPlaylistFile::Entry entry : result.entries) {
            if (entry.location.isLocalFile()) {
                const QString path = entry.location.toLocalFile();
                const QString canonical = QFileInfo(path).canonicalFilePath();
                entry.location = QUrl::fromLocalFile(canonical.isEmpty() ? path : canonical);
                if (!indexed.contains(path)) { // the indexer tells which cannot be played
                    indexed.insert(path);
                    indexPaths->append(path);
                }
            } else {
                m_streams = true;
            }
            m_entries.append(entry);
        }
    }
}

QList<RovaContent> RovaPlayerQueue::order(const QList<RovaContent>& songs, const QString& search) const
{
    QHash<QString, const RovaContent*> byPath;
    for (const RovaContent& song : songs)
        byPath.insert(localPath(song), &song);
    QList<RovaContent> queue;
    for (const RovaPlaylistFile::Entry& entry : m_entries) {
        if (entry.location.isLocalFile()) {
            if (const RovaContent* song = byPath.value(entry.location.toLocalFile()))
                queue.append(*song);
            continue;
        }
        if (!search.isEmpty() && !entry.title.contains(search, Qt::CaseInsensitive) && !entry.artist.contains(search, Qt::CaseInsensitive))
            continue;
        // its own item: the title the playlist gives, else the location
        const QString location = QString::fromUtf8(entry.location.toEncoded());
        RovaContent item(RovaPlaylistFile::ROVA_PLAYLIST_FILE_SOURCE + QStringLiteral("::") + location);
        QMap<QString, QVariant> metadata{{uriKey, entry.location},
                                         {QStringLiteral("title"), entry.title.isEmpty() ? location : entry.title},
                                         {QStringLiteral("artist"), entry.artist}};
        if (entry.duration >= 0)
            metadata.insert(QStringLiteral("duration"), entry.duration);
        item.setMetaData(metadata, nullptr, nullptr);
        queue.append(item);
    }
    for (const RovaContent& song : songs) {
        const QString path = localPath(song);
        for (const QString& other : m_others) {
            if (path == other || path.startsWith(other + QLatin1Char('/'))) {
                queue.append(song);
                break;
            }
        }
    }
    return queue;
}

bool RovaPlayerQueue::save(const QString& path, const QList<RovaContent>& songs, QString* error)
{
    QList<RovaPlaylistFile::Entry> entries;
    for (const RovaContent& song : songs) {
        const QVariant uri = song.metaData(uriKey);
        const QUrl location = uri.typeId() == QMetaType::QUrl ? uri.toUrl() : QUrl::fromEncoded(uri.toString().toUtf8());
        const QVariant duration = song.metaData(QStringLiteral("duration"));
        QString title = song.metaData(QStringLiteral("title")).toString();
        if (title == QString::fromUtf8(location.toEncoded()))
            title.clear(); // named after its location only
        entries.append({location, title, song.metaData(QStringLiteral("artist")).toString(), duration.isValid() ? duration.toInt() : -1});
    }
    return RovaPlaylistFile::write(path, entries, error);
}

RovaPlayerPlaylist::RovaPlayerPlaylist(const QString& id, const QString& name, const QString& sourceUuid, const QSet<QString>& streams)
    : RovaGeneralSourcePlaylist(id, name, sourceUuid)
    , m_streams(streams)
{
}

RovaMediaInfo RovaPlayerPlaylist::getItemMediaInfo(int index)
{
    const QString objectId = model()->data(model()->index(index, 0)).toString();
    if (!m_streams.contains(objectId))
        return RovaGeneralSourcePlaylist::getItemMediaInfo(index);
    RovaMediaInfo info(RovaPlaylistFile::ROVA_PLAYLIST_FILE_SOURCE + QStringLiteral("::") + objectId);
    info.appendMetaData(uriKey, {QUrl::fromEncoded(objectId.toUtf8())});
    return info;
}
