// One storage with its write and read statistics.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import "Format.js" as Format

ColumnLayout {
    id: view

    property var storage: null
    readonly property var stats: storage ? storage.stats : null

    spacing: 2

    Label {
        text: view.storage ? qsTr("%1 (%2), %3").arg(view.storage.name).arg(view.storage.driveName)
                                                .arg(Format.bytes(view.storage.size))
                           : ""
        font.bold: true
        elide: Text.ElideRight
        Layout.fillWidth: true
    }
    // The statistics lines wrap at the pane's edge: each number counts, none may be cut off.
    Label {
        visible: view.stats !== null
        font.pixelSize: 11
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        text: view.stats ? qsTr("On disk %1 (locked %2)").arg(Format.bytes(view.stats.dataSizeOnDisk))
                                                         .arg(Format.bytes(view.stats.lockedDataSizeOnDisk))
                         : ""
    }
    Label {
        visible: view.stats !== null
        font.pixelSize: 11
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        text: view.stats ? qsTr("Written %1 frames, %2; now %3 frames/s, %4/s")
                           .arg(view.stats.totalFramesWritten).arg(Format.bytes(view.stats.totalBytesWritten))
                           .arg(view.stats.currWriteFramesRate.toFixed(1))
                           .arg(Format.bytes(view.stats.currWriteBytesRate))
                         : ""
    }
    Label {
        visible: view.stats !== null
        font.pixelSize: 11
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        text: view.stats ? qsTr("Read %1 frames, %2; now %3 frames/s")
                           .arg(view.stats.totalFramesReaded).arg(Format.bytes(view.stats.totalBytesReaded))
                           .arg(view.stats.currReadFramesRate.toFixed(1))
                         : ""
    }
}
