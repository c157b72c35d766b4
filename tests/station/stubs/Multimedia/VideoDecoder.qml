import QtQml 2.12

Node {
    id: node
    kind: "VideoDecoder"
    readonly property Pin videoInput: Pin { node: node }
    readonly property Pin output: Pin { node: node }
}
