import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Window
import Qt.labs.settings
import Qt5Compat.GraphicalEffects
import "lib.js" as Lib
import "gridmath.js" as GridMath

ApplicationWindow {
    id: applicationWindow

    property var settingsDialog: null
    property var prevX
    property var prevY
    property var prevWidth
    property var prevHeight
    property bool mouseHidden: false
    signal mouseMoved()

    readonly property var mixer: mixerLoader.item
    // Context objects published by the start-up; a build without some of them still opens.
    readonly property var slotList: typeof slotsModel !== "undefined" ? slotsModel : null
    readonly property var recordAll: typeof slotsRecorder !== "undefined" ? slotsRecorder : null
    // From the settings; a test may lay out another grid.
    property int gridColumns: Math.max(1, settingsModel.gridWidth)
    property int gridRows: Math.max(1, settingsModel.gridHeight)
    property int gridExtra: settingsModel.gridExtra
    // The toolbar's own band at the top: no cell lies under it.
    readonly property int bandHeight: 44
    readonly property int extraHeight: GridMath.extraHeight(height - bandHeight, gridExtra, gridRows)

    title: "Stavelin Recorder v" + Qt.application.version + " GPU: " + (mixer ? mixer.gpuName : "")
    width: 1100
    height: 619
    minimumWidth: 1100
    minimumHeight: 619
    color: "transparent"
    // The controls style keeps its own light palette; the window takes the application's
    // palette role by role, so the dialogs and controls are drawn in it.
    palette.window: appPalette.window
    palette.windowText: appPalette.windowText
    palette.base: appPalette.base
    palette.alternateBase: appPalette.alternateBase
    palette.text: appPalette.text
    palette.button: appPalette.button
    palette.buttonText: appPalette.buttonText
    palette.light: appPalette.light
    palette.midlight: appPalette.midlight
    palette.mid: appPalette.mid
    palette.dark: appPalette.dark
    palette.shadow: appPalette.shadow
    palette.highlight: appPalette.highlight
    palette.highlightedText: appPalette.highlightedText
    palette.brightText: "red"
    palette.inactive.buttonText: "grey"
    palette.active.buttonText: "white"

    SystemPalette {
        id: appPalette
        colorGroup: SystemPalette.Active
    }

    function settingsDialogOpen(model) {
        if (!settingsDialog)
            settingsDialog = settingsDialogComponent.createObject(applicationWindow.contentItem, { model: model })
        settingsDialog.reset(model)
        settingsDialog.open()
    }

    function settingsDialogOpenMulti(selected) {
        if (!settingsDialog)
            settingsDialog = settingsDialogComponent.createObject(applicationWindow.contentItem, { model: null })
        settingsDialog.resetMulti(selected)
        settingsDialog.open()
    }

    readonly property var summary: typeof recordingSummary !== "undefined" ? recordingSummary : null
    // The cell the arrow keys move and R records or stops; -1 before the first key.
    property int keyCell: -1

    function toggleFullScreen() {
        visibility = visibility === Window.FullScreen ? Window.Windowed : Window.FullScreen
    }

    function openGlobalSettings() {
        globalSettingsDialog.reset()
        globalSettingsDialog.open()
    }

    function startAll() {
        if (recordAll && !recordAll.isRecordingAll)
            recordAll.toggleRecordingAll()
    }

    // Never at once: a stop of everything is asked for first, however it was asked.
    function askStopAll() {
        if (recordAll && (recordAll.isRecordingAll || recordAll.anyBusy))
            stopAllConfirmation.open()
    }

    function stopAllNow() {
        if (!recordAll)
            return
        if (recordAll.isRecordingAll)
            recordAll.toggleRecordingAll()
        else
            recordAll.stopEverything()
    }

    function moveKeyCell(dx, dy) {
        var count = cells.count
        if (count === 0)
            return
        var columns = gridColumns
        var at = keyCell < 0 ? 0 : keyCell
        var column = at % columns + dx
        var row = Math.floor(at / columns) + dy
        if (keyCell >= 0 && column >= 0 && column < columns && row >= 0 && row * columns + column < count)
            at = row * columns + column
        keyCell = at
        var cell = cells.itemAt(at)
        if (!cell)
            return
        cell.clearSelection()
        Lib.setOn(cell.slot, "setSelected", "selected", true)
    }

    function recordKeyCell() {
        var cell = keyCell >= 0 ? cells.itemAt(keyCell) as GridItem : null
        if (cell)
            cell.clickRecord()
    }

    function canClose() {
        if (recordAll && (recordAll.isRecordingAll || recordAll.anyBusy)) {
            closeRefusal.open()
            return false
        }
        return true
    }

    function saveVisibility() {
        windowSettings.visibility = visibility
        // Geometry changes that came without change signals (some window systems apply
        // programmatic moves silently) are caught here; only the windowed geometry is kept.
        if (visibility === Window.Windowed) {
            windowSettings.x = x
            windowSettings.y = y
            windowSettings.width = width
            windowSettings.height = height
        }
    }

    function userMoved() {
        mouseHidden = false
        idleTimer.restart()
    }

    // A window stored while minimised or hidden would otherwise come back invisible.
    function restoredVisibility(stored) {
        var v = Number(stored)
        if (v === Window.Maximized || v === Window.FullScreen)
            return v
        return Window.Windowed
    }

    Component {
        id: settingsDialogComponent
        GridItemSettingsDialog {}
    }

    Settings {
        id: windowSettings
        category: "windowSettings"
        property var visibility: Window.Windowed
        property int x: 20
        property int y: 20
        property int width: 1100
        property int height: 619
    }

    // Geometry is stored as it changes; the size jump of maximising is undone when the
    // visibility change follows, so the store keeps the windowed geometry.
    function rememberGeometry(name, value) {
        if (visibility === Window.Hidden)
            return
        if (name === "x") { prevX = windowSettings.x; windowSettings.x = value }
        else if (name === "y") { prevY = windowSettings.y; windowSettings.y = value }
        else if (name === "width") { prevWidth = windowSettings.width; windowSettings.width = value }
        else if (name === "height") { prevHeight = windowSettings.height; windowSettings.height = value }
    }

    onXChanged: rememberGeometry("x", x)
    onYChanged: rememberGeometry("y", y)
    onWidthChanged: rememberGeometry("width", width)
    onHeightChanged: rememberGeometry("height", height)
    onVisibilityChanged: function(newVisibility) {
        if (newVisibility !== Window.Maximized && newVisibility !== Window.FullScreen)
            return
        if (prevX !== undefined) windowSettings.x = prevX
        if (prevY !== undefined) windowSettings.y = prevY
        if (prevWidth !== undefined) windowSettings.width = prevWidth
        if (prevHeight !== undefined) windowSettings.height = prevHeight
    }

    Component.onCompleted: {
        x = windowSettings.x
        y = windowSettings.y
        width = Math.max(minimumWidth, windowSettings.width)
        height = Math.max(minimumHeight, windowSettings.height)
        visibility = settingsModel.startMaximized ? Window.FullScreen : restoredVisibility(windowSettings.visibility)
        idleTimer.start()
    }

    onClosing: (close) => {
        saveVisibility()
        var allowed = canClose()
        if (allowed && settingsDialog) {
            settingsDialog.destroy()
            settingsDialog = null
        }
        close.accepted = allowed
    }

    onMouseMoved: userMoved()

    Timer {
        id: idleTimer
        objectName: "idleTimer"
        interval: 5000
        onTriggered: {
            if (!(applicationWindow.settingsDialog && applicationWindow.settingsDialog.visible))
                applicationWindow.mouseHidden = true
        }
    }

    Loader {
        id: mixerLoader
        source: "MixerItem.qml"
    }

    Binding {
        target: applicationWindow.mixer
        when: !!applicationWindow.mixer
        property: "topInset"
        value: applicationWindow.bandHeight
    }

    Clock {
        objectName: "clockCell"
        visible: applicationWindow.gridExtra === 2 && applicationWindow.gridRows === 3
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        width: grid.width / applicationWindow.gridColumns
        height: grid.height / applicationWindow.gridRows
    }

    SpecialGridItem {
        objectName: "extraCell1"
        visible: applicationWindow.gridExtra >= 1
        x: 0
        y: applicationWindow.bandHeight
        width: GridMath.extraCellWidth(applicationWindow.width)
        height: applicationWindow.extraHeight
        model: applicationWindow.slotList ? applicationWindow.slotList.extra1 : null
        qtObject: applicationWindow.slotList ? applicationWindow.slotList.extra1 : null
        appWindow: applicationWindow
        onMouseMoved: applicationWindow.mouseMoved()
    }

    SpecialGridItem {
        objectName: "extraCell2"
        visible: applicationWindow.gridExtra >= 2
        x: GridMath.extraCell2X(applicationWindow.width)
        y: applicationWindow.bandHeight
        width: GridMath.extraCellWidth(applicationWindow.width)
        height: applicationWindow.extraHeight
        model: applicationWindow.slotList ? applicationWindow.slotList.extra2 : null
        qtObject: applicationWindow.slotList ? applicationWindow.slotList.extra2 : null
        appWindow: applicationWindow
        onMouseMoved: applicationWindow.mouseMoved()
    }

    Grid {
        id: grid
        objectName: "grid"
        columns: applicationWindow.gridColumns
        spacing: 0
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.top: parent.top
        anchors.topMargin: applicationWindow.bandHeight + applicationWindow.extraHeight

        Repeater {
            id: cells
            model: applicationWindow.slotList
            // A delegate sees none of this file's ids: it takes the grid as its parent and this
            // window as the one it is shown in.
            GridItem {
                objectName: "gridItem"
                required property int index
                readonly property var slot: qtObject
                appWindow: Window.window
                keyFocus: !!appWindow && appWindow.keyCell === index
                width: parent && appWindow ? GridMath.cellWidth(index, parent.width, appWindow.gridColumns) : 0
                height: parent && appWindow ? GridMath.cellHeight(index, parent.height, appWindow.gridColumns, appWindow.gridRows) : 0
                onMouseMoved: appWindow.mouseMoved()
            }
        }
    }

    // The toolbar's band: the summary at the left, the clock and the buttons at the right.
    Rectangle {
        id: toolbar
        objectName: "toolbar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: applicationWindow.bandHeight
        color: "#181818"

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            property point lastPosition: Qt.point(-1, -1)
            onPositionChanged: (mouse) => {
                if (mouse.x === lastPosition.x && mouse.y === lastPosition.y)
                    return
                lastPosition = Qt.point(mouse.x, mouse.y)
                applicationWindow.mouseMoved()
            }
        }

        // How many slots record and how long the drives last, always in view.
        Rectangle {
            id: summaryPlate
            objectName: "summaryPlate"
            readonly property int recording: applicationWindow.summary ? applicationWindow.summary.recordingCount : 0
            anchors.left: parent.left
            anchors.leftMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(summaryText.implicitWidth + 16, toolRow.x - 16)
            height: 30
            radius: 4
            color: recording > 0 ? "#d0200808" : "#303030"
            border.width: recording > 0 ? 1 : 0
            border.color: "#e01010"
            Text {
                id: summaryText
                objectName: "summaryText"
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                verticalAlignment: Text.AlignVCenter
                elide: Text.ElideRight
                color: "#ffffff"
                font.pixelSize: 15
                font.bold: summaryPlate.recording > 0
                text: {
                    if (summaryPlate.recording === 0)
                        return "Not recording"
                    var parts = ["● " + summaryPlate.recording + " recording"]
                    var drives = applicationWindow.summary.drives
                    for (var i = 0; i < drives.length; ++i)
                        parts.push(drives[i].text)
                    return parts.join("   ")
                }
            }
        }

        Row {
            id: toolRow
            anchors.right: parent.right
            anchors.rightMargin: 4
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6

            Clock {
                objectName: "clock"
                anchors.verticalCenter: parent.verticalCenter
                width: implicitWidth
                height: 36
                pixelSize: 22
            }

            Image {
                objectName: "ndiLogo"
                width: 44
                height: 24
                anchors.verticalCenter: parent.verticalCenter
                source: "icons/ndi-small.png"
                fillMode: Image.PreserveAspectFit
                mipmap: true
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: Qt.openUrlExternally(Lib.ndiWebSite)
                }
            }

            OverlayButton {
                objectName: "globalSettingsButton"
                anchors.verticalCenter: parent.verticalCenter
                ToolTip.delay: 300
                ToolTip.timeout: 5000
                ToolTip.visible: hovered
                ToolTip.text: "Settings (Ctrl+,)"
                icon.source: Qt.resolvedUrl("icons/icons8-settings-64.png")
                onClicked: applicationWindow.openGlobalSettings()
            }

            OverlayButton {
                id: recordAllButton
                objectName: "recordAllButton"
                readonly property bool recordingAll: !!applicationWindow.recordAll && applicationWindow.recordAll.isRecordingAll
                width: 120
                anchors.verticalCenter: parent.verticalCenter
                display: AbstractButton.TextBesideIcon
                text: recordingAll ? "STOP ALL" : "START ALL"
                icon.source: Qt.resolvedUrl(recordingAll ? "icons/icons8-record-64-recording-ns.png"
                                                          : "icons/icons8-record-64-ns.png")
                contentItem: Item {
                    Row {
                        anchors.centerIn: parent
                        spacing: 6
                        Image {
                            width: 24
                            height: 24
                            anchors.verticalCenter: parent.verticalCenter
                            source: recordAllButton.icon.source
                            mipmap: true
                        }
                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            text: recordAllButton.text
                            color: "#ffffff"
                            font.pixelSize: 15
                            font.bold: true
                        }
                    }
                }
                ToolTip.delay: 300
                ToolTip.timeout: 5000
                ToolTip.visible: hovered
                ToolTip.text: recordingAll ? "Stop all recordings (Ctrl+Shift+S)" : "Start all recordings (Ctrl+Shift+R)"
                onClicked: recordingAll ? applicationWindow.askStopAll() : applicationWindow.startAll()
            }

            OverlayButton {
                objectName: "keysButton"
                anchors.verticalCenter: parent.verticalCenter
                display: AbstractButton.TextOnly
                text: "?"
                contentItem: Text {
                    text: "?"
                    color: "#ffffff"
                    font.pixelSize: 20
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                ToolTip.delay: 300
                ToolTip.timeout: 5000
                ToolTip.visible: hovered
                ToolTip.text: "Keys (F1)"
                onClicked: keysOverlay.open()
            }

            OverlayButton {
                objectName: "fullScreenButton"
                anchors.verticalCenter: parent.verticalCenter
                icon.source: Qt.resolvedUrl(applicationWindow.visibility === Window.FullScreen
                                             ? "icons/icons8-compress-64.png" : "icons/icons8-enlarge-64.png")
                ToolTip.delay: 300
                ToolTip.timeout: 5000
                ToolTip.visible: hovered
                ToolTip.text: applicationWindow.visibility === Window.FullScreen ? "Leave full screen (F11 or Esc)"
                                                                                 : "Full screen (F11)"
                onClicked: applicationWindow.toggleFullScreen()
            }
        }
    }

    Popup {
        id: keysOverlay
        objectName: "keysOverlay"
        modal: true
        focus: true
        x: GridMath.centred(applicationWindow.width, width)
        y: GridMath.centred(applicationWindow.height, height)
        padding: 20
        background: Rectangle {
            color: "#f0202020"
            radius: 8
            border.color: "#606060"
        }
        Column {
            spacing: 10
            Text {
                text: "Keys"
                color: "#ffffff"
                font.pixelSize: 22
                font.bold: true
            }
            Grid {
                columns: 2
                columnSpacing: 24
                rowSpacing: 6
                Repeater {
                    model: [
                        "Arrow keys", "Select a cell",
                        "R", "Record or stop the selected cell",
                        "Ctrl+Shift+R", "Start all recordings",
                        "Ctrl+Shift+S", "Stop all recordings (asks first)",
                        "Ctrl+,", "Settings",
                        "F11", "Full screen; Esc leaves it",
                        "F1 or ?", "This list; Esc closes it",
                        "Right click on a cell", "Open its recording folder"
                    ]
                    Text {
                        required property string modelData
                        required property int index
                        text: modelData
                        color: index % 2 === 0 ? "#ffd400" : "#ffffff"
                        font.pixelSize: 16
                        font.bold: index % 2 === 0
                    }
                }
            }
        }
    }

    Shortcut {
        sequence: "Ctrl+Shift+R"
        onActivated: applicationWindow.startAll()
    }
    Shortcut {
        sequence: "Ctrl+Shift+S"
        onActivated: applicationWindow.askStopAll()
    }
    Shortcut {
        sequence: "F11"
        onActivated: applicationWindow.toggleFullScreen()
    }
    Shortcut {
        sequence: "Esc"
        enabled: applicationWindow.visibility === Window.FullScreen && !globalSettingsDialog.visible && !keysOverlay.visible
                 && !stopAllConfirmation.visible && !(applicationWindow.settingsDialog && applicationWindow.settingsDialog.visible)
        onActivated: applicationWindow.visibility = Window.Windowed
    }
    Shortcut {
        sequence: "Ctrl+,"
        onActivated: applicationWindow.openGlobalSettings()
    }
    Shortcut { sequence: "Left"; onActivated: applicationWindow.moveKeyCell(-1, 0) }
    Shortcut { sequence: "Right"; onActivated: applicationWindow.moveKeyCell(1, 0) }
    Shortcut { sequence: "Up"; onActivated: applicationWindow.moveKeyCell(0, -1) }
    Shortcut { sequence: "Down"; onActivated: applicationWindow.moveKeyCell(0, 1) }
    Shortcut { sequence: "R"; onActivated: applicationWindow.recordKeyCell() }
    Shortcut { sequences: ["F1", "?"]; onActivated: keysOverlay.visible ? keysOverlay.close() : keysOverlay.open() }

    Dialog {
        id: stopAllConfirmation
        objectName: "stopAllConfirmation"
        title: "Stop all recordings?"
        modal: true
        standardButtons: Dialog.Yes | Dialog.No
        x: GridMath.centred(applicationWindow.width, width)
        y: GridMath.centred(applicationWindow.height, height)
        Label {
            text: "Every recording in progress stops now."
        }
        onAccepted: applicationWindow.stopAllNow()
    }

    MouseArea {
        objectName: "cursorArea"
        anchors.fill: parent
        enabled: false
        cursorShape: applicationWindow.mouseHidden ? Qt.BlankCursor : Qt.ArrowCursor
    }

    Dialog {
        id: globalSettingsDialog
        objectName: "globalSettingsDialog"
        title: "Settings"
        standardButtons: Dialog.NoButton
        width: GridMath.evenCeil(implicitWidth)
        height: GridMath.evenCeil(implicitHeight)
        x: GridMath.centred(applicationWindow.width, width)
        y: GridMath.centred(applicationWindow.height, height)
        padding: 0

        function reset() {
            globalSettingsForm.reset()
        }

        // A child rather than the contentItem: an id would make a deferred contentItem immediate.
        GlobalSettings {
            id: globalSettingsForm
            anchors.fill: parent
            onApplied: globalSettingsDialog.accept()
            onCancelled: globalSettingsDialog.reject()
        }
    }

    MessageDialog {
        id: closeRefusal
        title: "Stavelin Recorder"
        text: "You have recording in progress"
    }

    MessageDialog {
        objectName: "ndiRuntimeMessage"
        title: "NDI Runtime Missing"
        text: myModel.runtimeProblem || ""
        visible: text !== ""
    }

    MessageDialog {
        id: openGlMessage
        title: "Opengl Insufficient"
        text: "OpenGL 4.0 or higher required. Run with dedicated GPU if available."
        visible: !!applicationWindow.mixer && applicationWindow.mixer.cannotInitialize
    }
}
