// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QTRACKERWORKER_P_H
#define QTRACKERWORKER_P_H

#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QSparqlJob;
class QSparqlError;
typedef struct _GError GError;
typedef struct _GMainContext GMainContext;
typedef struct _GCancellable GCancellable;
typedef struct _GDBusConnection GDBusConnection;
typedef struct _TrackerSparqlConnection TrackerSparqlConnection;

/* Where the "QTRACKER" driver finds its store. */
struct QTrackerStoreLocation
{
    enum Kind { Bus, Database };
    Kind kind = Bus;
    QString name; // bus name or database directory
};

/*
    Runs libtracker-sparql on a thread of its own, with its own GLib main
    context, so that Tracker's GLib machinery works whatever event dispatcher
    the application's Qt uses. Jobs run one after another in the order they
    were queued; each job's completion is posted to its result's thread.
    The store is opened on the first job (and again after a failure). A query
    whose endpoint went away is asked once more on a new connection.

    Destroying the worker cancels the running job, completes every job that
    has not run with a ConnectionError and joins the thread.
*/
class QTrackerWorker
{
public:
    explicit QTrackerWorker(const QTrackerStoreLocation& location);
    ~QTrackerWorker();
    QTrackerWorker(const QTrackerWorker&) = delete;
    QTrackerWorker& operator=(const QTrackerWorker&) = delete;

    void enqueue(std::shared_ptr<QSparqlJob> job);

private:
    void run();
    std::shared_ptr<QSparqlJob> takeJob();
    bool isStopping();
    void process(QSparqlJob& job);
    void run(QSparqlJob& job, const QByteArray& text, GError** error);
    bool ensureOpen(QSparqlError* error, bool reopening = false);
    void closeStore();

    const QTrackerStoreLocation m_location;
    GMainContext* m_context;
    GCancellable* m_stopCancellable; // stops opening the store

    std::mutex m_mutex;
    std::deque<std::shared_ptr<QSparqlJob>> m_queue;
    std::shared_ptr<QSparqlJob> m_current;
    bool m_stopping = false;

    // Touched only on the worker thread.
    TrackerSparqlConnection* m_tracker = nullptr;
    QString m_storeKey; // set while a shared local database is held
    GDBusConnection* m_bus = nullptr;

    std::thread m_thread;
};

#endif // QTRACKERWORKER_P_H
