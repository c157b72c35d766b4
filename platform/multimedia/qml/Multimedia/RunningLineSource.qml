import QtQml 2.2
import Multimedia 1.0

// A test-signal source: a running line over a frame of the given size and rate.
QtObject {
    property size frameSize: Qt.size(1920, 1080)
    property int frameRateNumerator: 25
    property int frameRateDenominator: 1
    readonly property NodeOutput output: NodeOutput {}
}
