// The archive's storages and their video streams; the operator picks up to four streams to replay.
// Streams that hold sound are left out: they play with the replay, not as a camera.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Rewind 1.0
import "Format.js" as Format

ColumnLayout {
    id: browser

    // The streams chosen for replay.
    property var chosen: []
    property int maxChosen: 4
    // Names of the archive streams that hold sound.
    property var audioNames: []
    readonly property var storageNames: {
        var names = [];
        for (var i = 0; i < RewindService.storages.length; ++i)
            names.push(RewindService.storages[i].name);
        return names;
    }
    property var streamNames: []

    signal streamToggled(var stream, bool chosen)

    // A storage lists every archive stream twice, its video side first and then its audio side;
    // the browser shows each stream once, by its video side.
    function videoStreams(storage) {
        var seen = {};
        var result = [];
        if (!storage)
            return result;
        for (var i = 0; i < storage.streams.length; ++i) {
            var stream = storage.streams[i];
            if (!seen[stream.name] && audioNames.indexOf(stream.name) < 0) {
                seen[stream.name] = true;
                result.push(stream);
            }
        }
        return result;
    }

    function collectNames() {
        var names = [];
        for (var i = 0; i < RewindService.storages.length; ++i) {
            var streams = videoStreams(RewindService.storages[i]);
            for (var j = 0; j < streams.length; ++j)
                names.push(RewindService.storages[i].name + "/" + streams[j].name);
        }
        streamNames = names;
    }

    spacing: 4

    Connections {
        target: RewindService
        function onStoragesChanged() { browser.collectNames(); }
    }
    Component.onCompleted: collectNames()
    onAudioNamesChanged: collectNames()

    Label { text: qsTr("Archive"); font.bold: true }
    Label {
        visible: RewindService.storages.length === 0
        text: qsTr("No storage listed yet")
        color: "#a0a0a0"
    }

    ScrollView {
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true

        Column {
            width: browser.width
            spacing: 6

            Repeater {
                model: RewindService.storages
                Column {
                    id: storageItem
                    readonly property var storage: modelData
                    property var streams: browser.videoStreams(storage)
                    width: parent.width
                    spacing: 2

                    Connections {
                        target: storageItem.storage
                        function onStreamsChanged() {
                            storageItem.streams = browser.videoStreams(storageItem.storage);
                            browser.collectNames();
                        }
                    }
                    Connections {
                        target: browser
                        function onAudioNamesChanged() {
                            storageItem.streams = browser.videoStreams(storageItem.storage);
                        }
                    }

                    Label {
                        width: parent.width
                        elide: Text.ElideRight
                        font.bold: true
                        // A storage object can go (the referee application went away) a moment
                        // before its row does.
                        text: storage ? qsTr("%1  (%2, %3)").arg(storage.name).arg(storage.driveName)
                                                            .arg(Format.bytes(storage.size))
                                      : ""
                    }
                    Repeater {
                        model: storageItem.streams
                        CheckBox {
                            readonly property var stream: modelData
                            width: storageItem.width
                            checked: browser.chosen.indexOf(stream) >= 0
                            enabled: checked || browser.chosen.length < browser.maxChosen
                            text: stream ? stream.name : ""
                            onToggled: browser.streamToggled(stream, checked)
                            ToolTip.visible: hovered
                            ToolTip.text: stream ? qsTr("%1 - %2, %3 sequences").arg(Format.clock(stream.startTime))
                                                                                 .arg(Format.clock(stream.endTime))
                                                                                 .arg(stream.sequences.length)
                                                 : ""
                        }
                    }
                }
            }
        }
    }
}
