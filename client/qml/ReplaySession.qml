// Replays up to four cameras over one time range in one media session, so that they stay in
// step, with the sound of the camera that plays audio.
import QtQuick 2.12
import Multimedia 1.0
import Rewind 1.0
import "NodeStatus.js" as NodeStatus

Item {
    id: replay

    // Up to four video streams, in the order of the views.
    property var cameras: []
    property var audioStream: null
    property bool sound: true
    // The range replayed; an invalid date is a null time (no range, or an open end).
    property date from: new Date(NaN)
    property date to: new Date(NaN)
    property real quality: 1.0
    // The camera whose frames give the replay's time (the first one unless chosen otherwise).
    property int clockCamera: 0
    // The recording time of the frame that camera's view shows, in milliseconds since the epoch
    // (NaN before its first frame).
    readonly property real shownTime: {
        var views = [view0, view1, view2, view3];
        var view = views[Math.max(0, Math.min(clockCamera, cameras.length - 1, 3))];
        return view ? view.frameTime : NaN;
    }

    readonly property var statuses: {
        var s = [source0.status, source1.status, source2.status, source3.status];
        return s.slice(0, Math.min(4, cameras.length));
    }
    readonly property int status: NodeStatus.combine(statuses)
    readonly property string detail: {
        var parts = [];
        for (var i = 0; i < statuses.length; ++i)
            parts.push(qsTr("camera %1: %2").arg(i + 1).arg(NodeStatus.name(statuses[i])));
        return parts.join(", ");
    }

    // Plays from a position in seconds after `from` at a rate of 0 to 10; rate 0 holds the
    // frame at the position.
    function play(position, rate) {
        session.rate = rate;
        session.position = position;
        session.play();
    }
    function pause() {
        session.pause();
    }
    function showFrame(position) {
        play(position, 0);
    }

    Grid {
        id: grid
        readonly property int shown: Math.max(1, Math.min(4, replay.cameras.length))
        readonly property real cellWidth: (replay.width - spacing * (columns - 1)) / columns
        readonly property real cellHeight: (replay.height - spacing * (rows - 1)) / rows
        anchors.fill: parent
        columns: shown > 1 ? 2 : 1
        rows: shown > 2 ? 2 : 1
        spacing: 4

        VideoOutput {
            id: view0
            visible: replay.cameras.length > 0
            width: grid.cellWidth
            height: grid.cellHeight
            CameraCaption {
                text: replay.cameras.length > 0 && replay.cameras[0] ? replay.cameras[0].name : ""
                status: source0.status
            }
        }
        VideoOutput {
            id: view1
            visible: replay.cameras.length > 1
            width: grid.cellWidth
            height: grid.cellHeight
            CameraCaption {
                text: replay.cameras.length > 1 && replay.cameras[1] ? replay.cameras[1].name : ""
                status: source1.status
            }
        }
        VideoOutput {
            id: view2
            visible: replay.cameras.length > 2
            width: grid.cellWidth
            height: grid.cellHeight
            CameraCaption {
                text: replay.cameras.length > 2 && replay.cameras[2] ? replay.cameras[2].name : ""
                status: source2.status
            }
        }
        VideoOutput {
            id: view3
            visible: replay.cameras.length > 3
            width: grid.cellWidth
            height: grid.cellHeight
            CameraCaption {
                text: replay.cameras.length > 3 && replay.cameras[3] ? replay.cameras[3].name : ""
                status: source3.status
            }
        }
    }

    MediaSession {
        id: session
        autoPlay: true

        RewindSource {
            id: source0
            stream: replay.cameras.length > 0 ? replay.cameras[0] : null
            from: replay.from
            to: replay.to
            quality: replay.quality
        }
        VideoDecoder {
            id: decoder0
            keyFrameOnlyRate: source0.keyFrameOnlyRate
            keyFramesOnly: source0.keyFramesOnly
        }
        NodeConnection {
            from: source0.videoOutput
            to: decoder0.videoInput
        }
        NodeConnection {
            from: decoder0.output
            to: view0.videoInput
        }
        RewindSource {
            id: source1
            stream: replay.cameras.length > 1 ? replay.cameras[1] : null
            from: replay.from
            to: replay.to
            quality: replay.quality
        }
        VideoDecoder {
            id: decoder1
            keyFrameOnlyRate: source1.keyFrameOnlyRate
            keyFramesOnly: source1.keyFramesOnly
        }
        NodeConnection {
            from: source1.videoOutput
            to: decoder1.videoInput
        }
        NodeConnection {
            from: decoder1.output
            to: view1.videoInput
        }
        RewindSource {
            id: source2
            stream: replay.cameras.length > 2 ? replay.cameras[2] : null
            from: replay.from
            to: replay.to
            quality: replay.quality
        }
        VideoDecoder {
            id: decoder2
            keyFrameOnlyRate: source2.keyFrameOnlyRate
            keyFramesOnly: source2.keyFramesOnly
        }
        NodeConnection {
            from: source2.videoOutput
            to: decoder2.videoInput
        }
        NodeConnection {
            from: decoder2.output
            to: view2.videoInput
        }
        RewindSource {
            id: source3
            stream: replay.cameras.length > 3 ? replay.cameras[3] : null
            from: replay.from
            to: replay.to
            quality: replay.quality
        }
        VideoDecoder {
            id: decoder3
            keyFrameOnlyRate: source3.keyFrameOnlyRate
            keyFramesOnly: source3.keyFramesOnly
        }
        NodeConnection {
            from: source3.videoOutput
            to: decoder3.videoInput
        }
        NodeConnection {
            from: decoder3.output
            to: view3.videoInput
        }
        RewindSource {
            id: soundSource
            stream: replay.sound ? replay.audioStream : null
            from: replay.from
            to: replay.to
        }
        AudioOutput {
            id: speaker
            objectName: "replaySpeaker"
        }
        NodeConnection {
            from: soundSource.audioOutput
            to: speaker.input
        }
    }
}
