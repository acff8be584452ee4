// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAFILTER_H
#define ROVAFILTER_H

#include "rova_export.h"

#include <QObject>
#include <QString>

/*!
    One FILTER condition on a variable: a regular expression, or a comparison with a value.
    The constraint is the pattern or value as written, quotes or angle brackets included.
*/
class ROVA_EXPORT RovaFilter : public QObject
{
    Q_OBJECT
public:
    /*! The kind of condition. */
    enum RovaFilterType {
        RegexFilter = 1,      //!< regex(?var, "pattern")
        EqualsFilter = 2,     //!< (?var = value)
        LessThanFilter = 3,   //!< (?var < value)
        GreaterThanFilter = 4 //!< (?var > value)
    };
    Q_ENUM(RovaFilterType)

    /*! A condition of kind \a type with the pattern or value \a constraint, as written. */
    RovaFilter(const QString& constraint, RovaFilterType type);
    ~RovaFilter() override;

    /*! The kind of condition. */
    RovaFilterType filterType() const;
    /*! The pattern or value as written, quotes or angle brackets included. */
    QString constraint() const;

private:
    RovaFilterType m_filterType;
    QString m_constraint;
};

#endif // ROVAFILTER_H
