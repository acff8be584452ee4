// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDEREREVENTTRANSITION_H
#define ROVARENDEREREVENTTRANSITION_H

#include "rova_export.h"
#include "rovarendererevent.h"

#include <QAbstractTransition>

/*!
    A transition that fires on renderer events of one type and does nothing
    else; for machines of one's own built from the renderer states.
*/
class ROVA_EXPORT RovaRendererEventTransition : public QAbstractTransition
{
    Q_OBJECT

public:
    /*! A transition to \a target on events of \a type; a null \a target makes it targetless. */
    RovaRendererEventTransition(RovaRendererEvent::RovaRendererEventType type, QAbstractState* target);
    ~RovaRendererEventTransition() override;

    /*! The event type the transition fires on. */
    RovaRendererEvent::RovaRendererEventType eventType() const;

protected:
    /*! True exactly for events whose type is this transition's. */
    bool eventTest(QEvent* event) override;
    /*! Does nothing. */
    void onTransition(QEvent* event) override;

private:
    RovaRendererEvent::RovaRendererEventType m_eventType;
};

#endif // ROVARENDEREREVENTTRANSITION_H
