// Records one capture-board video input: input -> H.264 encoder -> archive stream, with a live
// preview of the input.
import QtQuick 2.12
import Multimedia 1.0
import Multimedia.KXExt 1.0
import Rewind 1.0
import "NodeStatus.js" as NodeStatus
import "Recording.js" as Recording

Item {
    id: recorder

    property string url
    property var stream: null
    readonly property int status: NodeStatus.combine([source.status, encoder.status, sink.status])
    readonly property string detail: qsTr("input %1, encoder %2, archive %3")
                                     .arg(NodeStatus.name(source.status)).arg(NodeStatus.name(encoder.status))
                                     .arg(NodeStatus.name(sink.status))
    // Why the chain does not record, in words; empty while nothing is known to be wrong.
    readonly property string failure: sink.error !== 0 ? Recording.writerFailure(sink.error)
                                    : (source.status === NodeStatus.Error ? qsTr("input lost")
                                    : (encoder.status === NodeStatus.Error ? qsTr("encoder failed")
                                    : (sink.status === NodeStatus.Error ? qsTr("writer failed") : "")))
    // The latest error of the session that was not the archive's (a source that stopped
    // delivering, most likely); 0 when none came since the chain was made.
    property int mediaError: 0

    VideoOutput {
        id: preview
        anchors.fill: parent
        // A tile is a glance at the input, not its replay: ten pictures a second keep it live at a
        // fraction of the cost of converting every frame.
        maxFrameRate: 10
    }

    MediaSession {
        autoPlay: true
        // The archive's own failures reach the sink's error as well, with their cause.
        onError: {
            if (hresult !== sink.error && !Recording.isWriterFailure(hresult))
                recorder.mediaError = hresult;
        }

        KXSource {
            id: source
            url: recorder.url
        }
        H264Encoder {
            id: encoder
            // Four 1080p inputs encode in real time on a busy station without losing frames.
            preset: "ultrafast"
        }
        RewindSink {
            id: sink
            stream: recorder.stream
        }
        NodeConnection {
            from: source.output
            to: encoder.videoInput
        }
        NodeConnection {
            from: encoder.output
            to: sink.input
        }
        NodeConnection {
            from: source.output
            to: preview.videoInput
        }
    }
}
