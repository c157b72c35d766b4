import QtQml 2.12

Node {
    id: node
    kind: "H264Encoder"
    readonly property Pin input: Pin { node: node }
    readonly property Pin output: Pin { node: node }
}
