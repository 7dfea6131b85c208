import QtQuick
import QtQuick.Controls

ToolSeparator {
    id: separator
    topPadding: 4
    bottomPadding: 4
    padding: 1
    leftPadding: 0
    rightPadding: 0
    contentItem: Rectangle {
        implicitWidth: separator.vertical ? 1 : 24
        implicitHeight: separator.vertical ? 24 : 1
        color: separator.palette.mid
    }
}
