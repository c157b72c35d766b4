pragma Singleton
import QtQml 2.2

// The capture board's outputs.
QtObject {
    readonly property var outputs: [
        { "name": "KX788 Board 1 Output 1" },
        { "name": "KX788 Board 1 Output 2" },
        { "name": "KX788 Board 1 Output 3" },
        { "name": "KX788 Board 1 Output 4" }
    ]
}
