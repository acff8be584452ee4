// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAGSTREAMERCONTROLINTERFACE_H
#define ROVAGSTREAMERCONTROLINTERFACE_H

#include <rovaplugincontrolinterface.h>

#include <QPointer>

class RovaGStreamerRenderer;

/*!
    Steers the GStreamer renderer; registered as "qrova-gstreamer-renderer".

    Keys:
    - "audio-sink": a gst-launch style description of where the sound goes,
      such as "pulsesink" or "wavenc ! filesink location=/tmp/out.wav". An
      empty string restores the default, "autoaudiosink". A description that
      GStreamer cannot build is refused. Takes effect with the next item that
      starts playing.
    - "volume": linear volume from 0.0 to 1.0 (a double); takes effect at once.

    Ownership: the registry owns the interface; the renderer is not owned and
    may go first, after which every key reads as invalid and nothing is set.
*/
class RovaGStreamerControlInterface : public RovaPluginControlInterface
{
    Q_OBJECT

public:
    /*! "qrova-gstreamer-renderer", the name the interface is registered under. */
    static const QString NAME;
    static const QString AUDIO_SINK_KEY;
    static const QString VOLUME_KEY;

    explicit RovaGStreamerControlInterface(RovaGStreamerRenderer* renderer);
    ~RovaGStreamerControlInterface() override;

    QVariant setting(const QString& key) const override;
    bool setSetting(const QString& key, const QVariant& value) override;

private:
    QPointer<RovaGStreamerRenderer> m_renderer;
};

#endif // ROVAGSTREAMERCONTROLINTERFACE_H
