// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERCOMMANDEVENTTRANSITION_H
#define ROVARENDERERCOMMANDEVENTTRANSITION_H

#include "rova_export.h"
#include "rovarendererevent.h"

#include <QAbstractTransition>
#include <QMap>

class QAbstractState;
class QState;
class RovaBasicRenderer;
class RovaRendererPlaylistHandler;

/*!
    The transition that carries a renderer command out: on an event of its type
    it calls the renderer's implementation hooks and the playlist handler's
    stepping and lookup operations. A null target makes it targetless: the
    command runs and no state is left. The renderer and the handler are not
    owned and must outlive the transition.
*/
class ROVA_EXPORT RovaRendererCommandEventTransition : public QAbstractTransition
{
    Q_OBJECT

public:
    /*!
        A transition to \a target (null: targetless) that carries out commands of \a type for \a
        renderer with \a handler.
    */
    RovaRendererCommandEventTransition(RovaRendererEvent::RovaRendererEventType type, QAbstractState* target,
                                       RovaBasicRenderer& renderer, RovaRendererPlaylistHandler& handler);
    ~RovaRendererCommandEventTransition() override;

    /*! The command type the transition carries out. */
    RovaRendererEvent::RovaRendererEventType eventType() const;

protected:
    /*! True exactly for events whose type is this transition's. */
    bool eventTest(QEvent* event) override;
    /*!
        Carries the command in \a event out: calls the implementation hook or the playlist handler
        operation that its type stands for, with the event's payload.
    */
    void onTransition(QEvent* event) override;

private:
    void startCurrentItem();
    void fetchCurrent();
    void playCurrent();
    void playUri(const QVariant& data);
    bool autoAdvance() const;

    RovaRendererEvent::RovaRendererEventType m_eventType;
    RovaBasicRenderer& m_renderer;
    RovaRendererPlaylistHandler& m_handler;
};

/*!
    Adds to \a source one command transition per entry of \a targets, in
    ascending order of event type; \a source takes them over. A null target
    gives a targetless transition.
*/
ROVA_EXPORT void addCommandTransitions(QState* source,
                                       QMap<RovaRendererEvent::RovaRendererEventType, QAbstractState*> targets,
                                       RovaBasicRenderer* renderer, RovaRendererPlaylistHandler* handler);

#endif // ROVARENDERERCOMMANDEVENTTRANSITION_H
