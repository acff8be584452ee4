// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPOLICYCOMMUNICATOR_H
#define ROVARENDERERPOLICYCOMMUNICATOR_H

#include "rova_export.h"
#include "rovaerror.h"
#include "rovarenderer.h"
#include "rovarendererpolicy.h"

#include <QObject>

#include <memory>

class QStateMachine;
class RovaRendererEvent;
class RovaRendererPolicyCommunicatorPrivate;

/*!
    Stands between a renderer's commands and its state machine. Commands that
    need resources (Play, PlayURI, Resume, PauseAt) wait in a queue while the
    policy is asked; other commands wait behind them so that nothing overtakes a
    waiting command. A grant posts the whole queue to the machine in order; a
    denial drops the waiting commands that need resources, posts the others and
    emits policyDenied(). The policy's stop and pause demands become Stop and
    Pause commands. Resources are released when a Stop, Pause, PauseAt or Eos
    command has brought the renderer to Stopped.

    Without a policy nobody is asked: every command goes to the machine as if
    granted and nothing is released.

    Ownership: the communicator owns the events it holds and deletes those it
    drops; the policy and the machine are not owned.
*/
class ROVA_EXPORT RovaRendererPolicyCommunicator : public QObject
{
    Q_OBJECT

public:
    /*!
        Creates a communicator that posts commands to \a machine and asks \a policy (null: nobody).
        Neither is taken over; both must outlive the communicator or be replaced first.
    */
    RovaRendererPolicyCommunicator(QStateMachine& machine, RovaRendererPolicy* policy);
    /*! Deletes the events still waiting, without posting them. */
    ~RovaRendererPolicyCommunicator() override;

    /*!
        Replaces the policy; the previous one is no longer listened to. Commands
        still waiting are asked for again from the new policy, or posted at once
        when \a policy is null.
    */
    void setPolicy(RovaRendererPolicy* policy);
    /*! The policy asked for resources; null when there is none. */
    RovaRendererPolicy* policy() const;

    /*! True for Play, PlayURI, Resume and PauseAt. */
    bool eventRequiresResources(const RovaRendererEvent* event) const;
    /*! Takes ownership of \a event and posts it to the machine, now or when the policy grants. */
    void processRendererEvent(RovaRendererEvent* event);

Q_SIGNALS:
    /*! The policy denied resources: RendererDenied, "Resources not available!". */
    void policyDenied(const RovaError& error);

public Q_SLOTS:
    /*! Releases the policy's resources when \a newState is Stopped after a Stop, Pause, PauseAt or Eos. */
    void handleRendererStateChange(RovaRenderer::State newState);

private Q_SLOTS:
    void handlePolicyEvent(RovaRendererPolicy::PolicyEvent policyEvent);

private:
    std::unique_ptr<RovaRendererPolicyCommunicatorPrivate> d;
};

#endif // ROVARENDERERPOLICYCOMMUNICATOR_H
