import QtQuick 2.0
import Multimedia 1.0
import Multimedia.KXExt 1.0

MediaSession {
    autoPlay: true
    property alias output: sink.output

    RunningLineSource {
        id: source
        frameSize: Qt.size(1920, 1080)
        frameRateNumerator: 25
        frameRateDenominator: 1
    }

    KXSink {
        id: sink
    }

    NodeConnection {
        from: source.output
        to: sink.videoInput
    }
}
