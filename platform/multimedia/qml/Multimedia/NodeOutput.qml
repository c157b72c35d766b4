import QtQml 2.2

// One output pin of a media node.
QtObject {
}
