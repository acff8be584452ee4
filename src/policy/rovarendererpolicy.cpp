// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovarendererpolicy.h"

namespace {
void registerPolicyMetaTypes()
{
    qRegisterMetaType<RovaRendererPolicy::PolicyEvent>("RovaRendererPolicy::PolicyEvent");
    qRegisterMetaType<RovaRendererPolicy::PolicyGroup>("RovaRendererPolicy::PolicyGroup");
    qRegisterMetaType<RovaRendererPolicy::PolicyResourceFlags>("QFlags<RovaRendererPolicy::PolicyResourceFlag>");
}
} // namespace

Q_CONSTRUCTOR_FUNCTION(registerPolicyMetaTypes)

RovaRendererPolicy::RovaRendererPolicy()
    : QObject(nullptr)
{
}

RovaRendererPolicy::~RovaRendererPolicy() = default;
