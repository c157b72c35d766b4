// One configured source: its live preview, the archive stream it records into and how far the
// recording has come.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Rewind 1.0
import "NodeStatus.js" as NodeStatus
import "Format.js" as Format
import "Recording.js" as Recording

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
    // Frames the archive holds for the source, and the frame times its sequences miss since the
    // tile started recording: from the archive, not from the chain's state.
    readonly property int recordedFrames: stream ? stream.frameCount : 0
    readonly property int lostFrames: stream && !isNaN(recordingSince.getTime())
                                      ? (stream.frameCount, stream.lostFrames(framesPerSecond, recordingSince)) : 0
    property date recordingSince: new Date(NaN)

    // "recording" holds only while the stream's last frame moves on in the archive.
    property bool growing: false
    property real lastGrowthMs: 0
    property real lastEndMs: NaN
    readonly property string failure: recorder.item ? recorder.item.failure : ""
    // What the tile shows, as one of "referee", "nostream", "unavailable", "failed", "inputlost",
    // "recording", "starting", "stalled".
    readonly property string recordingState: {
        if (!stream)
            return RewindService.refereeAnswering ? "nostream" : "referee";
        if (!chainAvailable)
            return "unavailable";
        if (failure !== "")
            return "failed";
        if (growing)
            return "recording";
        if (recorder.item && recorder.item.mediaError !== 0)
            return "inputlost";
        return status === NodeStatus.Ready ? "stalled" : "starting";
    }
    readonly property string stateText: {
        switch (recordingState) {
        case "referee": return qsTr("referee application not answering since %1")
                               .arg(Format.clock(RewindService.refereeSilentSince));
        case "nostream": return qsTr("no stream");
        case "unavailable": return qsTr("media unavailable");
        case "failed": return qsTr("not recording: %1").arg(failure);
        case "inputlost": return qsTr("not recording: input lost");
        case "recording": return qsTr("recording");
        case "stalled": return qsTr("not recording");
        default: return qsTr("starting");
        }
    }
    readonly property color stateColor: recordingState === "recording" ? NodeStatus.color(NodeStatus.Ready)
                                        : (recordingState === "starting" ? NodeStatus.color(NodeStatus.Creating)
                                        : (recordingState === "nostream" ? NodeStatus.color(NodeStatus.None)
                                                                : NodeStatus.color(NodeStatus.Error)))

    function checkGrowth() {
        var end = stream ? stream.endTime : null;
        var endMs = end && !isNaN(end.getTime()) ? end.getTime() : NaN;
        if (!isNaN(lastEndMs) && endMs > lastEndMs) {
            lastGrowthMs = Date.now();
            if (recorder.item)
                recorder.item.mediaError = 0;
        }
        if (!isNaN(endMs))
            lastEndMs = endMs;
        growing = lastGrowthMs > 0 && Date.now() - lastGrowthMs < Recording.GrowthWindowMs;
    }

    onStreamChanged: {
        lastEndMs = NaN;
        lastGrowthMs = 0;
        growing = false;
        if (stream && isNaN(recordingSince.getTime()))
            recordingSince = new Date();
        checkGrowth();
    }

    Connections {
        target: tile.stream
        function onEndTimeChanged() { tile.checkGrowth(); }
    }
    Timer {
        interval: 250
        repeat: true
        running: tile.stream !== null
        onTriggered: tile.checkGrowth()
    }

    color: "#1b2530"
    border.color: stateColor
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
                color: tile.stateColor
            }
            Label {
                text: tile.name
                font.bold: true
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Label {
                objectName: "statusText"
                text: tile.stateText
                color: tile.stateColor
                elide: Text.ElideRight
                Layout.maximumWidth: tile.width * 0.7
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
                             : qsTr("Recorded %1, %2 frames stored, %3 lost, %4")
                                   .arg(Format.duration(tile.recordedMs)).arg(tile.recordedFrames)
                                   .arg(tile.lostFrames).arg(Format.bytes(wholeStream.size))
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
