// The replay operator's screen: the archive's streams, a timeline of the recording with the
// referee's events, up to four cameras replayed in step, and marking events.
import Livery 1.0
import QtQuick 2.12
import QtQuick.Window 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Qt.labs.settings 1.0
import Trellis 1.0
import Rewind 1.0
import VelmorMediaRecorderPlugin 1.0
import Beacon 1.0
import "Format.js" as Format
import "NodeStatus.js" as NodeStatus
import "StationPalette.js" as StationPalette

ApplicationWindow {
    id: window

    width: 1600
    height: 900
    title: qsTr("TundraRecorder Client")
    color: palette.window

    // The events file of the remote events; "--events_file <path>" on the command line, else
    // the stored setting.
    property string eventsFile: commandLineValue("--events_file", settings.eventsFile)

    // The cameras being replayed (video streams) and the stream whose audio side plays.
    property var cameras: []
    property bool camerasChosenByOperator: false
    // The operator's choice by stream name, so that it outlasts the stream objects, which the
    // service makes anew whenever the archive is bound again.
    property var chosenCameraNames: []
    property var audioStream: null
    // The archive streams that hold sound: never offered or replayed as cameras.
    readonly property var audioStreamNames: audioStream ? [audioStream.name] : []

    // The replay range and position, in milliseconds since the epoch (NaN: none).
    property real replayFrom: NaN
    property real replayTo: NaN
    property bool following: false
    property bool paused: false
    property real rate: 1.0
    property real rangeLength: 10000
    property real preRoll: 3000
    readonly property real frameMs: 40
    // The position is the time of the frame the views show. Until a frame of the present start is
    // on screen (and while paused, for the steps still to show) it is kept as an anchor (replay
    // time at a wall-clock time) and the rate.
    property real anchorTime: NaN
    property real anchorWall: 0
    property real replayPosition: NaN
    readonly property real shownTime: replayLoader.item ? replayLoader.item.shownTime : NaN
    property bool frameShown: false
    // The frame the last step asked for, until it shows.
    property real stepTarget: NaN

    readonly property real liveEnd: {
        var end = NaN;
        for (var i = 0; i < cameras.length; ++i) {
            var stream = cameras[i];
            if (stream && stream.endTime && !isNaN(stream.endTime.getTime()))
                end = isNaN(end) ? stream.endTime.getTime() : Math.max(end, stream.endTime.getTime());
        }
        return end;
    }
    readonly property real recordingStart: {
        var start = NaN;
        for (var i = 0; i < cameras.length; ++i) {
            var stream = cameras[i];
            if (stream && stream.startTime && !isNaN(stream.startTime.getTime()))
                start = isNaN(start) ? stream.startTime.getTime() : Math.min(start, stream.startTime.getTime());
        }
        return start;
    }
    readonly property bool hasArchiveStart: RewindService.startTime && !isNaN(RewindService.startTime.getTime())

    // Event types in the referee's colours, and the filters built from them: the first filter
    // takes every type no other filter names.
    readonly property var eventTypes: RewindService.eventTypes
    property var hiddenTypes: ({})
    readonly property var eventFilters: {
        var filters = [{ "type": "", "color": "#c0c0c0", "visible": !hiddenTypes[""] }];
        for (var i = 0; i < eventTypes.length; ++i)
            filters.push({ "type": eventTypes[i].name, "color": eventTypes[i].color,
                           "visible": !hiddenTypes[eventTypes[i].name] });
        return filters;
    }

    function commandLineValue(option, fallback) {
        var args = Qt.application.arguments;
        for (var i = 0; i + 1 < args.length; ++i)
            if (args[i] === option)
                return args[i + 1];
        return fallback;
    }

    function colorOfType(name) {
        for (var i = 0; i < eventTypes.length; ++i)
            if (eventTypes[i].name === name)
                return String(eventTypes[i].color);
        return "";
    }

    // The configured cameras, as long as the operator has not chosen others.
    function findStreams() {
        var videos = RewindService.getAvailableVideos();
        if (!camerasChosenByOperator) {
            var found = [];
            for (var i = 0; i < videos.length && found.length < 4; ++i) {
                var stream = RewindService.getStreamByName(videos[i].source.toString());
                if (stream)
                    found.push(stream);
            }
            if (!sameList(found, cameras))
                cameras = found;
        } else {
            var chosen = [];
            for (var j = 0; j < chosenCameraNames.length; ++j) {
                var named = streamNamed(chosenCameraNames[j]);
                if (named && audioStreamNames.indexOf(named.name) < 0)
                    chosen.push(named);
            }
            if (!sameList(chosen, cameras))
                cameras = chosen;
        }
        // The archive description names the stream of the camera that plays audio.
        RewindService.getArchiveCollection();
        var audios = RewindService.getAvailableAudios();
        var audio = audios.length > 0 ? RewindService.getStreamByName(audios[0].source.toString() + " (Audio)") : null;
        if (audio !== audioStream) {
            audioStream = audio;
            // A sound stream chosen before it was known as one leaves the views.
            if (audio && camerasChosenByOperator)
                findStreams();
        }
    }

    // The video side of the first stream of that name (a storage lists it first).
    function streamNamed(name) {
        for (var i = 0; i < RewindService.storages.length; ++i) {
            var stream = RewindService.storages[i].getStreamByName(name);
            if (stream)
                return stream;
        }
        return null;
    }

    function sameList(a, b) {
        if (a.length !== b.length)
            return false;
        for (var i = 0; i < a.length; ++i)
            if (a[i] !== b[i])
                return false;
        return true;
    }

    function toggleCamera(stream, chosen) {
        if (chosen && audioStreamNames.indexOf(stream.name) >= 0)
            return;
        var list = cameras.slice();
        var at = list.indexOf(stream);
        if (chosen && at < 0 && list.length < 4)
            list.push(stream);
        else if (!chosen && at >= 0)
            list.splice(at, 1);
        camerasChosenByOperator = true;
        chosenCameraNames = list.map(function(s) { return s.name; });
        cameras = list;
    }

    function currentPosition() {
        if (isNaN(anchorTime))
            return NaN;
        if (!paused && frameShown && !isNaN(shownTime))
            return shownTime;
        var t = anchorTime + (paused ? 0 : (Date.now() - anchorWall) * rate);
        if (!isNaN(replayTo))
            t = Math.min(t, replayTo);
        return t;
    }

    function setAnchor(time) {
        anchorTime = time;
        anchorWall = Date.now();
        replayPosition = time;
        frameShown = false;
        stepTarget = NaN;
    }

    // Seconds into the range for the frame at a time: half a frame on, so that the frame that
    // begins at the time is the one the session finds there, however the times round.
    function framePosition(time) {
        return Math.max(0, time + frameMs / 2 - replayFrom) / 1000;
    }

    // Plays the cameras from a time (milliseconds since the epoch).
    function replayAt(time) {
        if (isNaN(time))
            return;
        replayFrom = time;
        replayTo = following && !isNaN(liveEnd) ? Math.max(liveEnd, time + frameMs) : time + rangeLength;
        paused = false;
        setAnchor(time);
        if (replayLoader.item)
            replayLoader.item.play(0, rate);
    }

    function jumpToEvent(time) {
        replayAt(time - preRoll);
    }

    function playLive() {
        following = true;
        replayAt(liveEnd - 5000);
    }

    function togglePause() {
        var position = currentPosition();
        paused = !paused;
        setAnchor(position);
        if (!replayLoader.item)
            return;
        if (paused)
            replayLoader.item.pause();
        else
            replayLoader.item.play(framePosition(position), rate);
    }

    function setRate(value) {
        var position = currentPosition();
        rate = value;
        setAnchor(position);
        if (replayLoader.item && !paused && !isNaN(replayFrom))
            replayLoader.item.play(framePosition(position), rate);
    }

    function changeRate(step) {
        var value = Math.max(rateSlider.from, Math.min(rateSlider.to, rate + step));
        rateSlider.value = value;
        setRate(value);
    }

    // From the frame on screen (or the one the last step asked for, not yet shown).
    function stepFrames(count) {
        if (isNaN(replayFrom))
            return;
        var position = currentPosition() + count * frameMs;
        position = Math.max(replayFrom - frameMs, isNaN(replayTo) ? position : Math.min(replayTo, position));
        paused = true;
        setAnchor(position);
        stepTarget = position;
        if (replayLoader.item)
            replayLoader.item.showFrame(framePosition(position));
    }

    // Marks an event at the replay position; without one, at the present.
    function markEvent(type, comment) {
        var event = { "type": type, "comment": comment };
        var position = currentPosition();
        if (!isNaN(position) && hasArchiveStart)
            event.time = position - RewindService.startTime.getTime();
        RewindService.setEvent(event);
    }

    // A remote source names an event's type by its number among the referee's event types
    // (counted from 1), or by its name; a type the list does not know keeps what was sent.
    function remoteTypeName(value) {
        var text = String(value).trim();
        if (colorOfType(text) !== "")
            return text;
        var number = /^[0-9]+$/.test(text) ? parseInt(text, 10) : 0;
        return number >= 1 && number <= eventTypes.length ? eventTypes[number - 1].name : text;
    }

    function onRemoteEvent(event) {
        var board = event.timeOnBoard;
        var boardMs = board && !isNaN(board.getTime())
                ? ((board.getHours() * 60 + board.getMinutes()) * 60 + board.getSeconds()) * 1000 : -1;
        var now = Date.now();
        remoteEvents.addEvent({
            "time": hasArchiveStart ? now - RewindService.startTime.getTime() : 0,
            "boardTime": boardMs,
            "type": remoteTypeName(event.value),
            "color": colorOfType(remoteTypeName(event.value)),
            "comment": event.source !== "" ? event.source + ": " + event.description : event.description
        });
    }

    Component.onCompleted: {
        StationPalette.apply(SystemPalleteSetter, window.palette);
        findStreams();
        if (beaconSettings.address !== "")
            beacon.addrLocal = beaconSettings.address;
        if (beaconSettings.portControl > 0)
            beacon.portControl = beaconSettings.portControl;
        if (beaconSettings.portFeedback > 0)
            beacon.portFeedback = beaconSettings.portFeedback;
    }

    // A frame of the replay on screen: the position is its time.
    onShownTimeChanged: {
        if (isNaN(shownTime) || isNaN(anchorTime))
            return;
        frameShown = true;
        replayPosition = shownTime;
        // A frame of an earlier step, shown on the way, is not where the steps go on from.
        if (!paused || (!isNaN(stepTarget) && Math.abs(shownTime - stepTarget) >= frameMs / 2))
            return;
        anchorTime = shownTime;
        stepTarget = NaN;
    }

    // A camera added or removed: the replay goes on from the frame on screen, as it stood (playing
    // at its rate, or paused on that frame), not from the range's start.
    onCamerasChanged: {
        if (isNaN(replayFrom) || !replayLoader.item)
            return;
        var position = currentPosition();
        setAnchor(position);
        if (paused)
            replayLoader.item.showFrame(framePosition(position));
        else
            replayLoader.item.play(framePosition(position), rate);
    }

    onLiveEndChanged: {
        if (following && !isNaN(replayFrom) && !isNaN(liveEnd))
            replayTo = Math.max(replayTo, liveEnd);
    }

    Settings {
        id: settings
        category: "Client"
        property string eventsFile: ""
    }
    Settings {
        id: beaconSettings
        category: "Beacon"
        property string address: ""
        property int portControl: 0
        property int portFeedback: 0
    }

    WindowPositionSaver {
        window: window
        name: "client"
    }

    Connections {
        target: RewindService
        function onStoragesChanged() { window.findStreams(); }
        function onArchiveChanged() { window.findStreams(); }
        function onStatusChanged() { window.findStreams(); }
    }
    Instantiator {
        model: RewindService.storages
        delegate: Connections {
            target: modelData
            function onStreamsChanged() { window.findStreams(); }
        }
    }
    Timer {
        interval: 1000
        repeat: true
        running: window.cameras.length === 0 || !window.audioStream
        onTriggered: window.findStreams()
    }
    // The position shown moves with the replay.
    Timer {
        interval: 100
        repeat: true
        running: !window.paused && !isNaN(window.anchorTime)
        onTriggered: window.replayPosition = window.currentPosition()
    }

    EventCollection {
        id: refereeEvents
        events: RewindService.eventList
        filters: window.eventFilters
    }
    EventModel {
        id: refereeModel
        eventCollection: refereeEvents
    }
    EventCollection {
        id: remoteEvents
        fileUrl: window.eventsFile !== "" ? "file://" + window.eventsFile : ""
        filters: window.eventFilters
    }
    EventModel {
        id: remoteModel
        eventCollection: remoteEvents
    }
    BeaconClient {
        id: beacon
        onEventReceived: window.onRemoteEvent(event)
    }

    // The operator's keys: Space pauses and resumes, Left and Right step a frame, Up and Down
    // change the rate, L goes live, F follows the recording, M moves to the event comment.
    Shortcut {
        sequence: "Space"
        enabled: !isNaN(window.replayFrom)
        onActivated: window.togglePause()
    }
    Shortcut {
        sequence: "Left"
        onActivated: window.stepFrames(-1)
    }
    Shortcut {
        sequence: "Right"
        onActivated: window.stepFrames(1)
    }
    Shortcut {
        sequence: "Up"
        onActivated: window.changeRate(rateSlider.stepSize)
    }
    Shortcut {
        sequence: "Down"
        onActivated: window.changeRate(-rateSlider.stepSize)
    }
    Shortcut {
        sequence: "L"
        enabled: !isNaN(window.liveEnd)
        onActivated: window.playLive()
    }
    Shortcut {
        sequence: "F"
        onActivated: {
            followCheck.toggle();
            followCheck.toggled();
        }
    }
    Shortcut {
        sequence: "M"
        onActivated: eventPanel.focusComment()
    }

    // The header fits a 1280 pixel wide screen in every language: the rate slider gives way
    // before the position clock loses a digit.
    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            spacing: 8

            Button {
                objectName: "pauseButton"
                text: window.paused ? qsTr("Play") : qsTr("Pause")
                enabled: !isNaN(window.replayFrom)
                onClicked: window.togglePause()
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Space")
            }
            Button {
                text: qsTr("\u25c0 Frame")
                enabled: !isNaN(window.replayFrom)
                onClicked: window.stepFrames(-1)
            }
            Button {
                text: qsTr("Frame \u25b6")
                enabled: !isNaN(window.replayFrom)
                onClicked: window.stepFrames(1)
            }
            Label { text: qsTr("Rate %1").arg(window.rate.toFixed(2)) }
            Slider {
                id: rateSlider
                from: 0
                to: 10
                stepSize: 0.25
                value: 1
                Layout.fillWidth: true
                Layout.minimumWidth: 80
                Layout.preferredWidth: 180
                Layout.maximumWidth: 180
                onMoved: window.setRate(value)
            }
            Button {
                text: "1\u00d7"
                onClicked: {
                    rateSlider.value = 1;
                    window.setRate(1);
                }
            }
            ComboBox {
                id: qualityChoice
                Layout.preferredWidth: 120
                model: [qsTr("Full"), qsTr("Preview")]
            }
            CheckBox {
                id: followCheck
                objectName: "followCheck"
                text: qsTr("Follow recording")
                checked: window.following
                onToggled: {
                    window.following = checked;
                    if (checked && !isNaN(window.replayFrom) && !isNaN(window.liveEnd))
                        window.replayTo = Math.max(window.replayTo, window.liveEnd);
                }
            }
            Button {
                text: qsTr("Live")
                enabled: !isNaN(window.liveEnd)
                onClicked: window.playLive()
            }
            CheckBox {
                id: soundCheck
                text: qsTr("Sound")
                checked: true
            }
            Item { Layout.fillWidth: true }
            Label {
                objectName: "positionText"
                font.bold: true
                text: Format.clock(new Date(window.replayPosition))
            }
        }
    }

    footer: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            spacing: 24
            Label {
                objectName: "archiveState"
                text: RewindService.status === RewindService.Writing ? qsTr("Recording")
                      : (RewindService.status === RewindService.Closing ? qsTr("Archive closed") : qsTr("Archive open"))
            }
            // The archive closes while the referee application does not answer: say so.
            Label {
                objectName: "refereeState"
                visible: !RewindService.refereeAnswering
                text: qsTr("Referee application not answering since %1")
                      .arg(Format.clock(RewindService.refereeSilentSince))
                color: "#e04040"
                font.bold: true
            }
            Label { text: qsTr("Recorded %1").arg(Format.duration(RewindService.duration)) }
            Label {
                text: isNaN(window.replayFrom) ? qsTr("Click the timeline or an event to replay")
                                               : qsTr("Range %1 - %2").arg(Format.clock(new Date(window.replayFrom)))
                                                 .arg(Format.clock(new Date(window.replayTo)))
            }
            Label {
                objectName: "replayStatus"
                Layout.fillWidth: true
                elide: Text.ElideRight
                text: replayComponent.status === Component.Error
                      ? qsTr("Replay unavailable: %1").arg(replayComponent.errorString().trim())
                      : (replayLoader.item ? NodeStatus.text(replayLoader.item.status, qsTr("playing"))
                                             + "  (" + replayLoader.item.detail + ")" : "")
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 6
        spacing: 6

        StreamBrowser {
            id: streamBrowser
            objectName: "streamBrowser"
            Layout.preferredWidth: 240
            Layout.fillHeight: true
            chosen: window.cameras
            audioNames: window.audioStreamNames
            onStreamToggled: window.toggleCamera(stream, chosen)
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 6

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                color: "black"

                // The media graph lives in its own file, so that the screen works without the
                // media types and says why nothing plays.
                Loader {
                    id: replayLoader
                    anchors.fill: parent
                    active: replayComponent.status === Component.Ready
                    sourceComponent: replayComponent
                    onLoaded: {
                        item.cameras = Qt.binding(function() { return window.cameras; });
                        item.audioStream = Qt.binding(function() { return window.audioStream; });
                        item.sound = Qt.binding(function() { return soundCheck.checked; });
                        // An invalid date is a null time: no range, or an open end.
                        item.from = Qt.binding(function() { return new Date(window.replayFrom); });
                        item.to = Qt.binding(function() { return new Date(window.replayTo); });
                        item.quality = Qt.binding(function() { return qualityChoice.currentIndex === 0 ? 1.0 : 0.05; });
                    }
                }
                Label {
                    anchors.centerIn: parent
                    width: parent.width - 40
                    visible: !replayLoader.item
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    color: "#a0a0a0"
                    text: replayComponent.status === Component.Error
                          ? qsTr("Replay is not available on this station:\n%1").arg(replayComponent.errorString().trim())
                          : ""
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Label { text: qsTr("Timeline") ; font.bold: true }
                ComboBox {
                    id: spanChoice
                    objectName: "spanChoice"
                    Layout.preferredWidth: 120
                    model: [qsTr("1 minute"), qsTr("5 minutes"), qsTr("15 minutes"), qsTr("1 hour"), qsTr("All")]
                    currentIndex: 1
                    readonly property var spans: [60000, 300000, 900000, 3600000, 0]
                }
                Label { text: qsTr("Replay length") }
                ComboBox {
                    id: lengthChoice
                    Layout.preferredWidth: 100
                    model: [qsTr("10 s"), qsTr("30 s"), qsTr("1 min"), qsTr("5 min")]
                    readonly property var lengths: [10000, 30000, 60000, 300000]
                    onActivated: window.rangeLength = lengths[index]
                }
                Item { Layout.fillWidth: true }
            }

            Timeline {
                id: timeline
                objectName: "timeline"
                Layout.fillWidth: true
                cameras: window.cameras
                eventModels: [refereeModel, remoteModel]
                origin: RewindService.startTime
                readonly property real end: isNaN(window.liveEnd) ? Date.now() : Math.max(window.liveEnd, isNaN(window.replayTo) ? 0 : window.replayTo)
                // Named apart from the timeline's own `span`, which its ruler reads.
                readonly property real chosenSpan: spanChoice.spans[spanChoice.currentIndex]
                viewEnd: end
                viewStart: chosenSpan > 0 ? end - chosenSpan
                                          : (isNaN(window.recordingStart) ? end - 60000 : window.recordingStart)
                replayFrom: window.replayFrom
                replayTo: window.replayTo
                replayPosition: window.replayPosition
                onSeekRequested: window.replayAt(time)
                onEventChosen: window.jumpToEvent(time)
            }
        }

        EventPanel {
            id: eventPanel
            objectName: "eventPanel"
            Layout.preferredWidth: 420
            Layout.fillHeight: true
            eventTypes: window.eventTypes
            hiddenTypes: window.hiddenTypes
            refereeModel: refereeModel
            remoteModel: remoteModel
            origin: RewindService.startTime
            canMark: RewindService.status !== RewindService.Closing
            onTypeToggled: {
                var hidden = Object.assign({}, window.hiddenTypes);
                if (shown)
                    delete hidden[name];
                else
                    hidden[name] = true;
                window.hiddenTypes = hidden;
            }
            onEventChosen: window.jumpToEvent(time)
            onMarkRequested: window.markEvent(type, comment)
        }
    }

    readonly property var replayComponent: Qt.createComponent("ReplaySession.qml")
}
