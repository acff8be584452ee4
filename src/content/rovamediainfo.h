// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAMEDIAINFO_H
#define ROVAMEDIAINFO_H

#include "rova_export.h"

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

class RovaContent;

/*!
    A media item as a renderer consumes it: an identifier and an ordered list of
    values per metadata key. The renderer reads "uri" to decide whether an item
    can be played. A plain value type; copies are independent.
*/
class ROVA_EXPORT RovaMediaInfo
{
public:
    RovaMediaInfo();
    /*! A media info for the item identifier \a uuid, without metadata. */
    explicit RovaMediaInfo(const QString& uuid);
    /*! A copy of \a other. */
    RovaMediaInfo(const RovaMediaInfo& other);
    /*! The content's uuid and its metadata, each value as a one-element list. */
    RovaMediaInfo(const RovaContent& content);
    /*! Makes this media info a copy of \a other. */
    RovaMediaInfo& operator=(const RovaMediaInfo& other);
    /*!
        Takes the content's uuid and merges its metadata in: keys the content has
        get a one-element list, keys only this object had keep their lists.
    */
    RovaMediaInfo& operator=(const RovaContent& content);
    ~RovaMediaInfo();

    /*! The item identifier: the source's uuid, "::" and the source's object id. */
    QString uuid() const;
    /*! Replaces the item identifier; the metadata stays. */
    void setUuid(const QString& uuid);

    /*! Every key with its list of values; valid as long as this object is not changed. */
    const QMap<QString, QList<QVariant>>& metaData() const;
    /*! A copy of the list under \a key; empty when there is none. */
    QList<QVariant> metaData(const QString& key) const;
    /*! The first value under \a key; an invalid QVariant when there is none. */
    QVariant firstMetaData(const QString& key) const;

    /*! Stores \a values under \a key, replacing (not extending) any earlier list. */
    void appendMetaData(QString key, QList<QVariant> values);
    /*! Removes \a key and its values; nothing happens when there is no such key. */
    void removeMetaData(QString key);
    /*! Replaces the whole metadata map. */
    void setMetaData(const QMap<QString, QList<QVariant>>& metadata);
    /*! Merges single values in; the uuid and keys not in \a metadata are kept. */
    void setMetaData(const QMap<QString, QVariant>& metadata);
    /*! Stores each value of \a metadata as a one-element list under its key. */
    void extractSingleValueMetadata(const QMap<QString, QVariant>& metadata);

    /*! True when the uuid is not empty. */
    bool isValid();
    /*! True when the first value under "uri" converts to a non-empty URL. */
    bool isPlayable() const;

private:
    QString m_uuid;
    QMap<QString, QList<QVariant>> m_metadata;
};

Q_DECLARE_METATYPE(RovaMediaInfo)

#endif // ROVAMEDIAINFO_H
