// SPDX-License-Identifier: LGPL-2.1-or-later
// A basic renderer whose implementation hooks only record what they were asked,
// for the renderer tests, the renderer test plugin and the benchmarks.
#ifndef ROVARECORDINGRENDERER_H
#define ROVARECORDINGRENDERER_H

#include <rovabasicrenderer.h>
#include <rovarendererpolicy.h>

#include <QAbstractTransition>
#include <QStateMachine>
#include <QStringList>
#include <QTimer>
#include <QUrl>

class RovaRecordingRenderer : public RovaBasicRenderer
{
public:
    explicit RovaRecordingRenderer(const QString& uuid = QStringLiteral("recording-renderer"))
        : RovaBasicRenderer(uuid, QStringLiteral("test-plugin"), QStringLiteral("Recording renderer"))
    {
        // Hooks run inside transitions, after the source state was left and
        // before the target is entered: the state last entered is the source.
        const auto states = stateMachine()->findChildren<QAbstractState*>();
        for (QAbstractState* state : states) {
            if (!state->objectName().isEmpty())
                connect(state, &QAbstractState::entered, this, [this, state]() { m_entered = state->objectName(); });
        }
    }

    // When set, each hook confirms itself with its notification signal on the
    // next turn of the event loop, as a real implementation would.
    bool confirm = false;
    // The hook calls, e.g. "play item1.mp3@5", "hint item2.mp3", "hint -", "seek 7,0", "stop".
    QStringList log;
    // For each entry of the log, the state the machine was leaving or staying in.
    QStringList from;
    QString hint;

    using RovaBasicRenderer::playlistHandler;
    using RovaBasicRenderer::stateMachine;

    // The machine's active leaf state by name: "stop", "pending", "uriPlaying", ...
    QString machineState() const
    {
        const auto states = stateMachine()->configuration();
        for (QAbstractState* state : states) {
            if (!state->objectName().isEmpty())
                return state->objectName();
        }
        return QString();
    }

    static QString fileName(const QVariant& uri) { return uri.toUrl().fileName(); }

protected:
    void doPlay(const RovaContent&) override {}
    void doPlay(const RovaMediaInfo& info) override
    {
        const QVariant paused = info.firstMetaData(QStringLiteral("paused-position"));
        QString entry = QStringLiteral("play ") + fileName(info.firstMetaData(QStringLiteral("uri")));
        if (paused.isValid())
            entry += QLatin1Char('@') + paused.toString();
        record(entry, [this, paused]() {
            if (paused.isValid())
                Q_EMIT rendererPaused();
            else
                Q_EMIT rendererPlaying(CurrentUri);
        });
    }
    void doStop() override { record(QStringLiteral("stop"), [this]() { Q_EMIT rendererStopped(); }); }
    void doPause() override { record(QStringLiteral("pause"), [this]() { Q_EMIT rendererPaused(); }); }
    void doResume() override { record(QStringLiteral("resume"), [this]() { Q_EMIT rendererResumed(); }); }
    void doSeek(int seconds, RovaRenderer::SeekMode mode) override
    {
        note(QStringLiteral("seek %1,%2").arg(seconds).arg(int(mode)));
    }
    bool doNextHint(const RovaContent&) override { return true; }
    bool doNextHint(const RovaMediaInfo& info) override
    {
        hint = fileName(info.firstMetaData(QStringLiteral("uri")));
        note(QStringLiteral("hint ") + (hint.isEmpty() ? QStringLiteral("-") : hint));
        return true;
    }

private:
    QString m_entered;

    void note(const QString& entry)
    {
        log << entry;
        from << m_entered;
    }
    template <typename F>
    void record(const QString& entry, F confirmation)
    {
        note(entry);
        if (confirm)
            QTimer::singleShot(0, this, confirmation);
    }
};

// Grants every request at once, so that commands reach the machine within the call.
class RovaInstantPolicy : public RovaRendererPolicy
{
public:
    bool initialize(RovaRendererPolicy::PolicyGroup) override { return true; }
    void setDefaultResources(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override {}
    void request(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override { Q_EMIT policyEvent(ResourcesGranted); }
    void release(QFlags<RovaRendererPolicy::PolicyResourceFlag>) override {}
};

// A marker event posted behind everything else: once it has come through, every
// event posted to the machine before it has been handled.
class RovaMachineMarker
{
public:
    static constexpr QEvent::Type type = QEvent::Type(QEvent::User + 900);
    explicit RovaMachineMarker(QStateMachine* machine)
        : m_machine(machine)
    {
        const auto roots = machine->findChildren<QState*>(Qt::FindDirectChildrenOnly);
        for (QState* root : roots) {
            m_transitions << new Transition(m_seen);
            root->addTransition(m_transitions.last());
        }
    }
    ~RovaMachineMarker()
    {
        for (QAbstractTransition* transition : std::as_const(m_transitions)) {
            transition->sourceState()->removeTransition(transition);
            delete transition;
        }
    }
    void post()
    {
        m_seen = false;
        m_machine->postEvent(new QEvent(type), QStateMachine::NormalPriority);
    }
    bool passed() const { return m_seen; }

private:
    class Transition : public QAbstractTransition
    {
    public:
        explicit Transition(bool& seen)
            : m_flag(seen)
        {
        }

    protected:
        bool eventTest(QEvent* event) override { return event->type() == type; }
        void onTransition(QEvent*) override { m_flag = true; }

    private:
        bool& m_flag;
    };

    QStateMachine* m_machine;
    QList<QAbstractTransition*> m_transitions;
    bool m_seen = true;
};

#endif // ROVARECORDINGRENDERER_H
