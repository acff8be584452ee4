// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaaudiofocuspolicy.h"

#include <QAtomicInt>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QPointer>
#include <QTimer>

#include <utility>

const QString RovaAudioFocusPolicy::ROVA_AUDIO_FOCUS_NAME = QStringLiteral("org.qrova.AudioFocus");

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString busInterface = QStringLiteral("org.freedesktop.DBus");

// RequestName: take the name from an owner that allows it, never wait in the
// queue, and let the next player take it from us.
const uint allowReplacement = 0x1;
const uint replaceExisting = 0x2;
const uint doNotQueue = 0x4;
const uint requestFlags = allowReplacement | replaceExisting | doNotQueue;
const uint primaryOwner = 1;
const uint alreadyOwner = 4;

QAtomicInt connectionCount;

} // namespace

RovaAudioFocusPolicy::RovaAudioFocusPolicy()
    : m_bus(QString())
{
    qDebug() << Q_FUNC_INFO;
}

RovaAudioFocusPolicy::~RovaAudioFocusPolicy()
{
    qDebug() << Q_FUNC_INFO;
    // Closing our connection gives the name back at once.
    disconnectFromBus();
}

bool RovaAudioFocusPolicy::initialize(RovaRendererPolicy::PolicyGroup group)
{
    qDebug() << Q_FUNC_INFO << group;
    if (group != RovaRendererPolicy::DefaultGroup && group != RovaRendererPolicy::PlayerGroup) {
        qWarning() << "RovaAudioFocusPolicy: unknown policy group" << int(group);
        return false;
    }
    m_group = group;
    if (m_group == RovaRendererPolicy::PlayerGroup)
        connectToBus();
    else
        disconnectFromBus();
    return true;
}

void RovaAudioFocusPolicy::setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    qDebug() << Q_FUNC_INFO << resources;
    m_defaultResources = resources;
}

void RovaAudioFocusPolicy::request(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    qDebug() << Q_FUNC_INFO << resources;
    if (needsFocus(resources) && !m_connectionName.isEmpty()) {
        if (m_bus.isConnected()) {
            m_wanted = true;
            ++m_callsInFlight;
            ++m_check; // an owner asked for before this request says nothing about it
            callBus(QStringLiteral("RequestName"), { ROVA_AUDIO_FOCUS_NAME, requestFlags },
                    &RovaAudioFocusPolicy::requestAnswered);
            return;
        }
        warnOnce(QStringLiteral("the session bus has gone away"));
    }
    // Never within the call: the caller queues its command before the grant.
    QTimer::singleShot(0, this, &RovaAudioFocusPolicy::emitResourcesGranted);
}

void RovaAudioFocusPolicy::release(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources)
{
    qDebug() << Q_FUNC_INFO << resources;
    if (!needsFocus(resources) || m_connectionName.isEmpty() || !m_bus.isConnected())
        return;
    // Losing the name by our own release is no reason to pause.
    m_wanted = false;
    ++m_callsInFlight;
    ++m_check;
    callBus(QStringLiteral("ReleaseName"), { ROVA_AUDIO_FOCUS_NAME }, &RovaAudioFocusPolicy::releaseAnswered);
}

void RovaAudioFocusPolicy::emitResourcesGranted()
{
    Q_EMIT policyEvent(RovaRendererPolicy::ResourcesGranted);
}

void RovaAudioFocusPolicy::requestAnswered(QDBusPendingCallWatcher* watcher)
{
    answered(watcher);
    --m_callsInFlight;
    ++m_grantsOwed;
    const QDBusPendingReply<uint> reply = *watcher;
    bool refused = true;
    if (reply.isError())
        warnOnce(QStringLiteral("the session bus refused \"%1\": %2").arg(ROVA_AUDIO_FOCUS_NAME, reply.error().message()));
    else if (reply.value() != primaryOwner && reply.value() != alreadyOwner)
        warnOnce(QStringLiteral("the session bus refused \"%1\": another program holds it and does not give it up")
                     .arg(ROVA_AUDIO_FOCUS_NAME));
    else
        refused = false;
    // Granted without the focus: nobody can take from us what we never had.
    if (refused && m_callsInFlight == 0)
        m_wanted = false;
    checkOwner();
}

void RovaAudioFocusPolicy::releaseAnswered(QDBusPendingCallWatcher* watcher)
{
    answered(watcher);
    --m_callsInFlight;
    checkOwner();
}

void RovaAudioFocusPolicy::nameChanged(const QString& name)
{
    qDebug() << Q_FUNC_INFO << name;
    if (name == ROVA_AUDIO_FOCUS_NAME)
        checkOwner();
}

// The answers to our calls and the bus's NameLost and NameAcquired signals reach
// us along different paths, so their order says nothing. The owner that the bus
// names after all of them is the truth: ask for it after each of them and act on
// the latest answer alone.
void RovaAudioFocusPolicy::checkOwner()
{
    if (!m_bus.isConnected()) {
        ownerAnswered(++m_check, QString());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, busInterface, QStringLiteral("GetNameOwner"));
    call.setArguments({ ROVA_AUDIO_FOCUS_NAME });
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, check = ++m_check](QDBusPendingCallWatcher* done) {
        answered(done);
        const QDBusPendingReply<QString> reply = *done;
        ownerAnswered(check, reply.isError() ? QString() : reply.value());
    });
}

void RovaAudioFocusPolicy::answered(QDBusPendingCallWatcher* watcher)
{
    // What follows may end in an event whose receiver deletes this policy; the watcher must not go with it.
    watcher->setParent(nullptr);
    watcher->deleteLater();
}

void RovaAudioFocusPolicy::ownerAnswered(quint64 check, const QString& owner)
{
    // A call still out will be followed by a later question.
    if (check != m_check || m_callsInFlight > 0)
        return;
    // A receiver of an event may delete this policy.
    const QPointer<RovaAudioFocusPolicy> alive(this);
    // Every answered request is granted first, so that a pause comes after the play it stops.
    while (alive && m_grantsOwed > 0) {
        --m_grantsOwed;
        emitResourcesGranted();
    }
    if (alive && m_wanted && owner != m_bus.baseService()) {
        m_wanted = false;
        Q_EMIT policyEvent(RovaRendererPolicy::PauseRequested);
    }
}

bool RovaAudioFocusPolicy::needsFocus(QFlags<RovaRendererPolicy::PolicyResourceFlag> resources) const
{
    if (!resources)
        resources = m_defaultResources;
    return m_group == RovaRendererPolicy::PlayerGroup && resources.testFlag(RovaRendererPolicy::AudioResource);
}

void RovaAudioFocusPolicy::connectToBus()
{
    if (!m_connectionName.isEmpty())
        return;
    // A connection of our own: the bus tells owners apart by connection, and
    // closing it gives the name back whatever happens to this process.
    // The address is read here, not once per process, so that a bus started
    // later is found.
    const QString name = QStringLiteral("qrova-audio-focus-%1").arg(connectionCount.fetchAndAddRelaxed(1));
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                            : QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected()) {
        const QString reason = bus.lastError().message();
        QDBusConnection::disconnectFromBus(name);
        warnOnce(QStringLiteral("no session bus (%1)").arg(reason));
        return;
    }
    for (const QString& signal : { QStringLiteral("NameLost"), QStringLiteral("NameAcquired") })
        bus.connect(busService, busPath, busInterface, signal, this, SLOT(nameChanged(QString)));
    m_bus = bus;
    m_connectionName = name;
}

void RovaAudioFocusPolicy::disconnectFromBus()
{
    if (m_connectionName.isEmpty())
        return;
    for (const QString& signal : { QStringLiteral("NameLost"), QStringLiteral("NameAcquired") })
        m_bus.disconnect(busService, busPath, busInterface, signal, this, SLOT(nameChanged(QString)));
    m_bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(std::exchange(m_connectionName, QString()));
    // Calls still out are answered with an error and granted then.
    m_wanted = false;
}

void RovaAudioFocusPolicy::callBus(const QString& method, const QVariantList& arguments,
                                   void (RovaAudioFocusPolicy::*answered)(QDBusPendingCallWatcher*))
{
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, busInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, answered);
}

void RovaAudioFocusPolicy::warnOnce(const QString& text)
{
    if (std::exchange(m_warned, true))
        return;
    qWarning().noquote() << QStringLiteral("RovaAudioFocusPolicy: %1; every request is granted").arg(text);
}
