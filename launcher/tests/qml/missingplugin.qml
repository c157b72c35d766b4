import QtQuick 2.12
import NoSuchPlugin 1.0

Item {
}
