// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAGENERALSOURCEPLAYLIST_H
#define ROVAGENERALSOURCEPLAYLIST_H

#include "rova_export.h"
#include "rovaplaylistbase.h"

class RovaGeneralSourcePlaylistPrivate;

/*!
    A playlist of items that all come from one content source. The first column
    of the underlying model holds each item's object id within that source; the
    item identifier is the source uuid, "::" and that id.
*/
class ROVA_EXPORT RovaGeneralSourcePlaylist : public RovaPlaylistBase
{
    Q_OBJECT

public:
    /*! "RovaTrackerSource", a source uuid for items of the Tracker store. */
    static const QString ROVA_TRACKER_SOURCE;

    /*!
        Creates an empty playlist with the id \a id and the name \a name for items of the source \a
        sourceUuid; give it a model with setUnderlyingModel().
    */
    RovaGeneralSourcePlaylist(const QString& id, const QString& name, const QString& sourceUuid);
    ~RovaGeneralSourcePlaylist() override;

    /*!
        The item at presented position \a index: its identifier and no metadata;
        an empty identifier when there is no such item.
    */
    RovaMediaInfo getItemMediaInfo(int index) override;
    /*! The uuid of the source the items come from, as given to the constructor. */
    QString sourceUuid() const;

private:
    RovaGeneralSourcePlaylistPrivate* const d;
};

#endif // ROVAGENERALSOURCEPLAYLIST_H
