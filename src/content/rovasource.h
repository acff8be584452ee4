// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASOURCE_H
#define ROVASOURCE_H

#include "rova_export.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class RovaContent;

/*!
    Abstract base of every content source a plugin provides: a media library, a
    file system, a remote service. The library only identifies sources; browsing
    and querying are the plugin's.

    Results of browse(), query() and getMetadata() arrive asynchronously in a
    slot the caller names (Qt's SLOT() form). Failures go to the error slot,
    "errorResult(const RovaError&)", with one of the RovaError::Source... codes.

    Ownership: a plugin creates its sources and adds them to the registry, which
    becomes their parent and owner.
*/
class ROVA_EXPORT RovaSource : public QObject
{
    Q_OBJECT
    /*! The human-readable name; read-only through the property system. */
    Q_PROPERTY(QString name READ name)

public:
    /*!
        Creates a source with the unique identifier \a uuid for the plugin \a pluginName, as a child
        of \a parent (usually null: the registry becomes the parent when the source is added). The
        name starts empty.
    */
    RovaSource(QObject* parent, const QString& uuid, const QString& pluginName);
    ~RovaSource() override;

    /*! Replaces the uuid; emits nothing. */
    void setUuid(QString uuid);
    /*! Replaces the name and emits nameChanged(), also when it is unchanged. */
    void setName(QString name);

    /*!
        The source uuid of an item identifier: everything before the first "::",
        or the whole identifier when it has none.
    */
    static QString parseSourceId(QString id);

    /*! The unique identifier; item identifiers of this source start with it. */
    virtual QString uuid() const;
    /*! The name of the plugin that created the source. */
    virtual QString pluginName() const;
    /*! The human-readable name set with setName(). */
    virtual QString name() const;

    /*!
        Starts listing the children of the container \a objectId, at most \a count
        of them (0: all) from \a offset on. Each batch of items goes to
        \a resultSlot, "browseResults(const QList<RovaContent>&, uint browseId)";
        browseCompleted() follows the last. Returns the browse id that
        cancelBrowse() takes, or 0 when the request was refused at once.
    */
    virtual uint browse(const QString& objectId, uint offset, uint count,
                        QObject* receiver, const char* resultSlot, const char* errorSlot) = 0;
    /*! Stops the browse \a browseId; does nothing unless a source overrides it. */
    virtual void cancelBrowse(uint browseId);

    /*!
        Starts a search of the whole source for items matching \a searchString,
        ordered by \a sortString. Items go to \a resultSlot,
        "queryResults(const QList<RovaContent>&, uint queryId)". Returns the query
        id that cancelQuery() takes, or 0 when the request was refused at once.
    */
    virtual uint query(const QString& searchString, const QString& sortString,
                       QObject* receiver, const char* resultSlot, const char* errorSlot) = 0;
    /*! Stops the query \a queryId; does nothing unless a source overrides it. */
    virtual void cancelQuery(uint queryId);

    /*!
        Fetches the values of \a keys (all the source knows when empty) for the
        object \a objectId and hands them, as one RovaContent, to \a resultSlot,
        "metadataResult(const RovaContent&)". Returns false when refused at once.
    */
    virtual bool getMetadata(const QString& objectId, const QStringList& keys,
                             QObject* receiver, const char* resultSlot, const char* errorSlot) = 0;
    /*!
        Deletes the object \a objectId from the source (a stored playlist, a
        file), then calls \a resultSlot, "destroyResult(const QString& objectId)".
        Returns false when refused at once.
    */
    virtual bool destroyObject(const QString& objectId,
                               QObject* receiver, const char* resultSlot, const char* errorSlot) = 0;

Q_SIGNALS:
    /*! The children of the container \a object changed; browse it again to see them. */
    void containerChanged(const RovaContent& object);
    /*! The metadata of \a object changed; \a object carries the new values. */
    void metadataChanged(const RovaContent& object);
    /*! Emitted by setName() with the new name. */
    void nameChanged(QString& name);
    /*! The last batch of the current browse has been delivered. */
    void browseCompleted();
    /*! The source property \a name is now \a value; emitted by sources that have properties. */
    void rovaPropertyChanged(const QString& name, const QVariant& value);

private:
    QString m_pluginName;
    QString m_uuid;
    QString m_name;
};

#endif // ROVASOURCE_H
