// One configured source: its live preview, the archive stream it records into and how far the
// recording has come.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Rewind 1.0
import "NodeStatus.js" as NodeStatus
import "Format.js" as Format

Rectangle {
    id: tile

    property string name
    property string url
    property bool audio: false
    // The archive stream found for the source; null until the service lists it.
    property var stream: null
    // Frames per second of the capture inputs, for the frame count of the recorded time.
    property real framesPerSecond: 25

    // The media chain lives in its own file, so that this tile works even when the media
    // types are not installed; their absence is reported as the chain's status.
    readonly property string chainFile: audio ? "AudioRecorder.qml"
                                              : (url.indexOf("kx:") === 0 ? "KXVideoRecorder.qml"
                                                                           : "NetworkVideoRecorder.qml")
    readonly property var chainComponent: Qt.createComponent(chainFile)
    readonly property bool chainAvailable: chainComponent.status === Component.Ready
    readonly property string chainError: chainComponent.status === Component.Error
                                         ? chainComponent.errorString().trim() : ""
    readonly property int status: recorder.item ? recorder.item.status : NodeStatus.None
    readonly property real recordedMs: Format.recordedMs(stream)
    readonly property int recordedFrames: Format.recordedFrames(stream, framesPerSecond)

    color: "#1b2530"
    border.color: NodeStatus.color(status)
    border.width: 2
    radius: 4

    Range {
        id: wholeStream
        stream: tile.stream
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 6
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            Rectangle {
                width: 12
                height: 12
                radius: 6
                color: NodeStatus.color(tile.status)
            }
            Label {
                text: tile.name
                font.bold: true
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Label {
                objectName: "statusText"
                text: !tile.stream ? qsTr("no stream") : (tile.chainAvailable ? NodeStatus.text(tile.status, qsTr("recording"))
                                                                              : qsTr("media unavailable"))
                color: NodeStatus.color(tile.status)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: "black"

            Loader {
                id: recorder
                anchors.fill: parent
                active: tile.stream !== null && tile.chainAvailable
                sourceComponent: tile.chainComponent
                onLoaded: {
                    item.url = Qt.binding(function() { return tile.url; });
                    item.stream = Qt.binding(function() { return tile.stream; });
                }
            }
            Label {
                anchors.centerIn: parent
                width: parent.width - 16
                visible: !recorder.item || tile.audio
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                color: "#a0a0a0"
                text: tile.chainError !== "" ? qsTr("Media types unavailable:\n%1").arg(tile.chainError)
                                             : (!tile.stream ? qsTr("Waiting for the archive stream")
                                                             : (tile.audio ? qsTr("Audio") : ""))
            }
        }

        Label {
            Layout.fillWidth: true
            elide: Text.ElideMiddle
            font.pixelSize: 11
            color: "#a0a0a0"
            text: tile.url + "  \u2192  " + (tile.stream ? tile.stream.name : "?")
        }
        Label {
            objectName: "recordedText"
            Layout.fillWidth: true
            font.pixelSize: 11
            text: tile.audio ? qsTr("Recorded %1, %2").arg(Format.duration(tile.recordedMs))
                                                       .arg(Format.bytes(wholeStream.size))
                             : qsTr("Recorded %1, %2 frames, %3").arg(Format.duration(tile.recordedMs))
                                                                 .arg(tile.recordedFrames)
                                                                 .arg(Format.bytes(wholeStream.size))
        }
        Label {
            visible: recorder.item !== null
            Layout.fillWidth: true
            font.pixelSize: 10
            color: "#808080"
            text: recorder.item ? recorder.item.detail : ""
        }
    }
}
