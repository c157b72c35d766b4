import QtQuick 2.0
import QtQuick.Controls 1.4
import QtQuick.Layouts 1.0
import Multimedia 1.0
import Multimedia.KXExt 1.0

ApplicationWindow {
    width: 800
    height: 600
    title: "Тестовые Видеосигналы"

    TableView {
        anchors.fill: parent
        model: KX.outputs

        TableViewColumn {
            title: "Выход"
            role: "name"
            width: 400
            movable: false
        }

        TableViewColumn {
            title: "Тестовый сигнал"
            movable: false
            delegate: CheckBox {
                id: checkBox
                checked: false

                TestSession {
                    enabled: checkBox.checked
                    output: KX.outputs[styleData.row]
                }
            }
        }
    }
}
