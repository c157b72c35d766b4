import QtQuick 2.12
import QtQuick.Window 2.12
import Launcher 1.0
import GuiApplication 1.0

Window {
    title: Launcher.applicationVendor + "|" + GuiApplication.organizationName + "|" + Launcher.translationLanguages.join(",")
    Component.onCompleted: console.warn("singletons:" + title)
}
