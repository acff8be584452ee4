// SPDX-License-Identifier: LGPL-2.1-or-later
// A small music player in QML: the songs of the library, a search field, and a
// player with its controls; show it in a QQuickView (or put it in an ApplicationWindow).
//! [imports]
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qrova
//! [imports]

Pane {
    width: 480
    height: 360

    //! [library]
    Library {
        id: library
        search: searchField.text // the source is asked again as the text changes
        onErrorOccurred: (code, message) => status.text = message
    }
    //! [library]

    //! [player]
    PlayQueue {
        id: queue
        repeat: PlayQueue.RepeatAll
    }
    Player {
        id: player
        objectName: "player"
        queue: queue
        onErrorOccurred: (code, message) => status.text = message
        onEndOfQueue: status.text = qsTr("That was all.")
    }
    //! [player]

    ColumnLayout {
        anchors.fill: parent
        TextField {
            id: searchField
            Layout.fillWidth: true
            placeholderText: qsTr("Search")
        }
        //! [list]
        ListView {
            objectName: "songs"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: library
            delegate: ItemDelegate {
                required property int index
                required property string title
                required property string artist
                width: ListView.view.width
                text: title + " – " + artist
                onClicked: {
                    queue.load(library) // the songs as the list shows them now
                    player.playIndex(index)
                }
            }
        }
        //! [list]
        //! [controls]
        RowLayout {
            Button { text: qsTr("Previous"); onClicked: player.previous() }
            Button {
                text: player.playbackState === Player.PlayingState ? qsTr("Pause") : qsTr("Play")
                onClicked: player.playbackState === Player.PlayingState ? player.pause() : player.play()
            }
            Button { text: qsTr("Next"); onClicked: player.next() }
            Slider {
                Layout.fillWidth: true
                to: Math.max(1, player.duration)
                value: pressed ? value : player.position // follows the song, seeks on release
                onPressedChanged: if (!pressed) player.seek(value)
            }
            CheckBox { text: qsTr("Shuffle"); checked: queue.shuffle; onToggled: queue.shuffle = checked }
        }
        Label {
            id: status
            objectName: "status"
            Layout.fillWidth: true
            text: player.metaData.title ? player.metaData.title + " – " + player.metaData.artist : ""
        }
        //! [controls]
    }
}
