import QtQml 2.12

Node {
    id: node
    kind: "VideoDecoder"
    readonly property Pin input: Pin { node: node }
    readonly property Pin output: Pin { node: node }
}
