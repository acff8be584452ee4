// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovafilter.h"

RovaFilter::RovaFilter(const QString& constraint, RovaFilterType type)
    : m_filterType(type), m_constraint(constraint)
{
}

RovaFilter::~RovaFilter() = default;

RovaFilter::RovaFilterType RovaFilter::filterType() const
{
    return m_filterType;
}

QString RovaFilter::constraint() const
{
    return m_constraint;
}
