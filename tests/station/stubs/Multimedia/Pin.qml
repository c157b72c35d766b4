// Stand-in for a node's input or output in the wiring tests of the station's media chains.
import QtQml 2.12

QtObject {
    property QtObject node
}
