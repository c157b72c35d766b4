import QtQuick 2.12
import Launcher 1.0

Item {
    property int languageSignals: 0
    property int quitSignals: 0

    Connections {
        target: Launcher
        function onTranslationLanguageChanged() { languageSignals++ }
        function onQuitOnLastWindowClosedChanged() { quitSignals++ }
    }

    Component.onCompleted: {
        var before = Launcher.translationLanguage
        Launcher.translationLanguage = ""
        console.warn("empty:" + before + ":" + Launcher.translationLanguage + ":" + languageSignals)
        Launcher.translationLanguage = "ru_RU"
        Launcher.translationLanguage = "ru_RU"
        console.warn("set:" + Launcher.translationLanguage + ":" + languageSignals)
        var quit = Launcher.quitOnLastWindowClosed
        Launcher.quitOnLastWindowClosed = quit
        var same = quitSignals
        Launcher.quitOnLastWindowClosed = !quit
        console.warn("quitOnLastWindowClosed:" + same + ":" + quitSignals + ":"
                     + (Launcher.quitOnLastWindowClosed === !quit))
        console.warn("constants:" + Launcher.developmentVersion + ":" + Launcher.applicationVendor + ":"
                     + Launcher.translationLanguages.join(","))
        Launcher.quit(112234)
        console.warn("quit returned")
    }
}
