// SPDX-License-Identifier: LGPL-2.1-or-later
#include "QtSparql/qsparqlresult.h"
#include "qsparqlresult_p.h"

#include <QDateTime>
#include <QMetaObject>
#include <QUrl>

#include <gio/gio.h>

// ---------------------------------------------------------------------------
// QSparqlJob

QSparqlJob::QSparqlJob(const QSparqlQuery& query, QSparqlResult* receiver)
    : query(query)
    , cancellable(g_cancellable_new())
    , m_receiver(receiver)
{
}

QSparqlJob::~QSparqlJob()
{
    g_object_unref(cancellable);
}

void QSparqlJob::complete()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_done)
        return;
    m_done = true;
    m_doneCondition.notify_all();
    // Posted while the lock is held: the receiver cannot finish detach() and
    // be freed before the event is queued, and ~QObject drops the event then.
    if (QSparqlResult* receiver = m_receiver) {
        QMetaObject::invokeMethod(
            receiver, [receiver] { QSparqlResultPrivate::deliver(receiver, true); }, Qt::QueuedConnection);
    }
}

void QSparqlJob::completeWithError(const QSparqlError& e)
{
    rows.clear();
    error = e;
    complete();
}

void QSparqlJob::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_receiver = nullptr;
}

void QSparqlJob::cancel()
{
    g_cancellable_cancel(cancellable);
}

bool QSparqlJob::isCancelled() const
{
    return g_cancellable_is_cancelled(cancellable);
}

void QSparqlJob::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_doneCondition.wait(lock, [this] { return m_done; });
}

bool QSparqlJob::isDone()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_done;
}

// ---------------------------------------------------------------------------
// QSparqlResult

QSparqlResultPrivate::QSparqlResultPrivate(QSparqlResult* q, const QSparqlQuery& query)
    : q(q)
    , query(query)
{
}

void QSparqlResultPrivate::deliver(QSparqlResult* q, bool emitFinished)
{
    QSparqlResultPrivate* d = q->d.get();
    if (d->finished)
        return;
    d->job->wait(); // already done; orders the worker's writes before our reads
    d->rows = std::move(d->job->rows);
    d->error = d->job->error;
    d->pos = QSparql::BeforeFirstRow;
    d->finished = true;
    if (emitFinished)
        Q_EMIT q->finished();
}

const QSparqlCell* QSparqlResultPrivate::cell(int column) const
{
    if (pos < 0 || pos >= rows.size())
        return nullptr;
    const QSparqlRow& row = rows.at(pos);
    if (column < 0 || column >= row.size())
        return nullptr;
    return &row.at(column);
}

QSparqlResult::QSparqlResult(const QSparqlQuery& query)
    : d(new QSparqlResultPrivate(this, query))
{
    d->job = std::make_shared<QSparqlJob>(query, this);
}

QSparqlResult::~QSparqlResult()
{
    d->job->detach();
    d->job->cancel();
}

QString QSparqlResult::query() const
{
    return d->query.preparedQueryText();
}

bool QSparqlResult::next()
{
    if (!d->finished || d->pos == QSparql::AfterLastRow)
        return false;
    return setPos(d->pos + 1);
}

bool QSparqlResult::previous()
{
    if (!d->finished || d->pos == QSparql::BeforeFirstRow)
        return false;
    if (d->pos == QSparql::AfterLastRow)
        return setPos(int(d->rows.size()) - 1);
    return setPos(d->pos - 1);
}

bool QSparqlResult::first()
{
    return setPos(0);
}

bool QSparqlResult::last()
{
    return setPos(int(d->rows.size()) - 1);
}

bool QSparqlResult::setPos(int pos)
{
    if (!d->finished)
        return false;
    if (pos < 0) {
        d->pos = QSparql::BeforeFirstRow;
        return false;
    }
    if (pos >= d->rows.size()) {
        d->pos = QSparql::AfterLastRow;
        return false;
    }
    d->pos = pos;
    return true;
}

int QSparqlResult::pos() const
{
    return d->pos;
}

int QSparqlResult::size() const
{
    return d->finished ? int(d->rows.size()) : -1;
}

bool QSparqlResult::isValid() const
{
    return d->pos >= 0 && d->pos < d->rows.size();
}

bool QSparqlResult::isFinished() const
{
    return d->finished;
}

bool QSparqlResult::hasError() const
{
    return d->finished && d->error.isValid();
}

QSparqlError QSparqlResult::lastError() const
{
    return d->finished ? d->error : QSparqlError();
}

QVariant QSparqlResult::value(int column) const
{
    const QSparqlCell* c = d->cell(column);
    if (!c)
        return QVariant();
    switch (c->type) {
    case QSparqlCell::Unbound:
        return QVariant();
    case QSparqlCell::Uri:
        return QUrl(c->text);
    case QSparqlCell::Integer: {
        bool ok = false;
        const qlonglong n = c->text.toLongLong(&ok);
        return ok ? QVariant(n) : QVariant(c->text);
    }
    case QSparqlCell::Double: {
        bool ok = false;
        const double n = c->text.toDouble(&ok);
        return ok ? QVariant(n) : QVariant(c->text);
    }
    case QSparqlCell::Boolean:
        return c->text == QLatin1String("true") || c->text == QLatin1String("1");
    case QSparqlCell::DateTime: {
        const QDateTime t = QDateTime::fromString(c->text, Qt::ISODateWithMs);
        return t.isValid() ? QVariant(t) : QVariant(c->text);
    }
    case QSparqlCell::String:
    case QSparqlCell::BlankNode:
        break;
    }
    return c->text;
}

QString QSparqlResult::stringValue(int column) const
{
    const QSparqlCell* c = d->cell(column);
    return c ? c->text : QString();
}

bool QSparqlResult::isTable() const
{
    return d->query.type() == QSparqlQuery::SelectStatement;
}

bool QSparqlResult::isGraph() const
{
    return d->query.type() == QSparqlQuery::ConstructStatement || d->query.type() == QSparqlQuery::DescribeStatement;
}

bool QSparqlResult::isBool() const
{
    return d->query.type() == QSparqlQuery::AskStatement;
}

bool QSparqlResult::boolValue() const
{
    if (!isBool() || !d->finished || d->rows.isEmpty() || d->rows.first().isEmpty())
        return false;
    const QString& text = d->rows.first().first().text;
    return text == QLatin1String("true") || text == QLatin1String("1");
}

void QSparqlResult::waitForFinished()
{
    if (d->finished)
        return;
    d->job->wait();
    QSparqlResultPrivate::deliver(this, true);
}
