import QtQml 2.12

Node {
    id: node
    kind: "NetworkSource"
    property url url
    readonly property Pin output: Pin { node: node }
}
