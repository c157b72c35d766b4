// The name and state of a replayed camera, over its picture.
import QtQuick 2.12
import "NodeStatus.js" as NodeStatus

Rectangle {
    property alias text: label.text
    property int status: NodeStatus.None

    anchors.left: parent.left
    anchors.top: parent.top
    anchors.margins: 4
    width: label.implicitWidth + 20
    height: label.implicitHeight + 6
    radius: 3
    color: "#a0000000"

    Rectangle {
        x: 4
        anchors.verticalCenter: parent.verticalCenter
        width: 8
        height: 8
        radius: 4
        color: NodeStatus.color(parent.status)
    }
    Text {
        id: label
        x: 16
        anchors.verticalCenter: parent.verticalCenter
        color: "white"
        font.pixelSize: 12
    }
}
