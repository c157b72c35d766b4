// Stand-in for a media graph node: its kind and status, settable by the tests.
import QtQml 2.12

QtObject {
    property string kind
    property int status: 0
}
