import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    visible: true
    property bool nyxHide: true
    width: 100
    height: 100
}
