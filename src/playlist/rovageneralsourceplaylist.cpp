// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovageneralsourceplaylist.h"

#include <QAbstractItemModel>
#include <QDebug>

const QString RovaGeneralSourcePlaylist::ROVA_TRACKER_SOURCE = QStringLiteral("RovaTrackerSource");

class RovaGeneralSourcePlaylistPrivate : public QObject
{
public:
    RovaGeneralSourcePlaylistPrivate(RovaGeneralSourcePlaylist& owner, const QString& uuid)
        : q(owner)
        , sourceUuid(uuid)
    {
    }

    RovaGeneralSourcePlaylist& q;
    QString sourceUuid;
};

RovaGeneralSourcePlaylist::RovaGeneralSourcePlaylist(const QString& id, const QString& name,
                                                     const QString& sourceUuid)
    : RovaPlaylistBase(id, name)
    , d(new RovaGeneralSourcePlaylistPrivate(*this, sourceUuid))
{
}

RovaGeneralSourcePlaylist::~RovaGeneralSourcePlaylist()
{
    delete d;
}

RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int index)
{
    RovaMediaInfo info;
    QAbstractItemModel* presented = model();
    const QVariant objectId = presented->data(presented->index(index, 0), Qt::DisplayRole);
    if (objectId.isNull()) {
        qWarning() << "virtual RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int)" << index
                   << "invalid index";
        return info;
    }
    const QString identifier = QStringLiteral("%1%2%3").arg(d->sourceUuid, QStringLiteral("::"), objectId.toString());
    qDebug() << "virtual RovaMediaInfo RovaGeneralSourcePlaylist::getItemMediaInfo(int)" << index << identifier;
    info.setUuid(identifier);
    return info;
}

QString RovaGeneralSourcePlaylist::sourceUuid() const
{
    return d->sourceUuid;
}
