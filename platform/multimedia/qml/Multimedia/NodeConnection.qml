import QtQml 2.2

// Connects a node's output to another node's input.
QtObject {
    property QtObject from: null
    property QtObject to: null
    readonly property bool connected: from !== null && to !== null
}
