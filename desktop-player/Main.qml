// SPDX-License-Identifier: LGPL-2.1-or-later
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qrova

ApplicationWindow {
    id: window
    width: 900
    height: 560
    visible: true
    title: player.playbackState === Player.StoppedState || !player.metaData.title ? "qrova-player"
                                                                                 : player.metaData.title + " – qrova-player"

    // What the program was started with; set by main.cpp.
    property string startupError: ""
    property string audioSink: ""
    property bool playInBackground: false
    property bool indexed: true
    // The last problem, shown above the list until the next one or a song that plays.
    property string message: startupError
    onMessageChanged: if (message !== "") console.warn(message) // also for a terminal and the logs

    function clock(ms) {
        const seconds = Math.max(0, Math.floor(ms / 1000))
        return Math.floor(seconds / 60) + ":" + String(seconds % 60).padStart(2, "0")
    }
    // Plays row `row` of the list as it is shown: the queue takes the list's songs in its order.
    function playRow(row) {
        queue.load(library)
        queue.sort(shown.sortRole, shown.sortOrder)
        player.playIndex(row)
    }
    function togglePlay() {
        if (player.playbackState === Player.PlayingState)
            player.pause()
        else
            player.play()
    }

    Library {
        id: library
        objectName: "library"
        search: searchField.text
        onBusyChanged: if (!busy) shown.load(library)
        onErrorOccurred: (code, text) => window.message = text
    }
    PlayQueue { id: shown; objectName: "shown" } // the library as the list shows it
    PlayQueue { id: queue; objectName: "queue" }
    Player {
        id: player
        objectName: "player"
        queue: queue
        audioSink: window.audioSink
        background: window.playInBackground
        onErrorOccurred: (code, text) => window.message = text
        onPlaybackStateChanged: if (playbackState === Player.PlayingState) window.message = ""
    }

    Shortcut { sequence: "Space"; onActivated: window.togglePlay() }
    Shortcut { sequence: "Ctrl+Right"; onActivated: player.next() }
    Shortcut { sequence: "Ctrl+Left"; onActivated: player.previous() }
    Shortcut { sequence: StandardKey.Find; onActivated: searchField.forceActiveFocus() }

    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            TextField {
                id: searchField
                objectName: "search"
                Layout.fillWidth: true
                placeholderText: qsTr("Search title, artist or album (Ctrl+F)")
                Keys.onDownPressed: list.forceActiveFocus()
            }
            BusyIndicator { running: library.busy; implicitHeight: searchField.implicitHeight }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Label {
            id: banner
            objectName: "message"
            Layout.fillWidth: true
            visible: text !== ""
            text: window.message !== "" ? window.message
                : !library.busy && library.count === 0 ? (library.search === "" ? qsTr("No music in the library yet: start qrova-player with a folder of music.")
                                                                                 : qsTr("No song matches “%1”.").arg(library.search))
                : ""
            wrapMode: Text.Wrap
            padding: 8
            color: "white"
            background: Rectangle { color: window.message !== "" ? "#b3261e" : "#5f6368" }
        }

        // Column headers: a click sorts by the column, a second click turns the order round.
        RowLayout {
            Layout.fillWidth: true
            spacing: 0
            Repeater {
                model: [ { role: "title", text: qsTr("Title"), width: 0.35 }, { role: "artist", text: qsTr("Artist"), width: 0.25 },
                         { role: "album", text: qsTr("Album"), width: 0.25 }, { role: "duration", text: qsTr("Duration"), width: 0.15 } ]
                delegate: Button {
                    required property var modelData
                    objectName: "sort-" + modelData.role
                    flat: true
                    Layout.preferredWidth: list.width * modelData.width
                    text: modelData.text + (shown.sortRole !== modelData.role ? "" : shown.sortOrder === Qt.AscendingOrder ? " ▲" : " ▼")
                    onClicked: shown.sort(modelData.role, shown.sortRole === modelData.role && shown.sortOrder === Qt.AscendingOrder
                                                          ? Qt.DescendingOrder : Qt.AscendingOrder)
                }
            }
        }

        ListView {
            id: list
            objectName: "songs"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: shown
            focus: true
            keyNavigationEnabled: true
            highlightMoveDuration: 0
            ScrollBar.vertical: ScrollBar { }
            Keys.onReturnPressed: window.playRow(currentIndex)
            Keys.onEnterPressed: window.playRow(currentIndex)
            delegate: ItemDelegate {
                id: row
                required property int index
                required property string title
                required property string artist
                required property string album
                required property int duration
                required property string location
                objectName: "row-" + index
                readonly property bool playing: player.playbackState !== Player.StoppedState && player.metaData.location === location
                width: ListView.view.width
                highlighted: ListView.isCurrentItem
                font.bold: playing
                background: Rectangle { color: row.playing ? "#c8e6c9" : row.highlighted ? "#e3f2fd" : "transparent" }
                contentItem: RowLayout {
                    spacing: 0
                    Label { text: row.title; elide: Text.ElideRight; Layout.preferredWidth: list.width * 0.35 }
                    Label { text: row.artist; elide: Text.ElideRight; Layout.preferredWidth: list.width * 0.25 }
                    Label { text: row.album; elide: Text.ElideRight; Layout.preferredWidth: list.width * 0.25 }
                    Label { text: window.clock(row.duration * 1000); Layout.preferredWidth: list.width * 0.15 }
                }
                onClicked: list.currentIndex = index
                onDoubleClicked: window.playRow(index)
            }
        }
    }

    footer: ToolBar {
        objectName: "nowPlaying"
        RowLayout {
            anchors.fill: parent
            ColumnLayout {
                Layout.preferredWidth: 220
                spacing: 0
                Label { objectName: "nowTitle"; text: player.metaData.title || qsTr("Nothing playing"); font.bold: true; elide: Text.ElideRight; Layout.fillWidth: true }
                Label { text: [player.metaData.artist, player.metaData.album].filter(Boolean).join(" – "); elide: Text.ElideRight; Layout.fillWidth: true }
            }
            ToolButton { text: qsTr("Previous"); onClicked: player.previous(); ToolTip.text: qsTr("Previous (Ctrl+Left)"); ToolTip.visible: hovered }
            ToolButton {
                objectName: "playPause"
                text: player.playbackState === Player.PlayingState ? qsTr("Pause") : qsTr("Play")
                onClicked: window.togglePlay()
                ToolTip.text: qsTr("Play or pause (Space)"); ToolTip.visible: hovered
            }
            ToolButton { text: qsTr("Next"); onClicked: player.next(); ToolTip.text: qsTr("Next (Ctrl+Right)"); ToolTip.visible: hovered }
            Label { text: window.clock(seek.pressed ? seek.value : player.position) }
            Slider {
                id: seek
                objectName: "seek"
                Layout.fillWidth: true
                from: 0
                to: Math.max(1, player.duration)
                // Bound to the position, and written back only when the user lets go.
                value: pressed ? value : player.position
                onPressedChanged: if (!pressed) player.seek(value)
            }
            Label { text: window.clock(player.duration) }
            ToolButton {
                objectName: "shuffle"
                text: qsTr("Shuffle")
                checkable: true
                checked: queue.shuffle
                onToggled: queue.shuffle = checked
                ToolTip.text: qsTr("Shuffle"); ToolTip.visible: hovered
            }
            ToolButton {
                objectName: "repeat"
                text: queue.repeat === PlayQueue.RepeatOne ? qsTr("Repeat one") : qsTr("Repeat")
                checkable: true
                checked: queue.repeat !== PlayQueue.RepeatNone
                onClicked: queue.repeat = (queue.repeat + 1) % 3
                ToolTip.text: qsTr("Repeat: off, one, all"); ToolTip.visible: hovered
            }
            Slider {
                objectName: "volume"
                Layout.preferredWidth: 90
                from: 0; to: 1
                value: player.volume
                onMoved: player.volume = value
            }
        }
    }
}
