// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVATRACKERFIXTURE_H
#define ROVATRACKERFIXTURE_H

#include <QProcess>
#include <QTemporaryDir>

#include <optional>

class QSparqlConnection;

/*!
    A local Tracker store in a temporary directory, seeded with media items:
    item() tells what the store holds for an index. Items whose index is 3 modulo 4
    have no usage counter and no duration, so the optional part of a lookup stays unbound.
*/
class RovaTrackerFixture
{
public:
    struct Item
    {
        QString objectId, url, title;
        bool hasCounts = false;
        int playCount = 0, duration = 0;
    };

    explicit RovaTrackerFixture(int count);
    ~RovaTrackerFixture();

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("store")); }

    /*! Points connections with default options at this store through
        QSPARQL_TRACKER_DATABASE, until destruction restores the old value. */
    void makeDefault();

    static Item item(int index);
    /*! Seeds \a count items through \a connection; false with \a error set on failure. */
    static bool seed(QSparqlConnection& connection, int count, QString* error = nullptr);

private:
    QTemporaryDir m_dir;
    QString m_error;
    bool m_madeDefault = false;
    std::optional<QByteArray> m_oldDefault;
};

/*!
    A private D-Bus session bus with a real "tracker3 endpoint" on it, serving a store in a
    temporary directory under a bus name. Both processes die with the test process at the latest.
*/
class RovaTrackerEndpoint
{
public:
    ~RovaTrackerEndpoint() { stop(); }

    bool start(const QString& busName, int timeoutMs = 20000);
    void stop() { end(m_endpoint), end(m_bus); }
    void stopEndpoint() { end(m_endpoint); } // the bus stays up

    QString busAddress() const { return m_address; }
    QString errorString() const { return m_error; }
    qint64 busProcessId() const { return m_bus.processId(); }
    qint64 endpointProcessId() const { return m_endpoint.processId(); }

    static void end(QProcess& process);

protected:
    bool fail(const QString& message);

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_endpoint;
    QString m_address;
    QString m_error;
};

/*!
    The desktop's files miner (tracker-miner-fs-3) and its extractor (tracker-extract-3), D-Bus
    activatable on a private session bus with a private home, TMPDIR, XDG directories and
    settings, indexing one folder. The bus dies with the test process at the latest, the
    miner and the extractor with their bus; no endpoint of its own runs.
*/
class RovaTrackerMiner : public RovaTrackerEndpoint
{
public:
    /*! Has the miner index \a folder (outside the fixture's TMPDIR) once it runs. */
    bool start(const QString& folder);
    /*! The process owning \a busName on this bus, when it is \a program started by this bus; 0 otherwise. */
    qint64 processId(const QString& busName = QStringLiteral("org.freedesktop.Tracker3.Miner.Files"),
                     const QString& program = QStringLiteral("/usr/libexec/tracker-miner-fs-3")) const;
    /*! Makes the miner no longer activatable: a miner that goes away stays away. */
    bool removeMinerService();
};

#endif // ROVATRACKERFIXTURE_H
