// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAAUDIOFOCUSPLUGIN_H
#define ROVAAUDIOFOCUSPLUGIN_H

#include <rovarendererpolicyplugin.h>

#include <QObject>

/*!
    The default policy plugin: each createPolicy() is a new RovaAudioFocusPolicy.
*/
class RovaAudioFocusPlugin : public QObject, public RovaRendererPolicyPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.orvel.rova.RovaRendererPolicyPlugin")
    Q_INTERFACES(RovaRendererPolicyPlugin)

public:
    RovaRendererPolicy* createPolicy() override;
};

#endif // ROVAAUDIOFOCUSPLUGIN_H
