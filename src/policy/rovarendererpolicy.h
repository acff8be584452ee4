// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVARENDERERPOLICY_H
#define ROVARENDERERPOLICY_H

#include "rova_export.h"

#include <QFlags>
#include <QObject>

/*!
    A resource policy: it decides whether a renderer may use the audio and video
    resources it needs to play. A renderer initialises it with a policy group,
    tells it its default resources, requests and releases resources, and follows
    the answers that arrive later through policyEvent().

    Concrete policies come from a policy plugin (RovaRendererPolicyPlugin); the
    library itself only has RovaDummyRendererPolicy, which grants everything.

    Ownership: a policy is constructed without parent; the renderer that
    installs it owns it and deletes it when it installs another one.
*/
class ROVA_EXPORT RovaRendererPolicy : public QObject
{
    Q_OBJECT

public:
    /*! The group a policy is initialised with; its meaning belongs to the policy. */
    enum PolicyGroup : int {
        DefaultGroup = 0, ///< the group of a renderer's built-in dummy policy
        PlayerGroup = 1   ///< the group of the default policy plugin's policy
    };
    Q_ENUM(PolicyGroup)

    /*! Resources; an empty set means the policy's default resources. */
    enum PolicyResourceFlag : int {
        AudioResource = 0x1,
        VideoResource = 0x2
    };
    Q_DECLARE_FLAGS(PolicyResourceFlags, PolicyResourceFlag)
    Q_FLAG(PolicyResourceFlags)

    /*! What a policy reports through policyEvent(). */
    enum PolicyEvent : int {
        ResourcesGranted = 0, ///< the commands waiting for resources may run
        ResourcesDenied = 1,  ///< the commands waiting for resources are dropped
        StopRequested = 2,    ///< the renderer has to stop
        PauseRequested = 3    ///< the renderer has to pause
    };
    Q_ENUM(PolicyEvent)

    RovaRendererPolicy();
    ~RovaRendererPolicy() override;

    /*! Prepares the policy for \a group; false means the policy cannot be used. */
    virtual bool initialize(RovaRendererPolicy::PolicyGroup group) = 0;
    /*! The resources an empty set stands for in request() and release(). */
    virtual void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) = 0;
    /*! Asks for \a resources; the answer comes later through policyEvent(). */
    virtual void request(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) = 0;
    /*! Gives \a resources back; no answer follows. */
    virtual void release(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) = 0;

Q_SIGNALS:
    /*!
        The policy's answer to request(), or a demand of its own (StopRequested, PauseRequested).
        An answer may come from inside request() or on a later turn of the event loop.
    */
    void policyEvent(RovaRendererPolicy::PolicyEvent event);

private:
    Q_DISABLE_COPY(RovaRendererPolicy)
};

Q_DECLARE_OPERATORS_FOR_FLAGS(RovaRendererPolicy::PolicyResourceFlags)

#endif // ROVARENDERERPOLICY_H
