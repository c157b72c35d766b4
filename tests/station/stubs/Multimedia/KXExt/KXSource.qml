import QtQml 2.12
import Multimedia 1.0

Node {
    id: node
    kind: "KXSource"
    property url url
    readonly property Pin output: Pin { node: node }
}
