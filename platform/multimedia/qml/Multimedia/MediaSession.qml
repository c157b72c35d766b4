import QtQml 2.2

// A media graph session: holds its nodes and plays them while enabled.
QtObject {
    id: session
    default property list<QtObject> nodes
    property bool autoPlay: false
    property bool enabled: true
    readonly property bool playing: autoPlay && enabled
}
