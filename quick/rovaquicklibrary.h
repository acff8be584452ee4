// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAQUICKLIBRARY_H
#define ROVAQUICKLIBRARY_H

#include "rovaquicksong.h"

#include <rovacontent.h>
#include <rovaerror.h>

#include <QAbstractListModel>
#include <QQmlParserStatus>
#include <QtQml/qqmlregistration.h>

/*!
    The songs of a content source as a list model, in QML `Library`: every song
    the source finds for `search` (all of them while it is empty), with the roles
    title, artist, album, duration (seconds), trackNumber and location.

    The source is the Tracker source unless `sourceUuid` names another one of the
    registry. The source is asked once per change of `search` or `sourceUuid`;
    `busy` is true until it answers, and the rows are replaced at once then. A
    failure leaves the rows empty and emits errorOccurred(code, message) with a
    RovaError code.
*/
class RovaQuickLibrary : public QAbstractListModel, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_NAMED_ELEMENT(Library)
    Q_PROPERTY(QString sourceUuid READ sourceUuid WRITE setSourceUuid NOTIFY sourceUuidChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY errorStringChanged)

public:
    explicit RovaQuickLibrary(QObject* parent = nullptr);
    ~RovaQuickLibrary() override;

    QString sourceUuid() const { return m_sourceUuid; }
    void setSourceUuid(const QString& uuid);
    QString search() const { return m_search; }
    void setSearch(const QString& search);
    bool busy() const { return m_queryId != 0; }
    QString errorString() const { return m_errorString; }

    /*! The songs in row order; implicitly shared. */
    QList<RovaQuickSong> songs() const { return m_songs; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /*! The row \a row as an object of its roles; empty when there is no such row. */
    Q_INVOKABLE QVariantMap get(int row) const;
    /*! Asks the source again. */
    Q_INVOKABLE void refresh();

    void classBegin() override { }
    void componentComplete() override;

Q_SIGNALS:
    void sourceUuidChanged();
    void searchChanged();
    void countChanged();
    void busyChanged();
    void errorStringChanged();
    /*! The source could not be asked or refused: \a code is a RovaError code. */
    void errorOccurred(int code, const QString& message);

private Q_SLOTS:
    void queryResults(const QList<RovaContent>& songs, uint queryId);
    void queryError(const RovaError& error);

private:
    void setSongs(const QList<RovaQuickSong>& songs);
    void fail(int code, const QString& message);
    void setQueryId(uint id);

    QList<RovaQuickSong> m_songs;
    QString m_sourceUuid;
    QString m_search;
    QString m_errorString;
    uint m_queryId = 0;
    bool m_complete = false;
};

#endif // ROVAQUICKLIBRARY_H
