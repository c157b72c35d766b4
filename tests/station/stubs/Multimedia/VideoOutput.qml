import QtQuick 2.12

Item {
    id: view
    readonly property string kind: "VideoOutput"
    property int status: 0
    property int maxFrameRate: 0
    property real frameTime: NaN
    readonly property Pin videoInput: Pin { node: view }
}
