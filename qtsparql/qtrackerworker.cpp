// SPDX-License-Identifier: LGPL-2.1-or-later
#include "qtrackerworker_p.h"
#include "qsparqlresult_p.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <libtracker-sparql/tracker-sparql.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <pthread.h>

namespace {

QString abandonedMessage()
{
    return QStringLiteral("The connection was closed before the query finished");
}

QString fromGError(const GError* error)
{
    return QString::fromUtf8(error->message);
}

QSparqlCell::Type cellType(TrackerSparqlValueType type)
{
    switch (type) {
    case TRACKER_SPARQL_VALUE_TYPE_UNBOUND: return QSparqlCell::Unbound;
    case TRACKER_SPARQL_VALUE_TYPE_URI: return QSparqlCell::Uri;
    case TRACKER_SPARQL_VALUE_TYPE_STRING: return QSparqlCell::String;
    case TRACKER_SPARQL_VALUE_TYPE_INTEGER: return QSparqlCell::Integer;
    case TRACKER_SPARQL_VALUE_TYPE_DOUBLE: return QSparqlCell::Double;
    case TRACKER_SPARQL_VALUE_TYPE_DATETIME: return QSparqlCell::DateTime;
    case TRACKER_SPARQL_VALUE_TYPE_BLANK_NODE: return QSparqlCell::BlankNode;
    case TRACKER_SPARQL_VALUE_TYPE_BOOLEAN: return QSparqlCell::Boolean;
    }
    return QSparqlCell::String;
}

/* Local databases are opened once per process and shared by every connection
   that names the same directory: Tracker keeps one writer per database, and two
   connections on one directory would trip over each other's lock file. Tracker
   connections may be used from several threads at once.

   Opening and closing happen outside the table's lock, so that a slow open
   (creating a fresh store takes a while) holds up nobody but the later users of
   the same directory, who wait for that open or close alone. */
struct SharedLocalStore
{
    TrackerSparqlConnection* connection = nullptr;
    int users = 0;
    bool busy = false; // being opened or closed by one thread, without the lock
};

// Never destroyed: a connection that outlives static destruction still finds them.
std::mutex& localStoresMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::condition_variable& localStoresChanged()
{
    static auto* condition = new std::condition_variable;
    return *condition;
}

std::map<QString, SharedLocalStore>& localStores()
{
    static auto* stores = new std::map<QString, SharedLocalStore>;
    return *stores;
}

void wakeLocalStoreWaiters(GCancellable*, gpointer)
{
    // Taking the lock orders this after a waiter's look at its cancellable.
    { std::lock_guard<std::mutex> lock(localStoresMutex()); }
    localStoresChanged().notify_all();
}

TrackerSparqlConnection* acquireLocalStore(const QString& directory, GCancellable* cancellable, GError** error)
{
    // A stop also ends the wait for somebody else's open; connected before
    // the lock is taken, because the callback takes it.
    const gulong wakeUp = g_cancellable_connect(cancellable, G_CALLBACK(wakeLocalStoreWaiters), nullptr, nullptr);
    const auto disconnect = qScopeGuard([&] { g_cancellable_disconnect(cancellable, wakeUp); });

    std::unique_lock<std::mutex> lock(localStoresMutex());
    std::map<QString, SharedLocalStore>& stores = localStores();
    localStoresChanged().wait(lock, [&] {
        const auto it = stores.find(directory);
        return it == stores.end() || !it->second.busy || g_cancellable_is_cancelled(cancellable);
    });
    if (g_cancellable_set_error_if_cancelled(cancellable, error))
        return nullptr;
    SharedLocalStore& shared = stores[directory];
    if (shared.connection) {
        ++shared.users;
        return shared.connection;
    }

    // Nobody else touches a busy entry, so it stays where it is meanwhile.
    shared.busy = true;
    lock.unlock();
    GFile* store = g_file_new_for_path(QFile::encodeName(directory).constData());
    GFile* ontology = tracker_sparql_get_ontology_nepomuk();
    TrackerSparqlConnection* connection =
        tracker_sparql_connection_new(TRACKER_SPARQL_CONNECTION_FLAGS_NONE, store, ontology, cancellable, error);
    g_object_unref(ontology);
    g_object_unref(store);
    lock.lock();
    if (connection) {
        shared.connection = connection;
        shared.users = 1;
        shared.busy = false;
    } else {
        stores.erase(directory);
    }
    lock.unlock();
    localStoresChanged().notify_all();
    return connection;
}

void releaseLocalStore(const QString& directory)
{
    std::unique_lock<std::mutex> lock(localStoresMutex());
    const auto it = localStores().find(directory);
    if (it == localStores().end() || --it->second.users > 0)
        return;
    // Closed without the lock; whoever wants the directory meanwhile waits
    // until the database is shut before opening it again.
    it->second.busy = true;
    TrackerSparqlConnection* connection = it->second.connection;
    lock.unlock();
    tracker_sparql_connection_close(connection);
    g_object_unref(connection);
    lock.lock();
    localStores().erase(directory);
    lock.unlock();
    localStoresChanged().notify_all();
}

} // namespace

QTrackerWorker::QTrackerWorker(const QTrackerStoreLocation& location)
    : m_location(location)
    , m_context(g_main_context_new())
    , m_stopCancellable(g_cancellable_new())
    , m_thread([this] { run(); })
{
}

QTrackerWorker::~QTrackerWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (const auto& job : m_queue)
            job->cancel();
        if (m_current)
            m_current->cancel();
    }
    g_cancellable_cancel(m_stopCancellable);
    // The worker sees m_stopping once the job in hand has returned.
    g_main_context_wakeup(m_context);
    m_thread.join();
    g_object_unref(m_stopCancellable);
    g_main_context_unref(m_context);
}

void QTrackerWorker::enqueue(std::shared_ptr<QSparqlJob> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(job));
    }
    // Ends the worker's poll, or makes its next one return at once.
    g_main_context_wakeup(m_context);
}

std::shared_ptr<QSparqlJob> QTrackerWorker::takeJob()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current.reset();
    if (m_stopping || m_queue.empty())
        return nullptr;
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    return m_current;
}

bool QTrackerWorker::isStopping()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
}

void QTrackerWorker::run()
{
    pthread_setname_np(pthread_self(), "qtsparql-worker");
    g_main_context_push_thread_default(m_context);
    // Between jobs the thread sleeps in its context's poll, so whatever Tracker
    // or GDBus attached to the context is served as well.
    while (!isStopping()) {
        while (std::shared_ptr<QSparqlJob> job = takeJob())
            process(*job);
        if (!isStopping())
            g_main_context_iteration(m_context, TRUE);
    }

    std::deque<std::shared_ptr<QSparqlJob>> left;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        left.swap(m_queue);
    }
    for (const auto& job : left)
        job->completeWithError(QSparqlError(abandonedMessage(), QSparqlError::ConnectionError));
    closeStore();
    // Let what closing the store scheduled on this context run before it goes.
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_main_context_pop_thread_default(m_context);
}

void QTrackerWorker::process(QSparqlJob& job)
{
    if (job.isCancelled()) {
        job.completeWithError(QSparqlError(abandonedMessage(), QSparqlError::ConnectionError));
        return;
    }
    QSparqlError openError;
    if (!ensureOpen(&openError)) {
        if (job.isCancelled())
            openError = QSparqlError(abandonedMessage(), QSparqlError::ConnectionError);
        job.completeWithError(openError);
        return;
    }

    const QByteArray text = job.query.preparedQueryText().toUtf8();
    GError* error = nullptr;
    if (job.query.isUpdate()) {
        tracker_sparql_connection_update(m_tracker, text.constData(), job.cancellable, &error);
    } else if (TrackerSparqlCursor* cursor =
                   tracker_sparql_connection_query(m_tracker, text.constData(), job.cancellable, &error)) {
        while (tracker_sparql_cursor_next(cursor, job.cancellable, &error)) {
            const int columns = tracker_sparql_cursor_get_n_columns(cursor);
            QSparqlRow row;
            row.resize(columns);
            for (int i = 0; i < columns; ++i) {
                QSparqlCell& cell = row[i];
                cell.type = cellType(tracker_sparql_cursor_get_value_type(cursor, i));
                if (cell.type != QSparqlCell::Unbound) {
                    glong length = 0;
                    const gchar* value = tracker_sparql_cursor_get_string(cursor, i, &length);
                    cell.text = QString::fromUtf8(value, value ? qsizetype(length) : 0);
                }
            }
            job.rows.append(std::move(row));
        }
        g_object_unref(cursor);
    }

    if (!error) {
        job.complete();
        return;
    }

    QSparqlError result(fromGError(error), QSparqlError::BackendError, error->code);
    // However the store words it (a local one says "Interrupted" in its own
    // error domain), a call that failed on a cancelled job was abandoned.
    if (job.isCancelled() || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        result = QSparqlError(abandonedMessage(), QSparqlError::ConnectionError);
    } else if (error->domain == TRACKER_SPARQL_ERROR) {
        switch (error->code) {
        case TRACKER_SPARQL_ERROR_INTERNAL:
        case TRACKER_SPARQL_ERROR_NO_SPACE:
        case TRACKER_SPARQL_ERROR_OPEN_ERROR:
        case TRACKER_SPARQL_ERROR_ONTOLOGY_NOT_FOUND:
            break;
        default:
            result.setType(QSparqlError::StatementError);
            break;
        }
    } else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_DBUS_ERROR)) {
        // The endpoint ran the statement and sent Tracker's own complaint back.
        result.setType(QSparqlError::StatementError);
    } else if (m_location.kind == QTrackerStoreLocation::Bus
               && (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)) {
        g_dbus_error_strip_remote_error(error);
        result = QSparqlError(QStringLiteral("The Tracker endpoint \"%1\" failed: %2").arg(m_location.name, fromGError(error)),
                              QSparqlError::ConnectionError, error->code);
    }
    g_error_free(error);
    // A bus that went away is dialled again for the next query.
    if (m_bus && g_dbus_connection_is_closed(m_bus))
        closeStore();
    job.completeWithError(result);
}

bool QTrackerWorker::ensureOpen(QSparqlError* error)
{
    if (m_tracker)
        return true;

    GError* gerror = nullptr;
    if (m_location.kind == QTrackerStoreLocation::Database) {
        const QByteArray path = QFile::encodeName(m_location.name);
        if (g_mkdir_with_parents(path.constData(), 0700) != 0) {
            const int code = errno;
            *error = QSparqlError(QStringLiteral("Could not create the Tracker database directory \"%1\": %2")
                                      .arg(m_location.name, QString::fromLocal8Bit(g_strerror(code))),
                                  QSparqlError::ConnectionError, code);
            return false;
        }
        m_storeKey = QFileInfo(m_location.name).canonicalFilePath();
        m_tracker = acquireLocalStore(m_storeKey, m_stopCancellable, &gerror);
        if (!m_tracker) {
            m_storeKey.clear();
            *error = QSparqlError(QStringLiteral("Could not open the Tracker database \"%1\": %2")
                                      .arg(m_location.name, fromGError(gerror)),
                                  QSparqlError::ConnectionError, gerror->code);
            g_error_free(gerror);
            return false;
        }
        return true;
    }

    const QByteArray name = m_location.name.toUtf8();
    if (!g_dbus_is_name(name.constData()) || g_dbus_is_unique_name(name.constData())) {
        *error = QSparqlError(QStringLiteral("\"%1\" is not a valid D-Bus name for a Tracker endpoint").arg(m_location.name),
                              QSparqlError::ConnectionError);
        return false;
    }
    if (!m_bus) {
        if (gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, m_stopCancellable, &gerror)) {
            // A connection of our own: the application's shared one would end the
            // process when the bus goes away.
            m_bus = g_dbus_connection_new_for_address_sync(
                address,
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, m_stopCancellable, &gerror);
            g_free(address);
        }
        if (!m_bus) {
            *error = QSparqlError(QStringLiteral("Could not connect to the D-Bus session bus for the Tracker endpoint \"%1\": %2")
                                      .arg(m_location.name, fromGError(gerror)),
                                  QSparqlError::ConnectionError, gerror->code);
            g_error_free(gerror);
            return false;
        }
        g_dbus_connection_set_exit_on_close(m_bus, FALSE);
    }
    // Opened asynchronously on this thread's context, so that the stop
    // cancellable ends an open that an endpoint never answers.
    GAsyncResult* opened = nullptr;
    tracker_sparql_connection_bus_new_async(
        name.constData(), nullptr, m_bus, m_stopCancellable,
        [](GObject*, GAsyncResult* result, gpointer target) {
            *static_cast<GAsyncResult**>(target) = G_ASYNC_RESULT(g_object_ref(result));
        },
        &opened);
    while (!opened)
        g_main_context_iteration(m_context, TRUE);
    m_tracker = tracker_sparql_connection_bus_new_finish(opened, &gerror);
    g_object_unref(opened);
    if (!m_tracker) {
        g_dbus_error_strip_remote_error(gerror);
        *error = QSparqlError(QStringLiteral("Could not reach the Tracker endpoint \"%1\" on the session bus: %2")
                                  .arg(m_location.name, fromGError(gerror)),
                              QSparqlError::ConnectionError, gerror->code);
        g_error_free(gerror);
        if (g_dbus_connection_is_closed(m_bus))
            closeStore();
        return false;
    }
    return true;
}

void QTrackerWorker::closeStore()
{
    if (m_tracker && !m_storeKey.isEmpty()) {
        releaseLocalStore(m_storeKey);
        m_storeKey.clear();
        m_tracker = nullptr;
    } else if (m_tracker) {
        tracker_sparql_connection_close(m_tracker);
        g_object_unref(m_tracker);
        m_tracker = nullptr;
    }
    if (m_bus) {
        if (!g_dbus_connection_is_closed(m_bus))
            g_dbus_connection_close_sync(m_bus, nullptr, nullptr);
        g_object_unref(m_bus);
        m_bus = nullptr;
    }
}
