// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererevent.h"

RovaRendererEvent::RovaRendererEvent(RovaRendererEventType type, const QVariant& data)
    : QEvent(static_cast<QEvent::Type>(type))
    , data(data)
{
}

RovaRendererEvent::RovaRendererEvent(const RovaRendererEvent& other) = default;

RovaRendererEvent::~RovaRendererEvent() = default;

RovaRendererEvent* RovaRendererEvent::clone() const
{
    return new RovaRendererEvent(*this);
}
