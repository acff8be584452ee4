// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarenderer.h"

#include "rovacallbackhelper.h"

#include <QDebug>
#include <QMetaMethod>

const QString RovaRenderer::ROVA_RENDERER_PROPERTY_POLICY_OVERRIDE = QStringLiteral("rova_policy_override");
const QString RovaRenderer::ROVA_RENDERER_PROPERTY_AUTO_ADVANCE = QStringLiteral("rova_auto_advance");

namespace {

void registerRendererMetaTypes()
{
    qRegisterMetaType<RovaRenderer::State>("RovaRenderer::State");
    qRegisterMetaType<RovaRenderer::SeekMode>("RovaRenderer::SeekMode");
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerRendererMetaTypes)

RovaRenderer::RovaRenderer(const QString& uuid, const QString& pluginName, QObject* parent)
    : QObject(parent)
    , m_uuid(uuid)
    , m_pluginName(pluginName)
{
}

RovaRenderer::~RovaRenderer()
{
    qDebug("~RovaRenderer()");
}

QString RovaRenderer::uuid() const
{
    return m_uuid;
}

QString RovaRenderer::pluginName() const
{
    return m_pluginName;
}

QString RovaRenderer::name() const
{
    return m_name;
}

void RovaRenderer::setName(const QString& name)
{
    m_name = name;
}

bool RovaRenderer::play(const QUrl& url, const QString& contentType)
{
    Q_UNUSED(url)
    Q_UNUSED(contentType)
    qWarning() << "virtual bool RovaRenderer::play(const QUrl&, const QString&)" << " not implemented.";
    return true;
}

bool RovaRenderer::setRovaProperty(const QString& name, const QVariant& value)
{
    qDebug() << "RovaRenderer::setRovaProperty" << name;
    setProperty(name.toLatin1().constData(), value);
    Q_EMIT rovaPropertyChanged(name, value);
    return true;
}

bool RovaRenderer::rovaProperty(QString& name, QObject* receiver, const char* member)
{
    const QVariant value = property(name.toLatin1().constData());

    QMetaMethod method;
    if (!RovaCallbackHelper::getCallbackMethod(receiver, member, method))
        return false;

    // The answer is (QString name, QVariant value); a callback taking more or
    // other types would read the values as something they are not. It is not
    // called, which is reported as a failed call.
    if (!RovaCallbackHelper::checkCallbackSignature("2rovaPropertyResult(QString, QVariant)",
                                                    method.methodSignature().constData())) {
        qWarning() << "Provided slot has incorrect signature (" << member << ").";
        qWarning("Invoking the callback method failed!");
        return false;
    }

    if (!method.invoke(receiver, Qt::AutoConnection, Q_ARG(QString, name), Q_ARG(QVariant, value))) {
        qWarning("Invoking the callback method failed!");
        return false;
    }
    return true;
}

bool RovaRenderer::getCurrentMediaInfo(QObject* receiver, const char* member, const QString& key)
{
    Q_UNUSED(receiver)
    Q_UNUSED(member)
    Q_UNUSED(key)
    return false;
}
