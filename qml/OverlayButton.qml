import QtQuick
import QtQuick.Controls

// An icon button drawn straight over the video: the icon keeps its own colours, the background
// only sizes the button.
Button {
    id: control
    implicitWidth: 34
    implicitHeight: 36
    padding: 0
    display: AbstractButton.IconOnly
    icon.width: 24
    icon.height: 24
    icon.color: "transparent"
    focusPolicy: Qt.NoFocus
    background: Rectangle {
        implicitWidth: 100
        implicitHeight: 40
        opacity: 0
        border.width: 0
        radius: 2
    }
}
