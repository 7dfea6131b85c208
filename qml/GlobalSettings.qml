import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import StavelinRecorder 1.0
import "lib.js" as Lib

// The form of the window's "Settings" dialog. Nothing reaches the settings model before "Apply".
Item {
    id: form
    implicitWidth: 400
    // Grows with the reasons shown under refused fields: margins, the page, the bottom area.
    implicitHeight: 10 + 6 + page.implicitHeight + 64 + 10

    // The dialog around the form closes itself on these.
    signal applied()
    signal cancelled()

    readonly property var gridChoices: [
        { text: "2x2", value: 22 },
        { text: "3x2", value: 32 },
        { text: "3x3", value: 33 },
        { text: "4x3", value: 43 },
        { text: "4x4", value: 44 },
        { text: "2+8", value: 242 },
        { text: "2+14", value: 253 }
    ]

    readonly property CustomTextField folderAField: folderARow.field
    readonly property CustomTextField folderBField: folderBRow.field
    readonly property alias abRecordingBox: abRecordingBox
    readonly property alias gridCombo: gridCombo
    readonly property alias tallyBox: tallyBox
    readonly property alias fullScreenBox: fullScreenBox
    readonly property alias smpteButton: smpteButton
    readonly property alias ebuButton: ebuButton
    readonly property alias tcpBox: tcpBox
    readonly property alias tcpPortField: tcpPortField
    readonly property alias httpBox: httpBox
    readonly property alias httpPortField: httpPortField
    readonly property alias listenCombo: listenCombo
    readonly property alias accessKeyField: accessKeyField
    readonly property alias chopBox: chopBox
    readonly property alias chopMinutesField: chopMinutesField
    readonly property alias applyButton: applyButton
    // In the order Apply checks them: the first refused one takes the focus.
    readonly property var checkedFields: [folderAField, folderBField, tcpPortField, httpPortField, chopMinutesField]

    function reset() {
        folderAField.text = ""
        folderAField.text = settingsModel.location
        folderBField.text = ""
        folderBField.text = settingsModel.locationB
        abRecordingBox.checked = settingsModel.abRecording
        tallyBox.checked = settingsModel.tallyEnabled
        fullScreenBox.checked = settingsModel.startMaximized
        ebuButton.checked = settingsModel.ebuLevels
        smpteButton.checked = !settingsModel.ebuLevels
        var row = gridCombo.indexOfValue(settingsModel.gridDimensions)
        if (row >= 0)
            gridCombo.currentIndex = row
        tcpBox.checked = settingsModel.tcpServerEnabled
        tcpPortField.text = String(settingsModel.tcpServerPort)
        httpBox.checked = settingsModel.httpServerEnabled
        httpPortField.text = String(settingsModel.httpServerPort)
        listenCombo.currentIndex = settingsModel.serverLocalOnly ? 1 : 0
        accessKeyField.text = settingsModel.serverAccessKey
        chopBox.checked = settingsModel.chopEnabled
        chopMinutesField.text = String(settingsModel.chopMinutes)
    }

    // Folder B counts only while A/B recording is chosen: a second location is never turned on
    // while its folder is missing, and an unused one blocks nothing.
    function refusedField() {
        for (var i = 0; i < checkedFields.length; ++i)
            if (checkedFields[i].problem !== "")
                return checkedFields[i]
        return null
    }

    function validate() {
        return refusedField() === null
    }

    function accept() {
        settingsModel.setLocation(folderAField.text)
        settingsModel.setLocationB(folderBField.text)
        settingsModel.setTallyEnabled(tallyBox.checked)
        if (gridCombo.currentIndex >= 0)
            settingsModel.setGridDimensions(gridCombo.currentValue)
        settingsModel.setEbuLevels(ebuButton.checked)
        settingsModel.setAbRecording(abRecordingBox.checked)
        settingsModel.setStartMaximized(fullScreenBox.checked)
        settingsModel.setTcpServerPort(parseInt(tcpPortField.text, 10))
        settingsModel.setTcpServerEnabled(tcpBox.checked)
        settingsModel.setHttpServerPort(parseInt(httpPortField.text, 10))
        settingsModel.setHttpServerEnabled(httpBox.checked)
        settingsModel.setServerLocalOnly(listenCombo.currentIndex === 1)
        settingsModel.setServerAccessKey(accessKeyField.text.trim())
        settingsModel.setChopMinutes(parseInt(chopMinutesField.text, 10))
        settingsModel.setChopEnabled(chopBox.checked)
    }

    // A refusal stays open on the field that says why.
    function apply() {
        var refused = refusedField()
        if (refused) {
            refused.forceActiveFocus()
            return false
        }
        accept()
        applied()
        return true
    }

    function cancel() {
        cancelled()
        reset()
    }

    FolderPicker {
        id: folderPicker
    }

    // What keeps a field's text from being applied, under the field.
    component Problem: Label {
        property CustomTextField field
        objectName: field ? field.objectName + "Problem" : ""
        text: field ? field.problem : ""
        visible: text !== ""
        color: "red"
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    component FolderRow: ColumnLayout {
        id: row
        property string label
        property alias field: rowField
        property int fieldHeight: 25
        property bool fieldEnabled: true
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
            CustomTextField {
                id: rowField
                objectName: "folder" + row.label
                Layout.fillWidth: true
                implicitHeight: row.fieldHeight
                enabled: row.fieldEnabled
                validator: DirectoryValidator { id: check2 }
                problem: enabled ? (check2.answers, check2.problem(text)) : ""
                showsInvalid: problem !== ""
            }
            Button {
                text: "Change"
                Layout.preferredWidth: 72
                onClicked: row.changeClicked()
            }
            Button {
                text: "Open"
                Layout.preferredWidth: 56
                enabled: rowField.acceptableInput
                onClicked: settingsModel.revealFolder(rowField.text)
            }
        }
        Problem {
            field: rowField
            Layout.leftMargin: 14
        }
    }

    Item {
        id: content
        anchors.fill: parent
        anchors.margins: 10

        // The dialog's title names the page: no tab bar repeats it.
        ColumnLayout {
            id: page
            width: 380
            anchors.top: parent.top
            anchors.topMargin: 6
            spacing: 6

            Label { text: "Default recording locations" }

            FolderRow {
                id: folderARow
                label: "A"
                onChangeClicked: folderPicker.pick(form, folderARow.field)
            }
            FolderRow {
                id: folderBRow
                label: "B"
                fieldHeight: 26
                fieldEnabled: abRecordingBox.checked
                onChangeClicked: folderPicker.pick(form, folderBRow.field)
            }

            CheckBox {
                id: abRecordingBox
                text: "Enable A/B recording"
                leftPadding: 0
            }

            CustomSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            RowLayout {
                Layout.fillWidth: true
                Label {
                    text: "Grid size (application restart required)"
                    Layout.fillWidth: true
                }
                ComboBox {
                    id: gridCombo
                    Layout.preferredWidth: 110
                    Layout.preferredHeight: 26
                    model: form.gridChoices
                    textRole: "text"
                    valueRole: "value"
                }
            }

            RowLayout {
                Layout.fillWidth: true
                CheckBox {
                    id: tallyBox
                    text: "Enable tally borders"
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 0
                }
                CheckBox {
                    id: fullScreenBox
                    text: "Start in full-screen"
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 6
                }
            }

            CustomSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            // What the choice changes: the level recordings are made at.
            RowLayout {
                Layout.fillWidth: true
                Label { text: "Audio standard:" }
                RadioButton {
                    id: smpteButton
                    text: "SMPTE"
                    autoExclusive: true
                }
                RadioButton {
                    id: ebuButton
                    text: "EBU"
                    autoExclusive: true
                }
                Label {
                    text: "recording level " + settingsModel.standardGainFor(ebuButton.checked) + " dB"
                    opacity: 0.75
                    Layout.fillWidth: true
                }
            }

            CustomSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            RowLayout {
                CheckBox {
                    id: tcpBox
                    text: "TCP API Port"
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 0
                }
                CustomTextField {
                    id: tcpPortField
                    objectName: "tcpServerPort"
                    Layout.preferredWidth: 60
                    implicitHeight: 26
                    validator: RangeValidator { id: check3; setting: "tcpServerPort" }
                    problem: check3.problem(text)
                }
            }
            Problem { field: tcpPortField }

            RowLayout {
                CheckBox {
                    id: httpBox
                    text: "HTTP Panel Port"
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 0
                }
                CustomTextField {
                    id: httpPortField
                    objectName: "httpServerPort"
                    Layout.preferredWidth: 60
                    implicitHeight: 26
                    validator: RangeValidator { id: check4; setting: "httpServerPort" }
                    problem: check4.problem(text)
                }
            }
            Problem { field: httpPortField }

            RowLayout {
                Label { text: "Listen on" }
                ComboBox {
                    id: listenCombo
                    Layout.preferredWidth: 170
                    implicitHeight: 26
                    model: ["All network interfaces", "This machine only"]
                    ToolTip.visible: hovered
                    ToolTip.text: "Where the TCP API and the HTTP panel take connections from"
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Label { text: "Access key" }
                CustomTextField {
                    id: accessKeyField
                    Layout.fillWidth: true
                    implicitHeight: 26
                    placeholderText: "none: anyone may connect"
                    ToolTip.visible: hovered
                    ToolTip.text: "When set, HTTP requests must carry it and TCP clients must send <auth key='...'/> first"
                }
            }

            CustomSeparator {
                orientation: Qt.Horizontal
                Layout.fillWidth: true
            }

            RowLayout {
                CheckBox {
                    id: chopBox
                    text: "Split recordings every"
                    topPadding: 6
                    bottomPadding: 6
                    leftPadding: 0
                    rightPadding: 0
                }
                CustomTextField {
                    id: chopMinutesField
                    objectName: "chopMinutes"
                    // Five digits and the field's padding.
                    Layout.preferredWidth: chopDigits.advanceWidth + leftPadding + rightPadding + 4
                    implicitHeight: 26
                    validator: RangeValidator { id: check5; setting: "chopMinutes" }
                    problem: check5.problem(text)
                    TextMetrics {
                        id: chopDigits
                        font: chopMinutesField.font
                        text: "65535"
                    }
                }
                Label { text: "minutes" }
            }
            Problem { field: chopMinutesField }
        }

        Item {
            id: bottomArea
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 64

            Image {
                x: -1
                y: 27
                width: 64
                height: 51
                source: "icons/ndi.png"
                fillMode: Image.PreserveAspectFit
                mipmap: true
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: Qt.openUrlExternally(Lib.ndiWebSite)
                }
            }
            Image {
                x: 75
                y: 26
                width: 112
                height: 52
                source: "icons/stavelin.png"
                fillMode: Image.PreserveAspectFit
                mipmap: true
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: Qt.openUrlExternally(Lib.makerWebSite)
                }
            }
            Button {
                text: "Cancel"
                width: 72
                height: 26
                y: 40
                anchors.right: parent.right
                anchors.rightMargin: 78
                onClicked: form.cancel()
            }
            Button {
                id: applyButton
                text: "Apply"
                width: 72
                height: 26
                y: 40
                anchors.right: parent.right
                onClicked: form.apply()
            }
        }
    }
}
