// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVADUMMYRENDERERPOLICY_H
#define ROVADUMMYRENDERERPOLICY_H

#include "rova_export.h"
#include "rovarendererpolicy.h"

/*!
    The policy every basic renderer starts with: it accepts every group, grants
    every request and never takes anything away, so that a renderer works when
    no policy plugin is there.

    Like a real policy it answers later: each request() is granted with its own
    policyEvent(ResourcesGranted) on the next turn of the event loop. Deleting
    the policy before then cancels the grants.
*/
class ROVA_EXPORT RovaDummyRendererPolicy : public RovaRendererPolicy
{
    Q_OBJECT

public:
    RovaDummyRendererPolicy();
    ~RovaDummyRendererPolicy() override;

    bool initialize(RovaRendererPolicy::PolicyGroup group) override;
    void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;
    void request(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;
    void release(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;

private Q_SLOTS:
    void emitResourcesGranted();
};

#endif // ROVADUMMYRENDERERPOLICY_H
