import QtQml 2.12

QtObject {
    property QtObject from
    property QtObject to
}
