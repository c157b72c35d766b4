// A list of events of one event model: time, board time, type in its colour and comment.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import "Format.js" as Format

ListView {
    id: list

    // Event times count milliseconds from this time.
    property var origin: null

    // Keeps the newest row (the last) in view as rows arrive, unless the operator has scrolled
    // back to older ones.
    property bool followNewest: false
    property bool atNewest: true

    signal eventChosen(real time)

    function boardText(ms) {
        if (!(ms >= 0))
            return "";
        var seconds = Math.floor(ms / 1000);
        return Format.pad(seconds / 3600) + ":" + Format.pad((seconds / 60) % 60) + ":" + Format.pad(seconds % 60);
    }

    clip: true
    spacing: 1
    ScrollBar.vertical: ScrollBar {
        onPressedChanged: {
            if (!pressed)
                list.atNewest = list.atYEnd;
        }
    }
    onMovementEnded: atNewest = atYEnd
    onCountChanged: {
        if (followNewest && atNewest)
            Qt.callLater(list.positionViewAtEnd);
    }

    delegate: Rectangle {
        readonly property real time: list.origin ? list.origin.getTime() + model.time : NaN
        width: list.width
        height: row.implicitHeight + 6
        color: mouse.containsMouse ? "#2a3845" : "transparent"

        RowLayout {
            id: row
            anchors.fill: parent
            anchors.leftMargin: 4
            anchors.rightMargin: 4
            spacing: 6
            Rectangle {
                width: 10
                height: 10
                color: model.color && model.color.a > 0 ? model.color : "#c0c0c0"
            }
            Label {
                text: Format.clock(new Date(time)).substring(0, 8)
                font.pixelSize: 12
            }
            Label {
                text: list.boardText(model.boardTime)
                font.pixelSize: 11
                color: "#a0a0a0"
            }
            Label {
                text: model.type
                font.bold: true
                font.pixelSize: 12
            }
            Label {
                Layout.fillWidth: true
                text: model.comment
                elide: Text.ElideRight
                font.pixelSize: 12
            }
        }
        MouseArea {
            id: mouse
            anchors.fill: parent
            hoverEnabled: true
            onClicked: list.eventChosen(parent.time)
        }
    }
}
