// The events: type filters in the types' colours, the referee's events, the remote events that
// arrived over the network, and marking a new event at the replay position.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12

ColumnLayout {
    id: panel

    // {name, color} per event type.
    property var eventTypes: []
    // Type names the operator has hidden.
    property var hiddenTypes: ({})
    property var refereeModel: null
    property var remoteModel: null
    property var origin: null
    property bool canMark: false
    readonly property alias refereeCount: refereeList.count
    readonly property alias remoteCount: remoteList.count

    function focusComment() {
        comment.forceActiveFocus();
    }

    signal typeToggled(string name, bool shown)
    signal eventChosen(real time)
    signal markRequested(string type, string comment)

    spacing: 6

    Label { text: qsTr("Event types"); font.bold: true }
    Flow {
        Layout.fillWidth: true
        spacing: 4
        Repeater {
            model: panel.eventTypes
            CheckBox {
                checked: !panel.hiddenTypes[modelData.name]
                text: modelData.name
                onToggled: panel.typeToggled(modelData.name, checked)
                indicator: Rectangle {
                    x: 4
                    anchors.verticalCenter: parent.verticalCenter
                    width: 16
                    height: 16
                    radius: 2
                    color: parent.checked ? modelData.color : "transparent"
                    border.color: modelData.color
                    border.width: 2
                }
            }
        }
    }

    Label { text: qsTr("Referee events (%1)").arg(refereeList.count); font.bold: true }
    EventList {
        id: refereeList
        objectName: "refereeEvents"
        Layout.fillWidth: true
        Layout.fillHeight: true
        Layout.minimumHeight: 120
        model: panel.refereeModel
        origin: panel.origin
        onEventChosen: panel.eventChosen(time)
    }

    Label { text: qsTr("Remote events (%1)").arg(remoteList.count); font.bold: true }
    EventList {
        id: remoteList
        objectName: "remoteEvents"
        Layout.fillWidth: true
        Layout.preferredHeight: 140
        model: panel.remoteModel
        origin: panel.origin
        followNewest: true
        onEventChosen: panel.eventChosen(time)
    }

    Label { text: qsTr("Mark an event at the replay position"); font.bold: true }
    RowLayout {
        Layout.fillWidth: true
        ComboBox {
            id: typeChoice
            objectName: "markType"
            Layout.preferredWidth: 120
            model: panel.eventTypes
            textRole: "name"
        }
        TextField {
            id: comment
            objectName: "markComment"
            Layout.fillWidth: true
            placeholderText: qsTr("Comment")
            onAccepted: markButton.clicked()
        }
        Button {
            id: markButton
            objectName: "markEventButton"
            text: qsTr("Mark")
            enabled: panel.canMark && typeChoice.currentIndex >= 0
            onClicked: {
                panel.markRequested(typeChoice.currentText, comment.text);
                comment.text = "";
            }
        }
    }
}
