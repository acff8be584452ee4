// SPDX-License-Identifier: LGPL-2.1-or-later
// The guide's player, as it is written, plays a song when a row is clicked.
import QtQuick
import QtTest

TestCase {
    id: test
    name: "Guide"
    when: windowShown
    width: 480
    height: 360

    Loader { id: guide; source: guidePlayer }

    function test_clickPlays() {
        tryCompare(guide, "status", Loader.Ready)
        const player = findChild(guide.item, "player")
        player.audioSink = "fakesink sync=true"
        const view = findChild(guide.item, "songs")
        tryCompare(view, "count", 4)
        view.itemAtIndex(1).clicked() // as a click on the second row does
        tryCompare(player, "playbackState", 1)
        compare(player.metaData.title, "Tone-2")
        tryVerify(() => findChild(guide.item, "status").text === "Tone-2 – Bee")
    }
}
