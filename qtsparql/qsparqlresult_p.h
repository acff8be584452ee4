// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef QSPARQLRESULT_P_H
#define QSPARQLRESULT_P_H

#include "QtSparql/qsparqlerror.h"
#include "QtSparql/qsparqlquery.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>

class QSparqlResult;
typedef struct _GCancellable GCancellable;

/* One cell as the store gave it: its text and the store's value type. */
struct QSparqlCell
{
    enum Type : quint8 { Unbound, Uri, String, Integer, Double, DateTime, BlankNode, Boolean };
    QString text;
    Type type = Unbound;
};
using QSparqlRow = QList<QSparqlCell>;

/*
    One query on its way through a connection. Shared between the result that
    waits for it and the worker thread that runs it. The worker writes rows and
    error, then calls complete(); after that only the result's thread touches
    them. The result detaches itself (receiver = nullptr) when it is deleted, so
    a completion never reaches freed memory.
*/
class QSparqlJob
{
public:
    QSparqlJob(const QSparqlQuery& query, QSparqlResult* receiver);
    ~QSparqlJob();
    QSparqlJob(const QSparqlJob&) = delete;
    QSparqlJob& operator=(const QSparqlJob&) = delete;

    const QSparqlQuery query;
    GCancellable* const cancellable;

    QList<QSparqlRow> rows;
    QSparqlError error;

    /* Marks the job done, wakes waiters and posts the delivery to the receiver. */
    void complete();
    void completeWithError(const QSparqlError& error);
    /* Called by the result's destructor: no delivery after this returns. */
    void detach();
    void cancel();
    bool isCancelled() const;
    /* Blocks until complete() ran. */
    void wait();
    bool isDone();

private:
    std::mutex m_mutex;
    std::condition_variable m_doneCondition;
    bool m_done = false;
    QSparqlResult* m_receiver;
};

class QSparqlResultPrivate
{
public:
    QSparqlResultPrivate(QSparqlResult* q, const QSparqlQuery& query);

    /* Takes the finished job's rows and error; emits finished() when asked. */
    static void deliver(QSparqlResult* q, bool emitFinished);

    QSparqlResult* const q;
    std::shared_ptr<QSparqlJob> job;
    QSparqlQuery query;
    QList<QSparqlRow> rows;
    QSparqlError error;
    int pos = -1;
    bool finished = false;

    const QSparqlCell* cell(int column) const;
};

#endif // QSPARQLRESULT_P_H
