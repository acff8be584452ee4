// SPDX-License-Identifier: LGPL-2.1-or-later
// The basic renderer's command path: play() to the doPlay hook with an item
// already looked up, in event-loop turns and time, against one event posted to a
// bare QStateMachine with one transition; and the latency from the
// implementation's ready-for-next signal to the doNextHint hook, which gapless
// playback depends on, on a local store of 10,000 items.
#include "rovarecordingrenderer.h"
#include "rovatrackerfixture.h"

#include <rovageneralsourceplaylist.h>
#include <rovarendererplaylisthandler.h>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSignalTransition>
#include <QStringListModel>
#include <QTest>

#include <algorithm>

namespace {
const int itemCount = 10000;

// Turns of the event loop until \a done holds.
template <typename F>
int turnsUntil(F done)
{
    int turns = 0;
    while (!done()) {
        QCoreApplication::processEvents();
        ++turns;
    }
    return turns;
}

class OneTransition : public QAbstractTransition
{
public:
    int fired = 0;

protected:
    bool eventTest(QEvent* event) override { return event->type() == QEvent::Type(QEvent::User + 1); }
    void onTransition(QEvent*) override { ++fired; }
};
} // namespace

class bench_RovaBasicRenderer : public QObject
{
    Q_OBJECT

    std::unique_ptr<RovaTrackerFixture> store;
    QStringListModel model;
    std::unique_ptr<RovaGeneralSourcePlaylist> playlist;

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        store = std::make_unique<RovaTrackerFixture>(itemCount);
        QVERIFY2(store->isValid(), qPrintable(store->errorString()));
        store->makeDefault();
        QStringList ids;
        for (int i = 0; i < itemCount; ++i)
            ids << RovaTrackerFixture::item(i).objectId;
        model.setStringList(ids);
        playlist = std::make_unique<RovaGeneralSourcePlaylist>(RovaPlaylist::getNewPlaylistId(),
                                                               QStringLiteral("bench"), QStringLiteral("src"));
        playlist->setUnderlyingModel(&model);
    }

    void bareMachine()
    {
        QStateMachine machine;
        auto* state = new QState(&machine);
        auto* transition = new OneTransition;
        state->addTransition(transition);
        machine.setInitialState(state);
        machine.start();
        turnsUntil([&]() { return machine.isRunning(); });
        int turns = 0;
        QBENCHMARK {
            const int before = transition->fired;
            machine.postEvent(new QEvent(QEvent::Type(QEvent::User + 1)));
            turns = turnsUntil([&]() { return transition->fired > before; });
        }
        qInfo("bare machine: %d event-loop turns from postEvent() to the transition", turns);
    }

    // play() in the stop state with the current item looked up, to doPlay; a stop brings it back.
    void playToDoPlay()
    {
        RovaRecordingRenderer renderer;
        renderer.assignPlaylist(playlist.get());
        turnsUntil([&]() {
            return renderer.stateMachine()->isRunning() && renderer.playlistHandler()->currentContent()
                && renderer.playlistHandler()->currentContent()->isPlayable();
        });
        int turns = 0;
        QBENCHMARK {
            renderer.log.clear();
            renderer.play();
            turns = turnsUntil([&]() { return !renderer.log.isEmpty(); });
            Q_EMIT renderer.rendererStopped(); // back to the stop state
            turnsUntil([&]() { return renderer.machineState() == QLatin1String("stop"); });
        }
        qInfo("basic renderer: %d event-loop turns from play() to doPlay", turns);
    }

    // rendererReadyForNext() to doNextHint with the next item's URL, while playing.
    void readyForNextToHint()
    {
        RovaRecordingRenderer renderer;
        renderer.confirm = true;
        renderer.assignPlaylist(playlist.get());
        renderer.play();
        turnsUntil([&]() { return renderer.machineState() == QLatin1String("playing") && !renderer.hint.isEmpty(); });
        QList<qint64> micros;
        QElapsedTimer timer;
        for (int i = 0; i < 200; ++i) {
            renderer.hint.clear();
            renderer.log.clear();
            timer.start();
            Q_EMIT renderer.rendererReadyForNext(RovaBasicRenderer::CurrentUri);
            turnsUntil([&]() { return !renderer.hint.isEmpty(); });
            micros << timer.nsecsElapsed() / 1000;
            QVERIFY(renderer.log.size() == 2); // the hint voided, then the next item
        }
        std::sort(micros.begin(), micros.end());
        qInfo("ready-for-next to doNextHint: median %lld us, 95th percentile %lld us, max %lld us (200 runs)",
              micros.at(micros.size() / 2), micros.at(micros.size() * 95 / 100), micros.last());
    }
};

QTEST_GUILESS_MAIN(bench_RovaBasicRenderer)
#include "bench_rovabasicrenderer.moc"
