import QtQml 2.12

Node {
    id: node
    kind: "VideoDecoder"
    property real keyFrameOnlyRate: 0
    property bool keyFramesOnly: false
    readonly property Pin videoInput: Pin { node: node }
    readonly property Pin output: Pin { node: node }
}
