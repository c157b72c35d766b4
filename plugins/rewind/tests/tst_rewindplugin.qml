import QtQml 2.15
import QtTest 1.15
import Rewind 1.0

TestCase {
    id: test
    name: "RewindPlugin"

    function test_metaData() {
        var meta = probe.pluginMetaData()
        compare(meta.IID, "org.qt-project.Qt.QQmlExtensionInterface")
        compare(meta.className, "QmlPlugin")
        // No keys of its own: moc leaves an empty object out.
        verify(meta.MetaData === undefined || JSON.stringify(meta.MetaData) === "{}",
               JSON.stringify(meta.MetaData))
    }

    function test_singleton() {
        verify(RewindService !== null && RewindService !== undefined)
        compare(RewindService.Reading, 0)
        compare(RewindService.Writing, 1)
        compare(RewindService.Closing, 2)
        compare(RewindService.status, RewindService.Closing)
        compare(RewindService.version, 1000)
        verify(RewindService.memoryStats !== null)
        compare(RewindService.storages.length, 0)
        compare(RewindService.getAvailableTypes().length, 4)
    }

    function test_uncreatable_data() {
        return [{tag: "Stream"}, {tag: "Storage"}, {tag: "Drive"}, {tag: "StorageStats"},
                {tag: "RewindStats"}]
    }
    function test_uncreatable(row) {
        var error = ""
        try {
            var object = Qt.createQmlObject("import Rewind 1.0\n" + row.tag + " {}\n", test,
                                            "uncreatable.qml")
            if (object)
                object.destroy()
        } catch (e) {
            error = e.qmlErrors.map(function(q) { return q.message }).join("\n")
        }
        verify(error.indexOf("Use RewindService enumeration") >= 0, "error: '" + error + "'")
    }

    function test_range() {
        var range = Qt.createQmlObject("import Rewind 1.0\nRange {}\n", test, "range.qml")
        verify(range !== null)
        compare(range.size, -1)
        compare(range.stream, null)
        range.destroy()
    }

    function test_twoEnginesTwoServices() {
        var other = probe.serviceOfSecondEngine()
        verify(typeof other === "object" && other !== null, "second engine: " + other)
        verify(other !== RewindService)
        compare(other.status, RewindService.Closing)
        // Both live at once: the second engine's service is its own, not a shared one.
        compare(RewindService.version, 1000)
        probe.dropSecondEngine()
        compare(RewindService.version, 1000)
    }
}
