// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovasource.h"

#include "rovacontent.h"

RovaSource::RovaSource(QObject* parent, const QString& uuid, const QString& pluginName)
    : QObject(parent)
    , m_pluginName(pluginName)
    , m_uuid(uuid)
{
}

RovaSource::~RovaSource() = default;

void RovaSource::setUuid(QString uuid)
{
    m_uuid = uuid;
}

void RovaSource::setName(QString name)
{
    m_name = name;
    Q_EMIT nameChanged(name);
}

QString RovaSource::parseSourceId(QString id)
{
    return id.left(id.indexOf(QLatin1String("::")));
}

QString RovaSource::uuid() const
{
    return m_uuid;
}

QString RovaSource::pluginName() const
{
    return m_pluginName;
}

QString RovaSource::name() const
{
    return m_name;
}

void RovaSource::cancelBrowse(uint browseId)
{
    Q_UNUSED(browseId)
}

void RovaSource::cancelQuery(uint queryId)
{
    Q_UNUSED(queryId)
}
