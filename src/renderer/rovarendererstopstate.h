// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERSTOPSTATE_H
#define ROVARENDERERSTOPSTATE_H

#include "rova_export.h"
#include "rovarenderer.h"

#include <QState>

class RovaBasicRenderer;

/*!
    The basic renderer's stop state: reports RovaRenderer::Stopped through
    stateID() on entry. It keeps a reference to its renderer, which it does not
    own and which must outlive it.
*/
class ROVA_EXPORT RovaRendererStopState : public QState
{
    Q_OBJECT

public:
    RovaRendererStopState(RovaBasicRenderer& renderer, QState* parent = nullptr);
    ~RovaRendererStopState() override;

    /*! The renderer this state belongs to. */
    RovaBasicRenderer& renderer() const;

Q_SIGNALS:
    void stateID(RovaRenderer::State id);

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;

private:
    RovaBasicRenderer& m_renderer;
};

#endif // ROVARENDERERSTOPSTATE_H
