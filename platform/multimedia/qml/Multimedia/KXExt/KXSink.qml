import QtQml 2.2
import Multimedia 1.0

// Plays video to one capture-board output.
QtObject {
    property var output: null
    readonly property QtObject videoInput: QtObject {}
}
