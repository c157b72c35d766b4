import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    id: window
    width: 640
    height: 360
    title: qsTr("TundraRecorder Server")

    Rectangle {
        anchors.fill: parent
        color: "#1e3246"

        Text {
            anchors.centerIn: parent
            color: "white"
            font.pixelSize: 28
            text: qsTr("TundraRecorder Server")
        }
    }
}
