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
    enum RovaRendererEventType : int {
        Play = 1000,
        PlayURI = 1001,
        Stop = 1002,
        Pause = 1003,
        Resume = 1004,
        Next = 1005,
        Previous = 1006,
        GotoIndex = 1007,
        SetPosition = 1008,
        PauseAt = 1009,
        PrepareNext = 1010,
        RefreshNext = 1011,
        NextMetadataReady = 1012,
        WaitTimeout = 1013,
        MetadataReady = 1014,
        ItemPlaying = 1015,
        Eos = 1016
    };

    /*! An event of \a type; without \a data the payload is an invalid QVariant. */
    explicit RovaRendererEvent(RovaRendererEventType type, const QVariant& data = QVariant());
    ~RovaRendererEvent() override;

    /*! A copy with the same type, payload and flags. */
    RovaRendererEvent* clone() const override;

    /*! The payload. */
    QVariant data;

protected:
    RovaRendererEvent(const RovaRendererEvent& other);
    RovaRendererEvent& operator=(const RovaRendererEvent& other) = default;
    RovaRendererEvent(RovaRendererEvent&&) = delete;
    RovaRendererEvent& operator=(RovaRendererEvent&&) = delete;
};

#endif // ROVARENDEREREVENT_H
