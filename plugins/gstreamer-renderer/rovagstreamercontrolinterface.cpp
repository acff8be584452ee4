// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovagstreamercontrolinterface.h"

#include "rovagstreamerengine.h"
#include "rovagstreamerrenderer.h"

#include <QDebug>

const QString RovaGStreamerControlInterface::NAME = QStringLiteral("qrova-gstreamer-renderer");
const QString RovaGStreamerControlInterface::AUDIO_SINK_KEY = QStringLiteral("audio-sink");
const QString RovaGStreamerControlInterface::VOLUME_KEY = QStringLiteral("volume");

RovaGStreamerControlInterface::RovaGStreamerControlInterface(RovaGStreamerRenderer* renderer)
    : m_renderer(renderer)
{
}

RovaGStreamerControlInterface::~RovaGStreamerControlInterface() = default;

QVariant RovaGStreamerControlInterface::setting(const QString& key) const
{
    if (!m_renderer)
        return {};
    if (key == AUDIO_SINK_KEY)
        return m_renderer->engine()->audioSink();
    if (key == VOLUME_KEY)
        return m_renderer->engine()->volume();
    return {};
}

bool RovaGStreamerControlInterface::setSetting(const QString& key, const QVariant& value)
{
    if (!m_renderer) {
        qWarning() << "The GStreamer renderer is gone: cannot set" << key;
        return false;
    }
    if (key == AUDIO_SINK_KEY && value.canConvert<QString>()) {
        QString problem;
        if (m_renderer->engine()->setAudioSink(value.toString(), &problem))
            return true;
        qWarning() << "Invalid audio sink description" << value.toString() << problem;
        return false;
    }
    bool isNumber = false;
    const double volume = value.toDouble(&isNumber);
    if (key == VOLUME_KEY && isNumber && m_renderer->engine()->setVolume(volume))
        return true;
    qWarning() << "Cannot set" << key << "of the GStreamer renderer to" << value;
    return false;
}
