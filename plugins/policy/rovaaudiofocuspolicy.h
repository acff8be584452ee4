// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAAUDIOFOCUSPOLICY_H
#define ROVAAUDIOFOCUSPOLICY_H

#include <rovarendererpolicy.h>

#include <QDBusConnection>
#include <QString>
#include <QVariantList>

class QDBusPendingCallWatcher;

/*!
    Audio focus between the players of one desktop. The focus is the well-known
    name "org.qrova.AudioFocus" on the D-Bus session bus; the bus itself decides
    who holds it, so no service of ours has to run.

    Group 1 (PlayerGroup) is media playback. A request that includes audio takes
    the focus from whoever holds it: the bus hands the name over, the former
    holder's policy reports PauseRequested, and this one reports
    ResourcesGranted. release() and the destruction of the policy give the focus
    back; nobody gets it automatically then, a paused player takes it again
    with its next request.
    Who holds the focus is always asked of the bus once our calls are answered,
    so two players that ask at the same moment end with exactly one holder: a
    request that another player's overtook is granted, then paused at once.

    Group 0 (DefaultGroup) is background sound, and requests without the audio
    bit need no focus: both are granted at once and take nothing from anyone.

    Without a session bus, or when the bus refuses the name, every request is
    granted like the dummy policy does, and the policy says so with one warning.

    Every answer comes later through policyEvent(), never within request(); each
    request gets its own ResourcesGranted. Each policy has a bus connection of
    its own, so several policies in one process compete like separate players.
*/
class RovaAudioFocusPolicy : public RovaRendererPolicy
{
    Q_OBJECT

public:
    /*! The bus name that is the audio focus. */
    static const QString ROVA_AUDIO_FOCUS_NAME;

    RovaAudioFocusPolicy();
    ~RovaAudioFocusPolicy() override;

    /*! Group 0 or 1; another group is refused with a warning. Group 1 connects to the session bus. */
    bool initialize(RovaRendererPolicy::PolicyGroup group) override;
    void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;
    void request(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;
    void release(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) override;

private Q_SLOTS:
    void emitResourcesGranted();
    void requestAnswered(QDBusPendingCallWatcher* watcher);
    void releaseAnswered(QDBusPendingCallWatcher* watcher);
    void nameChanged(const QString& name);

private:
    bool needsFocus(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) const;
    void connectToBus();
    void disconnectFromBus();
    void callBus(const QString& method, const QVariantList& arguments,
                 void (RovaAudioFocusPolicy::*answered)(QDBusPendingCallWatcher*));
    void checkOwner();
    static void answered(QDBusPendingCallWatcher* watcher);
    void ownerAnswered(quint64 check, const QString& owner);
    void warnOnce(const QString& text);

    RovaRendererPolicy::PolicyGroup m_group = RovaRendererPolicy::DefaultGroup;
    QFlags<RovaRendererPolicy::PolicyResourceFlag> m_defaultResources =
        RovaRendererPolicy::AudioResource | RovaRendererPolicy::VideoResource;
    QDBusConnection m_bus;
    QString m_connectionName; // empty: no connection of ours
    int m_callsInFlight = 0; // RequestName and ReleaseName calls not answered yet
    int m_grantsOwed = 0; // answered requests not granted yet
    quint64 m_check = 0; // the latest question for the owner; older answers are stale
    bool m_wanted = false; // the focus was asked for last, not given back: losing it pauses
    bool m_warned = false;
};

#endif // ROVAAUDIOFOCUSPOLICY_H
