import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    width: 100
    height: 100
}
