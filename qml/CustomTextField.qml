import QtQuick
import QtQuick.Controls

TextField {
    id: field
    selectByMouse: true
    persistentSelection: true
    font.hintingPreference: Font.PreferFullHinting
    color: showsInvalid ? "red" : (enabled ? palette.text : "grey")

    // True while the text is shown as not acceptable; the multi-value field narrows it.
    property bool showsInvalid: !acceptableInput
    // Why the text cannot be applied, in words; empty when it can (the dialogs fill it in).
    property string problem: ""

    readonly property alias contextMenu: contextMenu

    function openContextMenu(x, y) {
        contextMenu.popup(field, x, y)
    }

    // The right button is caught here, so the field's cursor and selection do not move.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.RightButton
        cursorShape: Qt.IBeamCursor
        onClicked: (mouse) => field.openContextMenu(mouse.x, mouse.y)
    }

    onPressAndHold: (event) => {
        if (event.source === Qt.MouseEventNotSynthesized)
            openContextMenu(event.x, event.y)
    }

    Menu {
        id: contextMenu
        objectName: "contextMenu"
        MenuItem {
            text: "Cut"
            enabled: !field.readOnly && field.selectedText.length > 0
            onTriggered: field.cut()
        }
        MenuItem {
            text: "Copy"
            enabled: field.selectedText.length > 0
            onTriggered: field.copy()
        }
        MenuItem {
            text: "Paste"
            enabled: !field.readOnly && field.canPaste
            onTriggered: field.paste()
        }
    }
}
