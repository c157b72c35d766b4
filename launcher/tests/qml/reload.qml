import QtQuick 2.12
import Launcher 1.0
import GuiApplication 1.0

// Loads twice: the first load switches to Russian and reloads, the second one quits. The
// application object survives the reload and carries the marker across.
Item {
    Component.onCompleted: {
        if (GuiApplication.applicationDisplayName !== "reloaded") {
            console.warn("first load:" + Launcher.translationLanguage + ":"
                         + qsTranslate("main", "TundraRecorder Server"))
            GuiApplication.applicationDisplayName = "reloaded"
            Launcher.translationLanguage = "ru_RU"
            Launcher.reload()
            console.warn("reload returned")
        } else {
            console.warn("second load:" + Launcher.translationLanguage + ":"
                         + qsTranslate("main", "TundraRecorder Server"))
            quitTimer.start()
        }
    }

    // Leaves the watcher of the probe a moment to see the new engine.
    Timer {
        id: quitTimer
        interval: 300
        onTriggered: Launcher.quit(112234)
    }
}
