// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovacontent.h"

namespace {
void registerRovaContentMetaType()
{
    qRegisterMetaType<RovaContent>("RovaContent");
}
} // namespace

Q_CONSTRUCTOR_FUNCTION(registerRovaContentMetaType)

RovaContent::RovaContent() = default;

RovaContent::RovaContent(const QString& uuid)
    : m_uuid(uuid)
{
}

RovaContent::RovaContent(const RovaContent& other) = default;
RovaContent& RovaContent::operator=(const RovaContent& other) = default;
RovaContent::~RovaContent() = default;

QString RovaContent::uuid() const
{
    return m_uuid;
}

QMap<QString, QVariant> RovaContent::metaData() const
{
    return m_metadata;
}

QVariant RovaContent::metaData(QString key) const
{
    return m_metadata.value(key);
}

void RovaContent::setMetaData(QMap<QString, QVariant>& metadata, const QObject* receiver, const char* member)
{
    Q_UNUSED(receiver)
    Q_UNUSED(member)
    m_metadata = metadata;
}
