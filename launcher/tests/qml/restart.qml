import QtQuick 2.12
import Launcher 1.0

Item {
    Component.onCompleted: {
        Launcher.restart()
        console.warn("restart returned")
    }
}
