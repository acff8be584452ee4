// SPDX-License-Identifier: LGPL-2.1-or-later
// A basic renderer whose implementation hooks only record what they were asked,
// for the renderer tests, the renderer test plugin and the benchmarks.
#ifndef ROVARECORDINGRENDERER_H
#define ROVARECORDINGRENDERER_H

#include <rovabasicrenderer.h>

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
        // Every leaf state has a name.
        const auto states = stateMachine()->findChildren<QAbstractState*>();
        for (QAbstractState* state : states) {
            if (!state->objectName().isEmpty())
                connect(state, &QAbstractState::entered, this, [this, state]() { m_entered = state->objectName(); });
        }
        const auto roots = stateMachine()->findChildren<QState*>(Qt::FindDirectChildrenOnly);
        for (QState* root : roots)
            root->addTransition(new MarkerTransition(markersTaken));
    }

    // When set, each hook confirms itself with its notification signal on the
    // next turn of the event loop, as a real implementation would.
    bool confirm = false;
    // The hook calls, e.g. "play item1.mp3@5", "hint item2.mp3", "hint -", "seek 7,0", "stop".
    QStringList log;
    // For each entry of the log, the state the machine was leaving or staying in.
    QStringList from;
    QString hint;
    bool hintTaken = false;
    // Marker events the machine has taken: once the count grows after
    // postMarker(), every event posted to the machine before it has been handled.
    int markersTaken = 0;

    using RovaBasicRenderer::playlistHandler;
    using RovaBasicRenderer::stateMachine;

    void postMarker() { stateMachine()->postEvent(new QEvent(markerType)); }

    // The machine's active leaf state, the named state entered last: "stop", "pending", "uriPlaying", ...
    QString machineState() const { return m_entered; }

protected:
    // Only the content forms of the hooks: the base class turns media infos into contents.
    using RovaBasicRenderer::doNextHint;
    using RovaBasicRenderer::doPlay;
    void doPlay(const RovaContent& content) override
    {
        const QVariant paused = content.metaData(QStringLiteral("paused-position"));
        QString entry = QStringLiteral("play ") + fileName(content);
        if (paused.isValid())
            entry += QLatin1Char('@') + paused.toString();
        for (const auto& [key, word] : {std::pair{"start-position", " from "}, std::pair{"mime-type", " as "}}) {
            const QVariant value = content.metaData(QLatin1String(key));
            if (value.isValid())
                entry += QLatin1String(word) + value.toString();
        }
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
        record(QStringLiteral("seek %1,%2").arg(seconds).arg(int(mode)), nullptr);
    }
    bool doNextHint(const RovaContent& content) override
    {
        const QString name = fileName(content);
        record(QStringLiteral("hint ") + (name.isEmpty() ? QStringLiteral("-") : name), nullptr);
        // An implementation already playing on into its hint cannot let go of it.
        if (name.isEmpty() && hintTaken)
            return false;
        hint = name;
        return true;
    }

private:
    static constexpr QEvent::Type markerType = QEvent::Type(QEvent::User + 900);
    struct MarkerTransition : QAbstractTransition
    {
        explicit MarkerTransition(int& taken) : count(taken) {}
        bool eventTest(QEvent* event) override { return event->type() == markerType; }
        void onTransition(QEvent*) override { ++count; }
        int& count;
    };

    QString m_entered;

    static QString fileName(const RovaContent& content) { return content.metaData(QStringLiteral("uri")).toUrl().fileName(); }
    void record(const QString& entry, std::function<void()> confirmation)
    {
        log << entry;
        from << m_entered;
        if (confirm && confirmation)
            QTimer::singleShot(0, this, confirmation);
    }
};

#endif // ROVARECORDINGRENDERER_H
