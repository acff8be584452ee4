// SPDX-License-Identifier: LGPL-2.1-or-later
import QtQuick
import QtTest
import Qrova

TestCase {
    id: test
    name: "Qrova"

    Library { id: library; search: "tone" }
    Library { id: everything }
    PlayQueue { id: queue }
    Player { id: player; queue: queue; audioSink: "fakesink sync=true" }
    SignalSpy { id: positions; target: player; signalName: "positionChanged" }
    SignalSpy { id: errors; target: player; signalName: "errorOccurred" }
    SignalSpy { id: ends; target: player; signalName: "endOfQueue" }
    SignalSpy { id: libraryErrors; target: library; signalName: "errorOccurred" }

    function titles(model) {
        let all = []
        for (let row = 0; row < model.count; ++row)
            all.push(model.get(row).title)
        return all.join(",")
    }
    function loadTones() {
        tryCompare(library, "busy", false)
        queue.sort("")
        queue.shuffle = false
        queue.repeat = PlayQueue.RepeatNone
        queue.load(library)
        compare(titles(queue), "Tone-3,Tone-2,Tone-1")
    }

    function init() {
        errors.clear(); ends.clear(); positions.clear(); libraryErrors.clear()
    }
    function cleanup() {
        player.stop()
        tryCompare(player, "playbackState", Player.StoppedState)
        library.search = "tone"
    }

    // Every song of the store, ordered by artist, with its roles as the store has them.
    function test_library() {
        tryCompare(everything, "count", 4)
        compare(everything.busy, false)
        compare(JSON.stringify(everything.get(0)), JSON.stringify({
            album: "Tones", artist: "Ay", duration: 6, location: musicFolder + "/t3.flac", title: "Tone-3", trackNumber: 3 }))
        compare(titles(everything), "Tone-3,Tone-2,Tone-1,Zed")
    }

    function test_search_data() {
        return [
            { tag: "title", search: "TONE-2", titles: "Tone-2", error: 0 },
            { tag: "artist or album", search: "lo", titles: "Zed", error: 0 },
            { tag: "nothing", search: "zzz", titles: "", error: 0 },
            { tag: "control character", search: "a\u0001", titles: "", error: 402 },
        ]
    }
    function test_search(data) {
        if (data.error)
            ignoreWarning(new RegExp("^RovaTrackerSource::query: the search text holds control characters"))
        library.search = data.search
        tryVerify(() => !library.busy && (titles(library) === data.titles) && libraryErrors.count === (data.error ? 1 : 0))
        if (data.error)
            compare(libraryErrors.signalArguments[0][0], data.error)
    }

    // Sorting, shuffling and repeating are seen in the model; the current song stays current.
    function test_queue_data() {
        return [
            { tag: "title ascending", role: "title", order: Qt.AscendingOrder, titles: "Tone-1,Tone-2,Tone-3" },
            { tag: "artist descending", role: "artist", order: Qt.DescendingOrder, titles: "Tone-1,Tone-2,Tone-3" },
            { tag: "duration descending", role: "duration", order: Qt.DescendingOrder, titles: "Tone-3,Tone-2,Tone-1" },
            { tag: "track number", role: "trackNumber", order: Qt.AscendingOrder, titles: "Tone-1,Tone-2,Tone-3" },
            { tag: "as loaded", role: "", order: Qt.AscendingOrder, titles: "Tone-3,Tone-2,Tone-1" },
        ]
    }
    function test_queue(data) {
        loadTones()
        compare(queue.sort(data.role, data.order), true)
        compare(titles(queue), data.titles)
        compare(queue.sortRole, data.role)
        queue.shuffle = true
        compare(queue.sortRole, "")
        compare(titles(queue).split(",").sort().join(","), "Tone-1,Tone-2,Tone-3")
        queue.shuffle = false
        compare(titles(queue), "Tone-3,Tone-2,Tone-1")
        ignoreWarning(new RegExp("cannot sort by \"isCurrent\""))
        compare(queue.sort("isCurrent"), false)
    }

    // Commands and what the player shows of them: state, song, position, the current row.
    function test_playback() {
        loadTones()
        player.playIndex(1)
        tryCompare(player, "playbackState", Player.PlayingState)
        compare(player.metaData.title, "Tone-2")
        compare(player.duration, 5000)
        compare(queue.currentIndex, 1)
        compare(queue.get(1).isCurrent, true)
        compare(queue.get(0).isCurrent, false)
        positions.clear()
        positions.wait(1100) // one is enough to begin with...
        tryVerify(() => positions.count >= 4, 1100) // ...then at least four a second
        verify(player.position > 0 && player.position < 5000)
        player.seek(3000)
        tryVerify(() => player.position >= 3000 && player.position < 4000)
        player.pause()
        tryCompare(player, "playbackState", Player.PausedState)
        const paused = player.position
        wait(300)
        compare(player.position, paused)
        player.play() // resumes
        tryCompare(player, "playbackState", Player.PlayingState)
        player.next()
        tryVerify(() => player.metaData.title === "Tone-1")
        compare(queue.currentIndex, 2)
        player.previous()
        tryVerify(() => player.metaData.title === "Tone-2")
        compare(player.currentIndex, 1)
        player.next()
        tryVerify(() => player.currentIndex === 2 && player.position > 0)
        queue.sort("title") // the song plays on at the row sorting gave it
        verify(player.position > 0)
        compare(queue.currentIndex, 0)
        compare(player.currentIndex, 0)
        compare(queue.get(0).isCurrent, true)
        compare(player.playbackState, Player.PlayingState)
        compare(errors.count, 0)
    }

    // The last song ends the queue; with repeat all the first follows it.
    function test_end_data() {
        return [ { tag: "no repeat", repeat: PlayQueue.RepeatNone, ends: 1, next: "Tone-1" },
                 { tag: "repeat all", repeat: PlayQueue.RepeatAll, ends: 0, next: "Tone-3" } ]
    }
    function test_end(data) {
        loadTones()
        queue.repeat = data.repeat
        player.playIndex(2)
        tryVerify(() => player.metaData.title === "Tone-1")
        tryCompare(player, "playbackState", Player.PlayingState)
        player.seek(3000)
        tryVerify(() => ends.count === data.ends && player.metaData.title === data.next, 5000)
        if (data.ends)
            tryCompare(player, "playbackState", Player.PausedState)
    }

    // A song whose file is gone is reported with its location and skipped.
    function test_missing_file() {
        tryCompare(everything, "count", 4)
        queue.repeat = PlayQueue.RepeatAll
        queue.load(everything)
        player.playIndex(3)
        tryVerify(() => errors.count > 0)
        verify(errors.signalArguments[0][0] >= 301 && errors.signalArguments[0][0] <= 322, errors.signalArguments[0][0])
        verify(errors.signalArguments[0][1].indexOf(musicFolder + "/gone.flac") >= 0, errors.signalArguments[0][1])
        tryVerify(() => player.metaData.title === "Tone-3", 10000)
        tryCompare(player, "playbackState", Player.PlayingState)
        compare(queue.currentIndex, 0)
    }

    Component { id: elsewhere; Player { rendererUuid: "nowhere" } }
    Component { id: spy; SignalSpy { } }
    Component { id: noSource; Library { sourceUuid: "nowhere" } }
    // Without a renderer or a source: an error, and commands that only say so.
    function test_missing_parts() {
        const lost = createTemporaryObject(elsewhere, test)
        const lostErrors = createTemporaryObject(spy, test, { target: lost, signalName: "errorOccurred" })
        tryCompare(lostErrors, "count", 1)
        compare(lostErrors.signalArguments[0][1], "no renderer \"nowhere\" in " + pluginFolder)
        compare(lost.available, false)
        lost.play()
        compare(lostErrors.count, 2)
        const none = createTemporaryObject(noSource, test)
        tryCompare(none, "errorString", "no source \"nowhere\" in " + pluginFolder)
        compare(none.count, 0)
    }
}
