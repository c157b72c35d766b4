import QtQuick 2.12
import Launcher 1.0

// A supervised child (it has --application_parent) asks its supervisor to restart all children.
Item {
    Component.onCompleted: {
        if (Qt.application.arguments.indexOf("--application_parent") >= 0)
            Launcher.restart()
    }
}
