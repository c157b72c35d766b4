// Records one capture-board stereo input into the audio side of an archive stream.
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
    readonly property int status: NodeStatus.combine([source.status, sink.status])
    readonly property string detail: qsTr("input %1, archive %2").arg(NodeStatus.name(source.status))
                                                                .arg(NodeStatus.name(sink.status))
    // Why the chain does not record, in words; empty while nothing is known to be wrong.
    readonly property string failure: sink.error !== 0 ? Recording.writerFailure(sink.error)
                                    : (source.status === NodeStatus.Error ? qsTr("input lost")
                                    : (sink.status === NodeStatus.Error ? qsTr("writer failed") : ""))
    // The latest error of the session that was not the archive's (a source that stopped
    // delivering, most likely); 0 when none came since the chain was made.
    property int mediaError: 0

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
