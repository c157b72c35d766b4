import QtQuick 2.12

Item {
    id: view
    readonly property string kind: "VideoOutput"
    property int status: 0
    readonly property Pin videoInput: Pin { node: view }
}
