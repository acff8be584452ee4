// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVACONTENT_H
#define ROVACONTENT_H

#include "rova_export.h"

#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

class QObject;

/*!
    A media item as a source or a playlist reports it: an identifier and one
    value per metadata key. An item identifier is the source's uuid, "::" and the
    source's own id of the object. A plain value type; copies are independent.
*/
class ROVA_EXPORT RovaContent
{
public:
    RovaContent();
    /*! An item with the identifier \a uuid and no metadata. */
    explicit RovaContent(const QString& uuid);
    /*! A copy of \a other. */
    RovaContent(const RovaContent& other);
    /*! Makes this item a copy of \a other. */
    RovaContent& operator=(const RovaContent& other);
    ~RovaContent();

    /*!
        The item identifier: the source's uuid, "::" and the source's object id (see
        RovaSource::parseSourceId()).
    */
    QString uuid() const;

    /*! A copy of the whole metadata map. */
    QMap<QString, QVariant> metaData() const;
    /*! The value stored under \a key; an invalid QVariant when there is none. */
    QVariant metaData(QString key) const;

    /*!
        Replaces the whole metadata map by \a metadata. \a receiver and \a member
        are not used: nothing is called or connected, and both may be null.
    */
    void setMetaData(QMap<QString, QVariant>& metadata, const QObject* receiver, const char* member);

private:
    QString m_uuid;
    QMap<QString, QVariant> m_metadata;
};

Q_DECLARE_METATYPE(RovaContent)

#endif // ROVACONTENT_H
