import QtQuick 2.15
import QtQuick.Templates 2.15 as T

T.Label {
    readonly property string nyxStyle: "NyxStyle"

    color: palette.windowText
    linkColor: palette.link
}
