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
    /*! Creates the stop state of \a renderer, which is not owned, as a child of \a parent. */
    RovaRendererStopState(RovaBasicRenderer& renderer, QState* parent = nullptr);
    ~RovaRendererStopState() override;

    /*! The renderer this state belongs to. */
    RovaBasicRenderer& renderer() const;

Q_SIGNALS:
    /*!
        Emitted on entry with the state the renderer reports now; the basic renderer connects it to
        its stateChanged().
    */
    void stateID(RovaRenderer::State id);

protected:
    /*! Called by the machine when it enters the state, with the \a event that caused it. */
    void onEntry(QEvent* event) override;
    /*! Called by the machine when it leaves the state, with the \a event that caused it. */
    void onExit(QEvent* event) override;

private:
    RovaBasicRenderer& m_renderer;
};

#endif // ROVARENDERERSTOPSTATE_H
