import QtQuick 2.15
import QtQuick.Templates 2.15 as T

T.Button {
    id: control

    readonly property string nyxStyle: "NyxStyle"

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 6
    horizontalPadding: 12

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.palette.buttonText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        implicitWidth: 80
        implicitHeight: 32
        radius: 3
        color: control.down || control.checked ? control.palette.highlight : control.palette.button
        border.color: control.visualFocus ? control.palette.highlight : control.palette.mid
    }
}
