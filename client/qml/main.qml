import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    id: window
    width: 800
    height: 480
    title: qsTr("TundraRecorder Client")

    Rectangle {
        anchors.fill: parent
        color: "#24323c"

        Text {
            anchors.centerIn: parent
            color: "white"
            font.pixelSize: 28
            text: qsTr("TundraRecorder Client")
        }
    }
}
