import QtQuick 2.12

Item {
    width: 100
    height: 100
}
