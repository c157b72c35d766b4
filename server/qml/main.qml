// The recording station: records every configured source into its archive stream and shows
// the inputs, the recording's progress and the archive's state.
import Livery 1.0
import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Trellis 1.0
import Rewind 1.0
import "Format.js" as Format
import "StationPalette.js" as StationPalette

ApplicationWindow {
    id: window

    width: 1280
    height: 800
    title: qsTr("TundraRecorder Server")
    color: palette.window

    // The configured sources and the archive stream found for each (null until found).
    readonly property var videoSources: RewindService.getAvailableVideos()
    readonly property var audioSources: RewindService.getAvailableAudios()
    property var videoStreams: []
    property var audioStream: null
    readonly property int foundStreams: countFound(videoStreams) + (audioStream ? 1 : 0)
    readonly property int configuredStreams: videoSources.length + audioSources.length

    function countFound(streams) {
        var n = 0;
        for (var i = 0; i < streams.length; ++i)
            if (streams[i])
                ++n;
        return n;
    }

    // Streams exist only once the service has bound the archive and listed its storages, and
    // they are made anew after every restart of the archive, so this runs on every change.
    function findStreams() {
        var streams = [];
        for (var i = 0; i < videoSources.length; ++i)
            streams.push(RewindService.getStreamByName(videoSources[i].source.toString()));
        if (!sameStreams(streams, videoStreams))
            videoStreams = streams;
        // The archive description names the stream of the camera that plays audio; an audio
        // URL is then looked up as that stream's audio side.
        RewindService.getArchiveCollection();
        var audio = audioSources.length > 0
                ? RewindService.getStreamByName(audioSources[0].source.toString() + " (Audio)") : null;
        if (audio !== audioStream)
            audioStream = audio;
    }

    function sameStreams(a, b) {
        if (a.length !== b.length)
            return false;
        for (var i = 0; i < a.length; ++i)
            if (a[i] !== b[i])
                return false;
        return true;
    }

    function statusText(status) {
        switch (status) {
        case RewindService.Writing: return qsTr("Writing");
        case RewindService.Closing: return qsTr("Closed");
        default: return qsTr("Reading");
        }
    }

    Component.onCompleted: {
        StationPalette.apply(SystemPalleteSetter, window.palette);
        findStreams();
    }

    WindowPositionSaver {
        window: window
        name: "server"
    }

    Connections {
        target: RewindService
        function onStoragesChanged() { window.findStreams(); }
        function onArchiveChanged() { window.findStreams(); }
        function onStatusChanged() { window.findStreams(); }
    }

    // A storage lists its streams a moment after it appears.
    Instantiator {
        model: RewindService.storages
        delegate: Connections {
            target: modelData
            function onStreamsChanged() { window.findStreams(); }
        }
    }

    // Streams that are still missing, or were lost when the archive closed, are looked for again.
    Timer {
        interval: 1000
        repeat: true
        running: window.foundStreams < window.configuredStreams
        onTriggered: window.findStreams()
    }

    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            spacing: 24
            Label {
                objectName: "serviceStatus"
                text: qsTr("Archive: %1").arg(window.statusText(RewindService.status))
                font.bold: true
            }
            Label { text: qsTr("Started: %1").arg(Format.clock(RewindService.startTime)) }
            Label { text: qsTr("Duration: %1").arg(Format.duration(RewindService.duration)) }
            Label { text: qsTr("Disk: %1").arg(Format.bytes(RewindService.diskSize)) }
            // The archive is open only while the referee application answers: its absence is
            // why recording stopped, and the operator is told so.
            Label {
                objectName: "refereeState"
                visible: !RewindService.refereeAnswering
                text: qsTr("Referee application not answering since %1")
                      .arg(Format.clock(RewindService.refereeSilentSince))
                color: "#e04040"
                font.bold: true
            }
            Label {
                objectName: "streamsFound"
                text: qsTr("Streams: %1 of %2").arg(window.foundStreams).arg(window.configuredStreams)
            }
            Item { Layout.fillWidth: true }
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        GridLayout {
            id: grid
            Layout.fillWidth: true
            Layout.fillHeight: true
            columns: Math.max(1, Math.ceil(Math.sqrt(window.configuredStreams)))
            rowSpacing: 8
            columnSpacing: 8

            Repeater {
                model: window.videoSources
                SourceTile {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    name: modelData.name
                    url: modelData.source.toString()
                    stream: index < window.videoStreams.length ? window.videoStreams[index] : null
                }
            }
            Repeater {
                model: window.audioSources
                SourceTile {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    audio: true
                    name: modelData.name
                    url: modelData.source.toString()
                    stream: window.audioStream
                }
            }
        }

        Pane {
            Layout.preferredWidth: 320
            Layout.fillHeight: true

            ColumnLayout {
                anchors.fill: parent
                spacing: 6

                Label { text: qsTr("Storages"); font.bold: true }
                Repeater {
                    model: RewindService.storages
                    StorageStatsView {
                        Layout.fillWidth: true
                        storage: modelData
                    }
                }
                Label {
                    visible: RewindService.storages.length === 0
                    text: qsTr("No storage listed yet")
                    color: "#a0a0a0"
                }

                Label { text: qsTr("Drives"); font.bold: true; Layout.topMargin: 12 }
                Repeater {
                    model: RewindService.drives
                    Label {
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: qsTr("%1: %2 free of %3").arg(modelData.name).arg(Format.bytes(modelData.freeSize))
                                                       .arg(Format.bytes(modelData.size))
                    }
                }

                Label { text: qsTr("Memory"); font.bold: true; Layout.topMargin: 12 }
                Label {
                    text: RewindService.memoryStats
                          ? qsTr("%1 free of %2").arg(Format.bytes(RewindService.memoryStats.availPhysMemory))
                                                 .arg(Format.bytes(RewindService.memoryStats.totalPhysMemory))
                          : ""
                }
                Item { Layout.fillHeight: true }
            }
        }
    }
}
