// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDEREREVENT_H
#define ROVARENDEREREVENT_H

#include "rova_export.h"

#include <QEvent>
#include <QVariant>

/*!
    A command or happening for the basic renderer's state machine. The event
    type is the RovaRendererEventType value itself (1000 to 1016, in the user
    event range, not obtained from QEvent::registerEventType()), so type()
    tells the command; \c data carries its arguments.

    Payloads: PlayURI [QUrl url, uint startPosition] or [QUrl url, QString
    contentType] (a bare QUrl is accepted too); GotoIndex uint index;
    SetPosition [int seconds, int mode]; PauseAt uint position; ItemPlaying an
    int RovaBasicRenderer::RovaRendererPlayingUri value. Other types carry none.

    Ownership: a posted event belongs to the state machine, which deletes it
    after processing.
*/
class ROVA_EXPORT RovaRendererEvent : public QEvent
{
public:
    /*!
        The event types: the commands of RovaRenderer (Play to PauseAt) and what the renderer tells
        its own machine (PrepareNext to Eos).
    */
    enum RovaRendererEventType : int {
        Play = 1000, ///< play() the playlist
        PlayURI = 1001, ///< play() a URI
        Stop = 1002, ///< stop()
        Pause = 1003, ///< pause()
        Resume = 1004, ///< resume()
        Next = 1005, ///< next()
        Previous = 1006, ///< previous()
        GotoIndex = 1007, ///< gotoIndex()
        SetPosition = 1008, ///< setPosition()
        PauseAt = 1009, ///< pauseAt()
        PrepareNext = 1010, ///< look up the item after the current one
        RefreshNext = 1011, ///< the next item changed; prepare it again
        NextMetadataReady = 1012, ///< the next item's lookup answered; hand it to doNextHint()
        WaitTimeout = 1013, ///< a waiting state ran out of time
        MetadataReady = 1014, ///< the current item's lookup answered; play it
        ItemPlaying = 1015, ///< the implementation plays an item (a RovaRendererPlayingUri value)
        Eos = 1016 ///< the implementation reached the end of an item
    };

    /*! An event of \a type; without \a data the payload is an invalid QVariant. */
    explicit RovaRendererEvent(RovaRendererEventType type, const QVariant& data = QVariant());
    ~RovaRendererEvent() override;

    /*! A copy with the same type, payload and flags. */
    RovaRendererEvent* clone() const override;

    /*! The payload. */
    QVariant data;

protected:
    /*! A copy of \a other; used by clone(). */
    RovaRendererEvent(const RovaRendererEvent& other);
    /*! Makes this event a copy of \a other. */
    RovaRendererEvent& operator=(const RovaRendererEvent& other) = default;
    RovaRendererEvent(RovaRendererEvent&&) = delete;
    RovaRendererEvent& operator=(RovaRendererEvent&&) = delete;
};

#endif // ROVARENDEREREVENT_H
