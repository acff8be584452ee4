// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAGSTREAMERRENDERER_H
#define ROVAGSTREAMERRENDERER_H

#include <rovabasicrenderer.h>

class RovaGStreamerEngine;

/*!
    A renderer that plays audio with GStreamer: the items of the assigned
    playlist, one after the other without a gap, or a URI given directly.

    Each hook is carried out on the pipeline and confirmed by the notification
    signal once GStreamer has got there. The renderer announces CurrentUri when
    an item starts playing, which makes the base look up the next item; the
    next item's URI goes to the pipeline before the current one ends, and
    NextUri is announced when it starts. GStreamer errors become rendererError()
    with a message that names the URI; the renderer then reports Stopped and
    takes the next command.

    rendererSeeking() is emitted once a seek has been carried out.
    getPosition() answers "positionResults(uint)" in seconds.
    getCurrentMediaInfo() answers "mediaInfoResults(const RovaMediaInfo&)" with
    "uri", "position" and "duration" (seconds), or only the key asked for.

    Ownership: the plugin creates the renderer and hands it to the registry.
*/
class RovaGStreamerRenderer : public RovaBasicRenderer
{
    Q_OBJECT

public:
    /*! "RovaGStreamerRenderer", the renderer's uuid in the registry. */
    static const QString RENDERER_UUID;
    /*! "qrova-gstreamer-renderer", the plugin's name. */
    static const QString PLUGIN_NAME;

    explicit RovaGStreamerRenderer(QObject* parent = nullptr);
    ~RovaGStreamerRenderer() override;

    bool getPosition(QObject* receiver, const char* member) override;
    bool getCurrentMediaInfo(QObject* receiver, const char* member, const QString& key) override;

    RovaGStreamerEngine* engine() const { return m_engine; }

protected:
    void doPlay(const RovaContent& content) override;
    void doPlay(const RovaMediaInfo& mediaInfo) override;
    void doStop() override;
    void doPause() override;
    void doResume() override;
    void doSeek(int seconds, RovaRenderer::SeekMode mode) override;
    bool doNextHint(const RovaContent& content) override;
    bool doNextHint(const RovaMediaInfo& mediaInfo) override;

private:
    void announcePlaying(int item);
    bool playlistHasItem(int stepsAhead) const;

    RovaGStreamerEngine* m_engine;
    RovaRenderer::State m_reported = RovaRenderer::Stopped;
    bool m_playingUri = false;
};

#endif // ROVAGSTREAMERRENDERER_H
