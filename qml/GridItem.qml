import QtQuick
import QtQuick.Controls
import Qt5Compat.GraphicalEffects
import "lib.js" as Lib

// The overlay of one slot's cell; the video is drawn underneath by the mixer. The slot comes
// as `model` (its properties) and `qtObject` (the object itself): roles in the grid, properties
// of the wrapper in an extra cell.
Rectangle {
    id: gridItem

    enum Tally { Free = 0, Preview = 1, Program = 2 }

    required property var model
    required property var qtObject
    // The window that hides the cursor and opens the slot dialogs.
    property var appWindow: null
    readonly property bool cursorHidden: !!appWindow && appWindow.mouseHidden
    // The cell the arrow keys reached: its selection shows even with the cursor hidden.
    property bool keyFocus: false
    readonly property bool isSelected: !!model.selected && (!cursorHidden || keyFocus)
    // Texts grow with the cell: sizes are for a 480 px wide cell (4x4 on 1920x1080).
    readonly property real textScale: Math.max(0.67, Math.min(2.0, width / 480, height / 240))
    readonly property int nameSize: Math.round(18 * textScale)
    readonly property int badgeSize: Math.round(22 * textScale)
    readonly property int smallSize: Math.max(10, Math.round(14 * textScale))
    // Room the meter takes at the left and the buttons at the right; texts stay between.
    readonly property int textLeft: (audioMeters.visible ? audioMeters.width + audioMeters.anchors.leftMargin : 0) + 8
    readonly property int textRight: 44
    // A short cell keeps the badge to one line.
    readonly property bool compact: height < 160
    readonly property bool displayWarning: warning !== "" && warning !== dismissedWarning
    property int textRendering: Qt.platform.os === "osx" ? Text.NativeRendering : Text.QtRendering
    readonly property bool pointerOver: hover.hovered && !cursorHidden
    readonly property bool recordable: !!model.isConnected && !model.viewingOnly
    readonly property bool abShown: settingsModel.abRecording && recordable
    readonly property alias warningText: warningLabel.text
    // The recording's telemetry; absent on stand-in slots without one.
    readonly property var telemetry: qtObject && qtObject.telemetry ? qtObject.telemetry : null
    // The cell's texts of format, gain, drive and history; absent on stand-in slots without them.
    readonly property var texts: qtObject && qtObject.texts ? qtObject.texts : null
    // What the slot says it shows; the cell only draws it.
    readonly property string stateWord: qtObject && qtObject.stateWord ? qtObject.stateWord : "empty"
    readonly property string stateLabel: qtObject && qtObject.stateLabel ? qtObject.stateLabel : ""
    readonly property bool busy: !!qtObject && !!qtObject.busy
    readonly property string warning: qtObject && qtObject.warning ? qtObject.warning : ""
    readonly property color stateColor: stateWord === "recording" ? "#e01010"
                                      : stateWord === "dropping" || stateWord === "stalled" ? "#f0a000"
                                      : stateWord === "no signal" && busy ? "#f0a000"
                                      : stateWord === "failed" ? "#ff3030"
                                      : stateWord === "waiting" ? "#909090" : "transparent"
    // Recording, waiting, or ended by a failure: the cell carries the state's colour.
    readonly property bool marked: busy || stateWord === "failed"
    // The warning the operator closed stays closed until another one comes.
    property string dismissedWarning: ""

    signal mouseMoved()

    color: "transparent"
    border.width: isSelected ? 6 : 2
    border.color: {
        if (isSelected)
            return "#ffd400"
        if (!settingsModel.tallyEnabled)
            return "transparent"
        switch (model.tallyState) {
        case GridItem.Tally.Preview: return "limegreen"
        case GridItem.Tally.Program: return "red"
        default: return "transparent"
        }
    }

    function locationAText() {
        return Lib.folderTooltip(qtObject ? qtObject.folderA : "", model.gigabytesAvailable)
    }

    function locationBText() {
        return Lib.folderTooltip(qtObject ? qtObject.folderB : "", model.gigabytesBAvailable)
    }

    function openSettings() {
        if (!qtObject.selected) {
            Lib.setOn(qtObject, "setSelectedInd", "selectedInd", -1)
            appWindow.settingsDialogOpen(qtObject)
            return
        }
        var selected = Lib.selectedSlots(slotsModel)
        if (selected.length <= 1)
            appWindow.settingsDialogOpen(qtObject)
        else
            appWindow.settingsDialogOpenMulti(selected)
    }

    function clickRecord() {
        dismissedWarning = warning
        if (model.connectedSource === "none")
            return
        qtObject.recordClicked()
    }

    function toggleListening() {
        if (model.isListening)
            slotsAudioHelper.stopListening()
        else
            slotsAudioHelper.startListening(qtObject)
    }

    function toggleSelected() {
        Lib.setOn(qtObject, "setSelected", "selected", !qtObject.selected)
    }

    function clearSelection() {
        var all = Lib.allSlots(slotsModel)
        for (var i = 0; i < all.length; ++i)
            Lib.setOn(all[i], "setSelected", "selected", false)
    }

    component Shadowed: Text {

        // qmllint disable unqualified
        color: "#ffffff"
        layer.enabled: visible
        layer.effect: DropShadow {
            radius: 3
            samples: 7
            spread: 0.5
            color: "#80000000"
        }
    }

    // A text on a dark plate, legible over any picture.
    component Plate: Rectangle {
        // qmllint disable unqualified
        id: plate
        property alias text: plateText.text
        property alias textColor: plateText.color
        property alias font: plateText.font
        property real maxWidth: 10000
        visible: text !== ""
        width: Math.min(plateText.implicitWidth + 10, maxWidth)
        height: plateText.implicitHeight + 4
        radius: 4
        color: "#c0101010"
        Text {
            id: plateText
            anchors.fill: parent
            anchors.leftMargin: 5
            anchors.rightMargin: 5
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            color: "#ffffff"
            font.pixelSize: gridItem.smallSize
            renderType: gridItem.textRendering
        }
    }

    component LocationButton: OverlayButton {

        // qmllint disable unqualified
        id: locationButton
        property string letter
        property bool current
        property string tip
        width: 28
        height: 28
        opacity: current ? 1.0 : 0.5
        background: Rectangle {
            radius: 4
            color: "#c0101010"
            border.width: locationButton.current ? 1 : 0
            border.color: "#ffffff"
        }
        contentItem: Text {
            text: locationButton.letter
            color: "white"
            font.family: "Arial"
            font.bold: true
            font.pixelSize: Math.max(11, gridItem.smallSize)
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            layer.enabled: locationButton.visible
            layer.effect: DropShadow {
                radius: 3
                samples: 7
                spread: 0.5
                color: "#60000000"
            }
        }
        ToolTip.delay: 200
        ToolTip.timeout: 5000
        ToolTip.visible: hovered && !gridItem.cursorHidden
        ToolTip.text: tip
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: gridItem.isSelected ? 6 : 2
        color: "transparent"
        border.width: gridItem.isSelected ? 2 : 1
        border.color: gridItem.isSelected ? "#000000" : "transparent"
    }

    MouseArea {
        id: selectionArea
        objectName: "selectionArea"
        anchors.fill: parent
        hoverEnabled: true
        propagateComposedEvents: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onClicked: (mouse) => {
            if (mouse.button === Qt.LeftButton)
                gridItem.toggleSelected()
            else
                cellMenu.popup()
        }

        Menu {
            id: cellMenu
            objectName: "cellMenu"
            MenuItem {
                text: "Settings…"
                onTriggered: gridItem.openSettings()
            }
            MenuItem {
                objectName: "openFolderItem"
                text: "Open recording folder"
                enabled: !!gridItem.qtObject && !!gridItem.qtObject.currentFolderUrl
                         && String(gridItem.qtObject.currentFolderUrl) !== ""
                onTriggered: Qt.openUrlExternally(gridItem.qtObject.currentFolderUrl)
            }
        }
        onDoubleClicked: (mouse) => {
            if (mouse.button !== Qt.LeftButton)
                return
            gridItem.toggleSelected()
            gridItem.clearSelection()
            // An empty cell is there to be given a source.
            if (!gridItem.model.isConnected)
                gridItem.openSettings()
        }

        // A bound source that sends nothing: a card of its own instead of a frozen picture.
        Rectangle {
            id: noSignalCard
            objectName: "noSignalCard"
            anchors.fill: parent
            anchors.margins: 2
            visible: gridItem.stateWord === "no signal"
            color: "#1c1c1c"
            Column {
                anchors.centerIn: parent
                spacing: 4
                Text {
                    objectName: "noSignalText"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "NO SIGNAL"
                    color: "#f0a000"
                    font.pixelSize: Math.max(14, Math.min(28, gridItem.height / 7))
                    font.bold: true
                    renderType: gridItem.textRendering
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: Math.min(implicitWidth, noSignalCard.width - 80)
                    elide: Text.ElideRight
                    text: gridItem.model.connectedSource
                    color: "#a0a0a0"
                    font.pixelSize: gridItem.smallSize
                    renderType: gridItem.textRendering
                }
            }
        }

        Text {
            id: unboundHint
            objectName: "unboundHint"
            anchors.centerIn: parent
            width: Math.min(implicitWidth, parent.width - 80)
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            visible: gridItem.stateWord === "empty"
            text: "Double-click to choose a source"
            color: "#8c96aa"
            font.pixelSize: gridItem.smallSize
            renderType: gridItem.textRendering
        }

        // Recording, stalled, failed or waiting: a strip across the top, seen from across the room.
        Rectangle {
            objectName: "stateStrip"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 2
            height: 5
            visible: gridItem.marked
            color: gridItem.stateColor
        }

        // Facts of the picture and the sound, in a row above the name.
        Row {
            id: factsRow
            anchors.left: parent.left
            anchors.leftMargin: gridItem.textLeft
            anchors.bottom: namePlate.top
            anchors.bottomMargin: 2
            spacing: 4
            // Clear of the A/B buttons beside the name.
            readonly property real room: gridItem.width - gridItem.textLeft - gridItem.textRight
                                         - (gridItem.abShown ? 50 : 0)
            Plate {
                id: formatPlate
                objectName: "formatLabel"
                visible: text !== "" && gridItem.stateWord !== "no signal"
                maxWidth: factsRow.room
                text: gridItem.texts ? gridItem.texts.formatLabel : ""
            }
            Plate {
                id: gainChip
                objectName: "gainChip"
                // The format comes first; in a cell too small for both the gain stays in the dialog.
                maxWidth: factsRow.room - (formatPlate.visible ? formatPlate.width + 4 : 0)
                visible: text !== "" && maxWidth >= implicitWidthWanted
                readonly property real implicitWidthWanted: gridItem.smallSize * 5
                text: gridItem.texts ? gridItem.texts.gainText : ""
                textColor: "#ffd070"
            }
        }

        OverlayButton {
            id: settingsButton
            objectName: "settingsButton"
            anchors.right: parent.right
            anchors.rightMargin: 5
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 83
            icon.source: Qt.resolvedUrl("icons/icons8-settings-64.png")
            ToolTip.delay: 300
            ToolTip.timeout: 5000
            ToolTip.visible: hovered && !gridItem.cursorHidden
            ToolTip.text: "Slot settings (right click: more)"
            opacity: gridItem.pointerOver || gridItem.isSelected ? 1.0 : 0.0
            onClicked: gridItem.openSettings()
        }

        Rectangle {
            id: warningBar
            objectName: "warningBar"
            visible: gridItem.displayWarning
            height: warningLabel.implicitHeight + 6
            color: "#d01900"
            radius: 4
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.leftMargin: gridItem.textLeft
            anchors.rightMargin: gridItem.textRight
            anchors.topMargin: 6
        }
        OverlayButton {
            objectName: "warningCloseButton"
            visible: gridItem.displayWarning
            x: warningBar.x - 1
            y: warningBar.y - 2
            width: 27
            height: 27
            icon.source: Qt.resolvedUrl("icons/icons8-close-64.png")
            onClicked: gridItem.dismissedWarning = gridItem.warning
        }

        Shadowed {
            id: warningLabel
            objectName: "warningLabel"
            renderType: gridItem.textRendering
            visible: gridItem.displayWarning
            text: gridItem.warning
            font.pixelSize: gridItem.smallSize
            font.bold: true
            anchors.left: warningBar.left
            anchors.right: warningBar.right
            anchors.verticalCenter: warningBar.verticalCenter
            anchors.leftMargin: 28
            anchors.rightMargin: 6
            elide: Text.ElideRight
        }

        Rectangle {
            id: recBadge
            objectName: "recBadge"
            readonly property string state: gridItem.stateWord
            // Recorded time and lost frames, beside the wall clock when they differ from it.
            readonly property string recorded: {
                var t = gridItem.telemetry
                if (!t || !gridItem.busy || state === "waiting")
                    return ""
                var parts = []
                if (Math.abs(t.wallMs - t.elapsedMs) >= 2000)
                    parts.push("rec " + t.elapsedText)
                if (t.droppedFrames > 0)
                    parts.push(t.droppedFrames + " lost")
                return parts.join(", ")
            }
            visible: gridItem.marked
            anchors.left: parent.left
            anchors.leftMargin: gridItem.textLeft
            anchors.top: gridItem.displayWarning ? warningBar.bottom : parent.top
            anchors.topMargin: gridItem.displayWarning ? 2 : 8
            width: Math.max(recText.implicitWidth, recordedText.visible ? recordedText.implicitWidth : 0) + 16
            height: recText.implicitHeight + (recordedText.visible ? recordedText.implicitHeight : 0) + 6
            radius: 4
            color: state === "recording" ? "#e01010"
                 : state === "dropping" || state === "stalled" || state === "no signal" ? "#f0a000"
                 : state === "failed" ? "#101010"
                 : "#606060"
            border.width: state === "failed" ? 2 : 0
            border.color: "#ff3030"
            readonly property color textColor: color == "#f0a000" ? "#000000" : state === "failed" ? "#ff5050" : "#ffffff"
            Text {
                id: recText
                objectName: "recText"
                anchors.horizontalCenter: parent.horizontalCenter
                y: 3
                font.pixelSize: gridItem.badgeSize
                font.bold: true
                renderType: gridItem.textRendering
                color: recBadge.textColor
                text: (recBadge.state === "recording" ? "● " : "") + gridItem.stateLabel
                      + (gridItem.busy && recBadge.state !== "waiting" && gridItem.telemetry
                         ? " " + gridItem.telemetry.wallText : "")
            }
            Text {
                id: recordedText
                objectName: "recordedText"
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: recText.bottom
                visible: text !== "" && !gridItem.compact
                font.pixelSize: gridItem.smallSize
                renderType: gridItem.textRendering
                color: recBadge.textColor
                text: recBadge.recorded
            }
            HoverHandler { id: recHover }
            ToolTip.delay: 200
            ToolTip.timeout: 8000
            ToolTip.visible: recHover.hovered && !!gridItem.telemetry && !gridItem.cursorHidden
            ToolTip.text: gridItem.telemetry ? Lib.recordingTooltip(gridItem.telemetry, gridItem.texts ? gridItem.texts.historyText : "") : ""
        }

        Plate {
            objectName: "driveText"
            anchors.left: parent.left
            anchors.leftMargin: gridItem.textLeft
            anchors.top: recBadge.visible ? recBadge.bottom : parent.top
            anchors.topMargin: 2
            maxWidth: gridItem.width - gridItem.textLeft - gridItem.textRight
            visible: text !== "" && gridItem.busy
            text: gridItem.texts ? gridItem.texts.driveText : ""
        }

        Rectangle {
            id: namePlate
            objectName: "namePlate"
            width: Math.min(nameLabel.implicitWidth, nameLabel.width) + 10
            height: nameLabel.implicitHeight + 4
            color: "#c0101010"
            radius: 4
            anchors.left: parent.left
            anchors.leftMargin: gridItem.textLeft
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 4
        }

        Shadowed {
            id: nameLabel
            objectName: "nameLabel"
            renderType: gridItem.textRendering
            font.pixelSize: gridItem.nameSize
            font.bold: true
            font.hintingPreference: Font.PreferFullHinting
            anchors.left: namePlate.left
            anchors.leftMargin: 5
            anchors.right: parent.right
            anchors.rightMargin: gridItem.textRight + (gridItem.abShown ? 64 : 0)
            anchors.verticalCenter: namePlate.verticalCenter
            elide: Text.ElideRight
            color: gridItem.isSelected ? "#bf91ff" : "#ffffff"
            text: Lib.nameLabel(gridItem.model.index0, gridItem.model.displayName, gridItem.model.connectedSource)
        }

        OverlayButton {
            id: recordButton
            objectName: "recordButton"
            anchors.right: parent.right
            anchors.rightMargin: 5
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 2
            visible: !gridItem.model.viewingOnly
            icon.source: Qt.resolvedUrl(gridItem.model.isRecording ? "icons/icons8-record-64-recording.png"
                                   : gridItem.model.isWaiting ? "icons/icons8-record-64-waiting.png"
                                   : "icons/icons8-record-64.png")
            opacity: gridItem.model.connectedSource === "none" ? 0.3 : 1.0
            onClicked: gridItem.clickRecord()
            ToolTip.delay: 200
            ToolTip.timeout: 5000
            ToolTip.visible: hovered && !gridItem.cursorHidden
            ToolTip.text: (gridItem.model.isRecording || gridItem.model.isWaiting ? "Stop recording" : "Record")
                          + " (R on the selected cell)"
                          + (settingsModel.abRecording ? "" : "\n" + gridItem.locationAText())
        }

        // Drives running short, named, in the free space above the buttons.
        Row {
            anchors.right: parent.right
            anchors.rightMargin: gridItem.textRight
            anchors.bottom: factsRow.top
            anchors.bottomMargin: 2
            spacing: 4
            Plate {
                objectName: "badgeA"
                visible: gridItem.recordable && !!gridItem.qtObject && gridItem.qtObject.lowSpaceA
                text: (settingsModel.abRecording ? "A: " : "Low space: ") + Lib.gigabytesText(gridItem.model.gigabytesAvailable) + " GB"
                textColor: "#ff6060"
            }
            Plate {
                objectName: "badgeB"
                visible: gridItem.abShown && !!gridItem.qtObject && gridItem.qtObject.lowSpaceB
                text: "B: " + Lib.gigabytesText(gridItem.model.gigabytesBAvailable) + " GB"
                textColor: "#ff6060"
            }
        }

        AudioMeters {
            id: audioMeters
            objectName: "audioMeters"
            anchors.left: parent.left
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 10
            sizeScale: gridItem.textScale
            visible: !!gridItem.model.showLevels && !!gridItem.model.isConnected
            leftLevel: gridItem.model.leftLevel
            rightLevel: gridItem.model.rightLevel
        }

        OverlayButton {
            objectName: "listenButton"
            anchors.right: parent.right
            anchors.rightMargin: 5
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 46
            icon.source: Qt.resolvedUrl("icons/icons8-voice-64.png")
            opacity: gridItem.model.isListening ? 1.0 : gridItem.pointerOver ? 0.6 : 0.0
            onClicked: gridItem.toggleListening()
        }

        LocationButton {
            objectName: "locationAButton"
            anchors.right: parent.right
            anchors.rightMargin: 64
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 5
            visible: gridItem.abShown
            letter: "A"
            current: !gridItem.model.locationBSelected
            tip: gridItem.locationAText()
            onClicked: Lib.setOn(gridItem.qtObject, "setLocationBSelected", "locationBSelected", false)
        }

        LocationButton {
            objectName: "locationBButton"
            anchors.right: parent.right
            anchors.rightMargin: 37
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 5
            visible: gridItem.abShown
            letter: "B"
            current: !!gridItem.model.locationBSelected
            tip: gridItem.locationBText()
            onClicked: Lib.setOn(gridItem.qtObject, "setLocationBSelected", "locationBSelected", true)
        }
    }

    // Watches every movement over the cell without taking presses or hover from the controls.
    // Qt Quick also repeats the last hover position whenever the scene changes (moving meters,
    // the clock); only a real change of position counts, or the cursor would never hide.
    HoverHandler {
        id: hover
        property point lastPosition: Qt.point(-1, -1)
        onPointChanged: {
            var p = point.scenePosition
            if (p.x === lastPosition.x && p.y === lastPosition.y)
                return
            lastPosition = p
            gridItem.mouseMoved()
        }
    }
}
