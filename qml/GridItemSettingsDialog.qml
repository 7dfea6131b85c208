import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import StavelinRecorder 1.0
import "lib.js" as Lib
import "gridmath.js" as GridMath

// Edits one slot, or several selected slots at once. The slots keep and persist the values;
// the dialog only loads and writes them.
Dialog {
    id: dialog

    property var model: null
    property bool multipleSelected: false
    property var selectedSlots: []
    property string selectedSlotsIds: ""
    property bool isRecordingAny: false
    readonly property bool isRecording: isRecordingAny
        || (!multipleSelected && model !== null && (!!model.isRecording || !!model.isWaiting))
    property bool multipleGainsSelected: false

    title: Lib.slotDialogTitle(model, multipleSelected, selectedSlotsIds)
    modal: false
    width: GridMath.evenCeil(implicitWidth)
    height: GridMath.evenCeil(implicitHeight)
    x: parent ? GridMath.centred(parent.width, width) : 0
    y: parent ? GridMath.centred(parent.height, height) : 0
    padding: 10

    readonly property CustomTextFieldMultiple folderAField: folderARow.field
    readonly property CustomTextFieldMultiple folderBField: folderBRow.field
    readonly property alias gainSlider: gainSlider
    readonly property alias gainField: gainField
    readonly property alias sourceList: sourceList
    readonly property alias customSourceField: customSourceField
    readonly property alias displayNameField: displayNameField
    readonly property alias viewingOnlyBox: viewingOnlyBox
    readonly property alias showLevelsBox: showLevelsBox
    readonly property alias fullResBox: fullResBox
    readonly property alias recordPreviewBox: recordPreviewBox
    readonly property alias customLocationBox: customLocationBox

    FolderPicker {
        id: folderPicker
    }

    function checkState(value) {
        return value ? Qt.Checked : Qt.Unchecked
    }

    function loadFrom(slot) {
        folderAField.text = ""
        folderAField.text = slot.customLocation
        folderBField.text = ""
        folderBField.text = slot.customLocationB
        showLevelsBox.checkState = checkState(slot.showLevels)
        viewingOnlyBox.checkState = checkState(slot.viewingOnly)
        recordPreviewBox.checkState = checkState(slot.recordPreview)
        customLocationBox.checkState = checkState(slot.customLocationEnabled)
        fullResBox.checkState = checkState(slot.isFullRes)
        gainSlider.value = slot.audioGain
        displayNameField.text = slot.displayName
        customSourceField.text = slot.enteredSource
    }

    function reset(newModel) {
        selectedSlotsIds = ""
        multipleSelected = false
        isRecordingAny = false
        multipleGainsSelected = false
        selectedSlots = []
        if (newModel !== undefined && newModel !== null)
            model = newModel
        if (model)
            loadFrom(model)
        sourceList.currentIndex = -1
    }

    function resetMulti(selected) {
        var slots = []
        for (var i = 0; i < selected.length; ++i)
            slots.push(selected[i])
        model = null
        multipleSelected = true
        selectedSlots = slots
        if (slots.length > 0)
            loadFrom(slots[0])
        var state = Lib.multiState(slots)
        selectedSlotsIds = state.ids
        var boxes = {
            showLevels: showLevelsBox,
            viewingOnly: viewingOnlyBox,
            recordPreview: recordPreviewBox,
            customLocationEnabled: customLocationBox,
            isFullRes: fullResBox
        }
        for (var name in boxes) {
            if (state.partial[name])
                boxes[name].checkState = Qt.PartiallyChecked
        }
        folderAField.text = state.customLocation
        folderBField.text = state.customLocationB
        multipleGainsSelected = state.multipleGains
        isRecordingAny = state.isRecordingAny
        sourceList.currentIndex = -1
    }

    function validate() {
        return true
    }

    function _accept() {
        if (multipleSelected) {
            Lib.applyMulti(selectedSlots, {
                checks: {
                    showLevels: showLevelsBox.checkState,
                    viewingOnly: viewingOnlyBox.checkState,
                    isFullRes: fullResBox.checkState,
                    recordPreview: recordPreviewBox.checkState,
                    customLocationEnabled: customLocationBox.checkState
                },
                folderA: folderAField.text,
                folderAAcceptable: folderAField.acceptableInput,
                folderB: folderBField.text,
                folderBAcceptable: folderBField.acceptableInput,
                multipleGains: multipleGainsSelected,
                gain: gainSlider.value
            })
            return
        }
        var slot = model
        if (!slot)
            return
        Lib.setOn(slot, "setShowLevels", "showLevels", showLevelsBox.checkState === Qt.Checked)
        Lib.setOn(slot, "setCustomLocation", "customLocation", folderAField.text)
        Lib.setOn(slot, "setCustomLocationB", "customLocationB", folderBField.text)
        Lib.setOn(slot, "setCustomLocationEnabled", "customLocationEnabled", customLocationBox.checkState === Qt.Checked)
        Lib.setOn(slot, "setViewingOnly", "viewingOnly", viewingOnlyBox.checkState === Qt.Checked)
        Lib.setOn(slot, "setIsFullRes", "isFullRes", fullResBox.checkState === Qt.Checked)
        Lib.setOn(slot, "setAudioGain", "audioGain", gainSlider.value)
        Lib.setOn(slot, "setRecordPreview", "recordPreview", recordPreviewBox.checkState === Qt.Checked)
        Lib.setOn(slot, "setDisplayName", "displayName", displayNameField.text)
        slot.enteredSource = customSourceField.text
        slot.acceptClicked()
        reset()
    }

    function disconnect() {
        var slots = multipleSelected ? selectedSlots : (model ? [model] : [])
        for (var i = 0; i < slots.length; ++i) {
            slots[i].disconnectClicked()
            Lib.setOn(slots[i], "setSelectedInd", "selectedInd", -1)
        }
    }

    function cancel() {
        reject()
        reset()
    }

    // The first folder in use that cannot be recorded to, or null.
    function refusedField() {
        for (var field of [folderAField, folderBField])
            if (field.problem !== "")
                return field
        return null
    }

    // A refused folder keeps the dialog open on the field that says why.
    function apply() {
        var refused = refusedField()
        if (refused) {
            refused.forceActiveFocus()
            return false
        }
        _accept()
        accept()
        return true
    }

    component FolderRow: ColumnLayout {
        id: row
        property string label
        property alias field: rowField
        property alias changeButton: changeButton
        property alias problemLabel: problemLabel
        property bool fieldEnabled: true
        property bool changeEnabled: true
        property bool openEnabled: true
        signal changeClicked()
        Layout.fillWidth: true
        spacing: 2
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Label {
                text: row.label
                Layout.preferredWidth: 8
            }
            CustomTextFieldMultiple {
                id: rowField
                objectName: "folder" + row.label
                Layout.fillWidth: true
                implicitHeight: 25
                enabled: row.fieldEnabled
                validator: DirectoryValidator { id: check1 }
                // Only a folder the slot would record to is checked: an unused default is no error.
                problem: enabled && text !== "[multiple]" ? (check1.answers, check1.problem(text)) : ""
                showsInvalid: problem !== ""
            }
            Button {
                id: changeButton
                text: "Change"
                Layout.preferredWidth: 72
                enabled: row.changeEnabled
                onClicked: row.changeClicked()
            }
            Button {
                text: "Open"
                Layout.preferredWidth: 56
                enabled: row.openEnabled && rowField.acceptableInput
                onClicked: settingsModel.revealFolder(rowField.text)
            }
        }
        Label {
            id: problemLabel
            text: rowField.problem
            visible: text !== ""
            color: "red"
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Layout.leftMargin: 14
        }
    }

    // A child rather than the contentItem: the ids inside would make a deferred contentItem immediate.
    ColumnLayout {
        anchors.fill: parent
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            Label {
                text: !dialog.multipleSelected && dialog.model ? dialog.model.connectedSource : ""
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Button {
                text: "Disconnect"
                Layout.preferredWidth: 90
                enabled: !dialog.isRecording
                onClicked: dialog.disconnect()
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 191
            color: dialog.palette.base
            border.width: 1
            border.color: dialog.palette.mid
            radius: 2

            ListView {
                id: sourceList
                objectName: "sourceList"
                anchors.fill: parent
                anchors.margins: 1
                clip: true
                model: typeof myModel !== "undefined" ? myModel : null
                enabled: !dialog.multipleSelected && !dialog.isRecording
                boundsBehavior: Flickable.StopAtBounds
                keyNavigationEnabled: true
                highlightMoveDuration: 0
                highlightResizeDuration: 0
                headerPositioning: ListView.OverlayHeader
                currentIndex: -1
                ScrollBar.vertical: ScrollBar {}
                // A double-click or Enter on a source binds it at once.
                function applyChoice() {
                    if (currentIndex >= 0)
                        dialog.apply()
                }
                Keys.onReturnPressed: applyChoice()
                Keys.onEnterPressed: applyChoice()
                onCurrentIndexChanged: {
                    if (!dialog.multipleSelected && dialog.model)
                        Lib.setOn(dialog.model, "setSelectedInd", "selectedInd", currentIndex)
                }
                // The header and the rows see none of this file's ids: the list is their view and
                // the label's palette is the dialog's.
                header: Rectangle {
                    z: 2
                    width: ListView.view ? ListView.view.width : 0
                    height: 20
                    border.width: 1
                    border.color: headerLabel.palette.mid
                    radius: 2
                    gradient: Gradient {
                        GradientStop { position: 0.0; color: headerLabel.palette.light }
                        GradientStop { position: 1.0; color: headerLabel.palette.midlight }
                    }
                    Label {
                        id: headerLabel
                        x: 4
                        anchors.verticalCenter: parent.verticalCenter
                        text: "NDI Source"
                    }
                }
                highlight: Control {
                    id: highlightBox
                    leftInset: 1
                    rightInset: 1
                    background: Rectangle {
                        color: highlightBox.palette.highlight
                    }
                }
                delegate: Item {
                    id: sourceRow
                    required property int index
                    required property string name
                    width: ListView.view ? ListView.view.width : 0
                    height: 20
                    Label {
                        x: 4
                        anchors.verticalCenter: parent.verticalCenter
                        text: sourceRow.name
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: {
                            sourceRow.ListView.view.currentIndex = sourceRow.index
                            sourceRow.ListView.view.forceActiveFocus()
                        }
                        // qmllint disable unqualified
                        onDoubleClicked: {
                            sourceRow.ListView.view.currentIndex = sourceRow.index
                            sourceList.applyChoice()
                        }
                    }
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Label { text: "Custom source" }
            CustomTextField {
                id: customSourceField
                Layout.fillWidth: true
                enabled: !dialog.multipleSelected && !dialog.isRecording
            }
            Button {
                text: "Clear"
                Layout.preferredWidth: 72
                enabled: customSourceField.enabled
                onClicked: customSourceField.text = ""
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Label { text: "Display name" }
            CustomTextField {
                id: displayNameField
                Layout.fillWidth: true
                enabled: !dialog.multipleSelected
            }
            Button {
                text: "Clear"
                Layout.preferredWidth: 72
                enabled: displayNameField.enabled
                onClicked: displayNameField.text = ""
            }
        }

        RowLayout {
            Layout.fillWidth: true
            TristateCheckBox {
                id: viewingOnlyBox
                text: "Viewing only"
                leftPadding: 0
                enabled: !dialog.isRecording
            }
            TristateCheckBox {
                id: showLevelsBox
                text: "Show audio levels"
                leftPadding: 0
            }
            TristateCheckBox {
                id: fullResBox
                text: "Full resolution viewing"
                leftPadding: 0
            }
        }

        TristateCheckBox {
            id: recordPreviewBox
            text: "Record preview stream"
            leftPadding: 0
            enabled: !dialog.isRecording
        }

        TristateCheckBox {
            id: customLocationBox
            text: "Custom recording location"
            leftPadding: 0
            enabled: !dialog.isRecording
        }

        FolderRow {
            id: folderARow
            label: "A"
            fieldEnabled: customLocationBox.checkState === Qt.Checked && !dialog.isRecording
            changeEnabled: fieldEnabled
            openEnabled: customLocationBox.checkState === Qt.Checked
            onChangeClicked: folderPicker.pick(dialog, folderARow.field)
        }
        FolderRow {
            id: folderBRow
            label: "B"
            fieldEnabled: customLocationBox.checkState === Qt.Checked && !dialog.isRecording
                          && settingsModel.abRecording
            changeEnabled: customLocationBox.checkState === Qt.Checked && !dialog.isRecording
            openEnabled: customLocationBox.checkState === Qt.Checked
            onChangeClicked: folderPicker.pick(dialog, folderBRow.field)
        }

        RowLayout {
            Layout.fillWidth: true
            Label { text: "Audio gain" }
            Slider {
                id: gainSlider
                Layout.fillWidth: true
                from: -60
                to: 20
                stepSize: 0.2
                onMoved: dialog.multipleGainsSelected = false
            }
            CustomTextField {
                id: gainField
                Layout.preferredWidth: 40
                text: dialog.multipleGainsSelected ? "[multi]" : gainSlider.value.toFixed(1)
                onTextEdited: {
                    var value = Lib.gainFromText(text)
                    if (!isNaN(value))
                        gainSlider.value = value
                }
            }
            OverlayButton {
                Layout.preferredWidth: 22
                icon.source: Qt.resolvedUrl("icons/icons8-reset-64.png")
                onClicked: gainSlider.value = 0
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                text: "Cancel"
                implicitWidth: 72
                implicitHeight: 25
                onClicked: dialog.cancel()
            }
            Button {
                text: "Apply"
                implicitWidth: 72
                implicitHeight: 25
                onClicked: dialog.apply()
            }
        }
    }

    readonly property alias folderARow: folderARow
    readonly property alias folderBRow: folderBRow
}
