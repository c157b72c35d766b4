import QtQml 2.12
import Multimedia 1.0

Node {
    id: node
    kind: "RewindSink"
    property QtObject stream
    property int error: 0
    readonly property Pin input: Pin { node: node }
}
