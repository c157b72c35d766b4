import QtQml 2.12

Node {
    id: node
    kind: "AudioOutput"
    readonly property Pin input: Pin { node: node }
}
