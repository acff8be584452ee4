// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovadummyrendererpolicy.h"

#include <QDebug>
#include <QTimer>

RovaDummyRendererPolicy::RovaDummyRendererPolicy()
{
    qDebug() << Q_FUNC_INFO;
}

RovaDummyRendererPolicy::~RovaDummyRendererPolicy()
{
    qDebug() << Q_FUNC_INFO;
}

bool RovaDummyRendererPolicy::initialize(RovaRendererPolicy::PolicyGroup group)
{
    Q_UNUSED(group)
    qDebug() << Q_FUNC_INFO;
    return true;
}

void RovaDummyRendererPolicy::setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    Q_UNUSED(resources)
    qDebug() << Q_FUNC_INFO;
}

void RovaDummyRendererPolicy::request(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    Q_UNUSED(resources)
    qDebug() << Q_FUNC_INFO;
    // Never within the call: the caller queues its command before the grant.
    QTimer::singleShot(0, this, &RovaDummyRendererPolicy::emitResourcesGranted);
}

void RovaDummyRendererPolicy::release(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    Q_UNUSED(resources)
    qDebug() << Q_FUNC_INFO;
}

void RovaDummyRendererPolicy::emitResourcesGranted()
{
    qDebug() << Q_FUNC_INFO;
    Q_EMIT policyEvent(RovaRendererPolicy::ResourcesGranted);
}
