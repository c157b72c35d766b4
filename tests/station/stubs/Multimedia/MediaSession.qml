// Stand-in for the media session: keeps its nodes and what it was told to do.
import QtQml 2.12

QtObject {
    default property list<QtObject> nodes
    property bool autoPlay: false
    property bool enabled: true
    property bool playing: false
    property real rate: 1
    property real position: 0
    signal error(int hresult)
    function play() { playing = true; }
    function pause() { playing = false; }
    function stop() { playing = false; position = 0; }
}
