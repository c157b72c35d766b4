// The recorded sequences of the replayed cameras on one time axis, with the events as coloured
// marks, the replay range and the replay position. A click plays from the clicked time.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import "Format.js" as Format

Rectangle {
    id: timeline

    property var cameras: []
    // Event models whose "time" role counts milliseconds from `origin`.
    property var eventModels: []
    property var origin: null
    // The times shown, in milliseconds since the epoch.
    property real viewStart: 0
    property real viewEnd: 1
    property real replayFrom: NaN
    property real replayTo: NaN
    property real replayPosition: NaN

    readonly property real span: Math.max(1, viewEnd - viewStart)
    readonly property real originMs: origin && !isNaN(origin.getTime()) ? origin.getTime() : NaN
    readonly property int shownSequences: {
        var n = 0;
        for (var i = 0; i < cameras.length; ++i)
            if (cameras[i])
                n += cameras[i].sequences.length;
        return n;
    }
    readonly property int rowHeight: 20
    readonly property int labelWidth: 90

    signal seekRequested(real time)
    signal eventChosen(real time)

    function toX(time) {
        return labelWidth + (time - viewStart) / span * (width - labelWidth);
    }
    function toTime(x) {
        return viewStart + (x - labelWidth) / (width - labelWidth) * span;
    }

    color: "#161d24"
    implicitHeight: ruler.height + Math.max(1, cameras.length) * rowHeight + eventRow.height + 8

    // Time ruler.
    Item {
        id: ruler
        objectName: "timelineRuler"
        width: parent.width
        height: 18
        Repeater {
            model: 6
            Label {
                readonly property real time: timeline.viewStart + timeline.span * index / 5
                x: Math.min(timeline.toX(time), timeline.width - width)
                font.pixelSize: 10
                color: "#a0a0a0"
                text: Format.clock(new Date(time)).substring(0, 8)
            }
        }
    }

    Column {
        id: rows
        y: ruler.height
        width: parent.width

        Repeater {
            model: timeline.cameras
            Item {
                readonly property var camera: modelData
                width: rows.width
                height: timeline.rowHeight

                Label {
                    width: timeline.labelWidth - 4
                    elide: Text.ElideRight
                    font.pixelSize: 11
                    text: camera ? camera.name : ""
                }
                Repeater {
                    model: camera ? camera.sequences : []
                    Rectangle {
                        readonly property real from: modelData.from.getTime()
                        readonly property real to: modelData.to.getTime()
                        x: Math.max(timeline.labelWidth, timeline.toX(from))
                        width: Math.max(2, timeline.toX(to) - x)
                        visible: to >= timeline.viewStart && from <= timeline.viewEnd
                        y: 3
                        height: timeline.rowHeight - 6
                        radius: 2
                        color: "#3d7fb8"
                    }
                }
            }
        }
    }

    // Events: one coloured mark each.
    Item {
        id: eventRow
        y: rows.y + rows.height
        width: parent.width
        height: 16

        Repeater {
            model: timeline.eventModels
            Repeater {
                model: modelData
                Rectangle {
                    readonly property real time: timeline.originMs + model.time
                    visible: !isNaN(time) && time >= timeline.viewStart && time <= timeline.viewEnd
                    x: timeline.toX(time) - 3
                    width: 6
                    height: eventRow.height
                    color: model.color && model.color.a > 0 ? model.color : "#c0c0c0"
                    MouseArea {
                        anchors.fill: parent
                        anchors.margins: -3
                        onClicked: timeline.eventChosen(parent.time)
                        ToolTip.visible: containsMouse
                        ToolTip.text: model.type + (model.comment ? ": " + model.comment : "")
                        hoverEnabled: true
                    }
                }
            }
        }
    }

    // The replay range and position.
    Rectangle {
        visible: !isNaN(timeline.replayFrom)
        x: Math.max(timeline.labelWidth, timeline.toX(timeline.replayFrom))
        width: Math.max(1, timeline.toX(isNaN(timeline.replayTo) ? timeline.viewEnd : timeline.replayTo) - x)
        y: ruler.height
        height: rows.height
        color: "#30ffffff"
    }
    Rectangle {
        visible: !isNaN(timeline.replayPosition)
        x: timeline.toX(timeline.replayPosition)
        y: 0
        width: 2
        height: timeline.height
        color: "#ff5050"
    }

    MouseArea {
        x: timeline.labelWidth
        y: 0
        width: timeline.width - timeline.labelWidth
        height: ruler.height + rows.height
        onClicked: timeline.seekRequested(timeline.toTime(mouse.x + x))
    }
}
