// Records one capture-board stereo input into the audio side of an archive stream.
import QtQuick 2.12
import Multimedia 1.0
import Multimedia.KXExt 1.0
import Rewind 1.0
import "NodeStatus.js" as NodeStatus

Item {
    id: recorder

    property string url
    property var stream: null
    readonly property int status: NodeStatus.combine([source.status, sink.status])
    readonly property string detail: qsTr("input %1, archive %2").arg(source.status).arg(sink.status)

    MediaSession {
        autoPlay: true

        KXSource {
            id: source
            url: recorder.url
        }
        RewindSink {
            id: sink
            stream: recorder.stream
        }
        NodeConnection {
            from: source.output
            to: sink.input
        }
    }
}
