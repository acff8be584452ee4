// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaquicklibrary.h"

#include <rovacontent.h>
#include <rovageneralsourceplaylist.h>
#include <rovaregistry.h>
#include <rovasource.h>

#include <QTimer>

RovaQuickLibrary::RovaQuickLibrary(QObject* parent)
    : QAbstractListModel(parent)
    , m_sourceUuid(RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE)
{
}

RovaQuickLibrary::~RovaQuickLibrary()
{
    if (m_queryId) {
        if (RovaSource* source = RovaRegistry::instance()->source(m_sourceUuid))
            source->cancelQuery(m_queryId);
    }
}

void RovaQuickLibrary::setSourceUuid(const QString& uuid)
{
    if (uuid == m_sourceUuid)
        return;
    m_sourceUuid = uuid;
    Q_EMIT sourceUuidChanged();
    refresh();
}

void RovaQuickLibrary::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    Q_EMIT searchChanged();
    refresh();
}

void RovaQuickLibrary::componentComplete()
{
    m_complete = true;
    refresh();
}

void RovaQuickLibrary::refresh()
{
    if (!m_complete)
        return;
    RovaRegistry* registry = rovaQuickRegistry();
    if (m_queryId) { // the answer to the former question no longer counts
        if (RovaSource* former = registry->source(m_sourceUuid))
            former->cancelQuery(m_queryId);
        setQueryId(0);
    }
    if (!m_errorString.isEmpty()) {
        m_errorString.clear();
        Q_EMIT errorStringChanged();
    }
    RovaSource* source = registry->source(m_sourceUuid);
    if (!source)
        return fail(RovaError::SourcePeer, QStringLiteral("no source \"%1\" in %2").arg(m_sourceUuid, RovaRegistry::pluginDirectory()));
    const uint id = source->query(m_search, QString(), this, SLOT(queryResults(QList<RovaContent>, uint)), SLOT(queryError(RovaError)));
    if (id != 0)
        return setQueryId(id);
    // A refusal reaches the error slot on the next turn, when the source gives one.
    QTimer::singleShot(0, this, [this, search = m_search] {
        if (m_errorString.isEmpty() && !busy())
            fail(RovaError::SourceInvalidSearchString, QStringLiteral("the source refuses the search \"%1\"").arg(search));
    });
}

void RovaQuickLibrary::queryResults(const QList<RovaContent>& songs, uint queryId)
{
    if (queryId != m_queryId)
        return;
    QList<RovaQuickSong> rows;
    rows.reserve(songs.size());
    for (const RovaContent& song : songs)
        rows.append(RovaQuickSong::fromContent(song));
    setSongs(rows);
    setQueryId(0); // not busy once the rows are there
}

void RovaQuickLibrary::queryError(const RovaError& error)
{
    fail(error.code(), error.message());
    setQueryId(0);
}

void RovaQuickLibrary::fail(int code, const QString& message)
{
    setSongs({});
    m_errorString = message;
    Q_EMIT errorStringChanged();
    Q_EMIT errorOccurred(code, message);
}

void RovaQuickLibrary::setQueryId(uint id)
{
    const bool wasBusy = busy();
    m_queryId = id;
    if (busy() != wasBusy)
        Q_EMIT busyChanged();
}

void RovaQuickLibrary::setSongs(const QList<RovaQuickSong>& songs)
{
    const int before = int(m_songs.size());
    beginResetModel();
    m_songs = songs;
    endResetModel();
    if (before != m_songs.size())
        Q_EMIT countChanged();
}

int RovaQuickLibrary::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_songs.size());
}

QVariant RovaQuickLibrary::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    return RovaQuickSongRoles::value(m_songs.at(index.row()), role == Qt::DisplayRole ? int(RovaQuickSongRoles::Title) : role);
}

QHash<int, QByteArray> RovaQuickLibrary::roleNames() const
{
    return RovaQuickSongRoles::names();
}

QVariantMap RovaQuickLibrary::get(int row) const
{
    QVariantMap values;
    if (row < 0 || row >= m_songs.size())
        return values;
    const QHash<int, QByteArray> roles = roleNames();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it)
        values.insert(QString::fromLatin1(it.value()), RovaQuickSongRoles::value(m_songs.at(row), it.key()));
    return values;
}
