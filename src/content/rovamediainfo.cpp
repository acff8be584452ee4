// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovamediainfo.h"

#include "rovacontent.h"

#include <QUrl>

namespace {
void registerRovaMediaInfoMetaType()
{
    qRegisterMetaType<RovaMediaInfo>("RovaMediaInfo");
}
} // namespace

Q_CONSTRUCTOR_FUNCTION(registerRovaMediaInfoMetaType)

RovaMediaInfo::RovaMediaInfo() = default;

RovaMediaInfo::RovaMediaInfo(const QString& uuid)
    : m_uuid(uuid)
{
}

RovaMediaInfo::RovaMediaInfo(const RovaMediaInfo& other) = default;

RovaMediaInfo::RovaMediaInfo(const RovaContent& content)
    : m_uuid(content.uuid())
{
    extractSingleValueMetadata(content.metaData());
}

RovaMediaInfo& RovaMediaInfo::operator=(const RovaMediaInfo& other) = default;

RovaMediaInfo& RovaMediaInfo::operator=(const RovaContent& content)
{
    m_uuid = content.uuid();
    extractSingleValueMetadata(content.metaData());
    return *this;
}

RovaMediaInfo::~RovaMediaInfo() = default;

QString RovaMediaInfo::uuid() const
{
    return m_uuid;
}

void RovaMediaInfo::setUuid(const QString& uuid)
{
    m_uuid = uuid;
}

const QMap<QString, QList<QVariant>>& RovaMediaInfo::metaData() const
{
    return m_metadata;
}

QList<QVariant> RovaMediaInfo::metaData(const QString& key) const
{
    return m_metadata.value(key);
}

QVariant RovaMediaInfo::firstMetaData(const QString& key) const
{
    const auto it = m_metadata.constFind(key);
    if (it == m_metadata.constEnd() || it->isEmpty())
        return QVariant();
    return it->constFirst();
}

void RovaMediaInfo::appendMetaData(QString key, QList<QVariant> values)
{
    m_metadata.insert(key, values);
}

void RovaMediaInfo::removeMetaData(QString key)
{
    m_metadata.remove(key);
}

void RovaMediaInfo::setMetaData(const QMap<QString, QList<QVariant>>& metadata)
{
    m_metadata = metadata;
}

void RovaMediaInfo::setMetaData(const QMap<QString, QVariant>& metadata)
{
    extractSingleValueMetadata(metadata);
}

void RovaMediaInfo::extractSingleValueMetadata(const QMap<QString, QVariant>& metadata)
{
    for (auto it = metadata.constBegin(); it != metadata.constEnd(); ++it)
        m_metadata.insert(it.key(), QList<QVariant>{it.value()});
}

bool RovaMediaInfo::isValid()
{
    return !m_uuid.isEmpty();
}

bool RovaMediaInfo::isPlayable() const
{
    const auto it = m_metadata.constFind(QStringLiteral("uri"));
    if (it == m_metadata.constEnd() || it->isEmpty())
        return false;
    return !it->constFirst().toUrl().isEmpty();
}
