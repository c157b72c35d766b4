import QtQml 2.12

Node {
    id: node
    kind: "H264Encoder"
    property string preset
    property int bitRate
    readonly property Pin videoInput: Pin { node: node }
    readonly property Pin output: Pin { node: node }
}
