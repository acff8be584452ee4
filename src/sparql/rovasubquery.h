// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASUBQUERY_H
#define ROVASUBQUERY_H

#include "rova_export.h"

#include <QList>
#include <QObject>
#include <QStringList>

class RovaStatement;

/*!
    The triple patterns of a query that share one subject, with the variables they mention.
    A subquery owns its statements and deletes them when it is destroyed.
*/
class ROVA_EXPORT RovaSubquery : public QObject
{
    Q_OBJECT
public:
    /*! A subquery of \a statements, which it takes over, mentioning \a variables. */
    RovaSubquery(const QList<QString>& variables, const QList<RovaStatement*>& statements);
    ~RovaSubquery() override;

    /*! The variables its statements mention, each once. */
    QStringList& variables();
    /*! The variables its statements mention, each once. */
    const QStringList& variables() const;
    /*! The statements, owned by the subquery. */
    QList<RovaStatement*> statements() const;

private:
    QStringList m_variables;
    QList<RovaStatement*> m_statements;
};

#endif // ROVASUBQUERY_H
