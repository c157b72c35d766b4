import QtQml 2.12
import Multimedia 1.0

Node {
    id: node
    kind: "RewindSource"
    property QtObject stream
    property date from
    property date to
    property real quality
    property real keyFrameOnlyRate: 0
    property bool keyFramesOnly: false
    readonly property Pin videoOutput: Pin { node: node }
    readonly property Pin audioOutput: Pin { node: node }
}
