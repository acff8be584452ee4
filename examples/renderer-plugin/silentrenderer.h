// SPDX-License-Identifier: LGPL-2.1-or-later
// A renderer that plays nothing aloud: each item "plays" for a short while on a
// timer. It shows what every renderer plugin does: implement the hooks of
// RovaBasicRenderer and confirm each command with a notification signal.
#ifndef SILENTRENDERER_H
#define SILENTRENDERER_H

#include <rovabasicrenderer.h>

#include <QStringList>
#include <QTimer>
#include <QUrl>

//! [class]
class SilentRenderer : public RovaBasicRenderer
{
    Q_OBJECT

public:
    explicit SilentRenderer(QObject* parent = nullptr);

    //! The items played so far, by file name, for the driving program to check.
    QStringList played;

protected:
    // The base calls this one unless doPlay(const RovaMediaInfo&) is overridden.
    void doPlay(const RovaContent& content) override;
    void doPlay(const RovaMediaInfo& mediaInfo) override;
    void doStop() override;
    void doPause() override;
    void doResume() override;
    void doSeek(int seconds, RovaRenderer::SeekMode mode) override;
    bool doNextHint(const RovaContent& content) override;
    bool doNextHint(const RovaMediaInfo& mediaInfo) override;

private:
    void start(const QUrl& uri);
    void endOfItem();
    bool nextItemExpected() const;

    QTimer m_item;        // stands in for the media engine: fires at the end of an item
    QTimer m_hintWait;    // how long an item that ended waits for a hint on its way
    QUrl m_next;          // the hinted next item, empty when there is none
};
//! [class]

#endif // SILENTRENDERER_H
