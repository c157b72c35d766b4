// Records one network camera: input -> H.264 encoder -> archive stream, with a live
// preview of the input.
import QtQuick 2.12
import Multimedia 1.0
import Rewind 1.0
import "NodeStatus.js" as NodeStatus

Item {
    id: recorder

    property string url
    property var stream: null
    readonly property int status: NodeStatus.combine([source.status, encoder.status, sink.status])
    readonly property string detail: qsTr("input %1, encoder %2, archive %3")
                                     .arg(source.status).arg(encoder.status).arg(sink.status)

    VideoOutput {
        id: preview
        anchors.fill: parent
        // A tile is a glance at the input, not its replay: ten pictures a second keep it live at a
        // fraction of the cost of converting every frame.
        maxFrameRate: 10
    }

    MediaSession {
        autoPlay: true

        NetworkSource {
            id: source
            url: recorder.url
        }
        H264Encoder {
            id: encoder
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
