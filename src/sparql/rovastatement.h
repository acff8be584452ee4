// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVASTATEMENT_H
#define ROVASTATEMENT_H

#include "rova_export.h"
#include "rovanode.h"

#include <QObject>
#include <QString>

/*!
    One SPARQL triple pattern: subject, predicate and object. The statement holds its two
    nodes itself; the pointers that subject() and object() return live as long as it does.
*/
class ROVA_EXPORT RovaStatement : public QObject
{
    Q_OBJECT
public:
    RovaStatement();
    ~RovaStatement() override;

    /*! The subject node, owned by the statement. */
    RovaNode* subject();
    /*! The subject node, owned by the statement. */
    const RovaNode* subject() const;
    /*! The predicate as written, for example "nie:title" or "a". */
    QString predicate() const;
    /*! Sets the predicate; it is not checked. */
    void setPredicate(const QString& predicate);
    /*! The object node, owned by the statement. */
    RovaNode* object();
    /*! The object node, owned by the statement. */
    const RovaNode* object() const;

private:
    RovaNode m_subject;
    QString m_predicate;
    RovaNode m_object;
};

#endif // ROVASTATEMENT_H
