import QtQuick
import QtTest
import "qrc:/"

Item {
    id: root
    width: 700
    height: 700

    TestCase {
        id: testCase
        name: "SlotDialog"
        when: windowShown

        property color probe

        Component {
            id: fakeSlot
            FakeSlot {}
        }
        Component {
            id: dialogComponent
            GridItemSettingsDialog {}
        }

        property var dialog: null

        function init() {
            settingsModel.setAbRecording(true)
            dialog = createTemporaryObject(dialogComponent, root)
            verify(dialog)
        }

        function makeSlot(values) {
            return createTemporaryObject(fakeSlot, testCase, values)
        }

        function openFor(slot) {
            dialog.reset(slot)
            dialog.open()
            tryCompare(dialog, "opened", true)
        }

        function openMulti(slots) {
            dialog.resetMulti(slots)
            dialog.open()
            tryCompare(dialog, "opened", true)
        }

        function sameColour(actual, expected) {
            probe = expected
            compare(String(actual), String(probe))
        }

        function typeInto(field, text) {
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_Delete)
            for (var i = 0; i < text.length; ++i) {
                var c = text.charAt(i)
                if (c === "-")
                    keyClick(Qt.Key_Minus)
                else if (c === ".")
                    keyClick(Qt.Key_Period)
                else if (c === ",")
                    keyClick(Qt.Key_Comma)
                else
                    keyClick(c)
            }
        }

        function test_resetLoadsTheSlot() {
            var slot = makeSlot({ index0: 5, showLevels: false, viewingOnly: true, recordPreview: true,
                                  customLocationEnabled: true, isFullRes: true, audioGain: -4.4,
                                  displayName: "Stage", enteredSource: "HOST (Cam)",
                                  customLocation: testFolder, customLocationB: "/nowhere/b" })
            openFor(slot)
            compare(dialog.title, "Slot 5")
            compare(dialog.showLevelsBox.checkState, Qt.Unchecked)
            compare(dialog.viewingOnlyBox.checkState, Qt.Checked)
            compare(dialog.recordPreviewBox.checkState, Qt.Checked)
            compare(dialog.customLocationBox.checkState, Qt.Checked)
            compare(dialog.fullResBox.checkState, Qt.Checked)
            fuzzyCompare(dialog.gainSlider.value, -4.4, 1e-6)
            compare(dialog.gainField.text, "-4.4")
            compare(dialog.displayNameField.text, "Stage")
            compare(dialog.customSourceField.text, "HOST (Cam)")
            compare(dialog.folderAField.text, testFolder)
            compare(dialog.sourceList.currentIndex, -1)
            // A folder that does not exist is shown in red; an existing one is not.
            sameColour(dialog.folderBField.color, "red")
            verify(String(dialog.folderAField.color) !== String(probe))
        }

        function test_titleWhileRecording() {
            openFor(makeSlot({ index0: 3, isRecording: true }))
            compare(dialog.title, "Slot 3 (RECORDING)")
        }

        function test_multiSlots() {
            var slots = [makeSlot({ index0: 1, showLevels: true, audioGain: 0, customLocation: "/a" }),
                         makeSlot({ index0: 4, showLevels: false, audioGain: 0, customLocation: "/b" }),
                         makeSlot({ index0: 7, showLevels: true, audioGain: 3, customLocation: "/a" })]
            openMulti(slots)
            compare(dialog.title, "Multiple Slots: 1, 4, 7")
            compare(dialog.model, null)
            compare(dialog.showLevelsBox.checkState, Qt.PartiallyChecked)
            compare(dialog.viewingOnlyBox.checkState, Qt.Unchecked)
            compare(dialog.folderAField.text, "[multiple]")
            compare(dialog.folderBField.text, "/tmp")
            compare(dialog.gainField.text, "[multi]")
            verify(dialog.multipleGainsSelected)
            verify(!dialog.sourceList.enabled)
            verify(!dialog.customSourceField.enabled)
            verify(!dialog.displayNameField.enabled)
            // "[multiple]" is a placeholder, not an error; a real missing folder is one.
            dialog.customLocationBox.checkState = Qt.Checked
            verify(dialog.folderAField.enabled)
            verify(String(dialog.folderAField.color) !== "#ff0000", String(dialog.folderAField.color))
            dialog.folderAField.text = "/no/such/folder"
            sameColour(dialog.folderAField.color, "red")
        }

        function test_tristateCycle() {
            openMulti([makeSlot({ index0: 1, viewingOnly: true }), makeSlot({ index0: 2, viewingOnly: false })])
            var box = dialog.viewingOnlyBox
            compare(box.checkState, Qt.PartiallyChecked)
            var seen = []
            for (var i = 0; i < 4; ++i) {
                mouseClick(box)
                seen.push(box.checkState)
            }
            compare(seen, [Qt.Checked, Qt.Unchecked, Qt.Checked, Qt.Unchecked])
        }

        function test_partialLeftAloneChangesNothing() {
            var slots = [makeSlot({ index0: 1, viewingOnly: true, audioGain: 1 }),
                         makeSlot({ index0: 2, viewingOnly: false, audioGain: 2 })]
            openMulti(slots)
            dialog.apply()
            compare(slots[0].viewingOnly, true)
            compare(slots[1].viewingOnly, false)
            fuzzyCompare(slots[0].audioGain, 1, 1e-6)
            fuzzyCompare(slots[1].audioGain, 2, 1e-6)
            compare(slots[0].calls[slots[0].calls.length - 1], "acceptClicked")
            verify(slots[0].calls.indexOf("setViewingOnly true") < 0)
            verify(slots[1].calls.indexOf("setViewingOnly false") < 0)
            verify(!dialog.opened || !dialog.visible)
        }

        function test_multiGainAppliesAfterMove() {
            var slots = [makeSlot({ index0: 1, audioGain: 1 }), makeSlot({ index0: 2, audioGain: 2 })]
            openMulti(slots)
            dialog.gainSlider.value = -6
            dialog.gainSlider.moved()
            verify(!dialog.multipleGainsSelected)
            dialog.apply()
            fuzzyCompare(slots[0].audioGain, -6, 1e-6)
            fuzzyCompare(slots[1].audioGain, -6, 1e-6)
        }

        function test_gainText_data() {
            return [
                { tag: "comma", text: "2,5", expected: 2 },
                { tag: "negative decimal", text: "-3.4", expected: -3.4 },
                { tag: "no separator", text: "5", expected: 1 }
            ]
        }
        function test_gainText(data) {
            openFor(makeSlot({ audioGain: 1 }))
            typeInto(dialog.gainField, data.text)
            fuzzyCompare(dialog.gainSlider.value, data.expected, 1e-6)
        }

        function test_applyWritesInOrder() {
            var slot = makeSlot({ index0: 2, customLocation: "/a", customLocationB: "/b" })
            openFor(slot)
            dialog.showLevelsBox.checkState = Qt.Unchecked
            dialog.customLocationBox.checkState = Qt.Checked
            dialog.folderAField.text = "/not/there"
            dialog.gainSlider.value = 2.4
            dialog.displayNameField.text = "Desk"
            dialog.customSourceField.text = "HOST (Desk)"
            slot.calls = []
            dialog.apply()
            compare(slot.calls, [
                "setShowLevels false",
                "setCustomLocation /not/there",
                "setCustomLocationB /b",
                "setCustomLocationEnabled true",
                "setViewingOnly false",
                "setIsFullRes false",
                "setAudioGain 2.4",
                "setRecordPreview false",
                "setDisplayName Desk",
                "enteredSource HOST (Desk)",
                "acceptClicked"
            ])
            tryCompare(dialog, "visible", false)
        }

        function test_cancelReloads() {
            var slot = makeSlot({ displayName: "Stage" })
            openFor(slot)
            dialog.displayNameField.text = "Changed"
            dialog.cancel()
            tryCompare(dialog, "visible", false)
            compare(dialog.displayNameField.text, "Stage")
            compare(slot.displayName, "Stage")
            verify(slot.calls.indexOf("acceptClicked") < 0)
        }

        function test_sourceListPicksRow() {
            var slot = makeSlot({ index0: 1 })
            openFor(slot)
            compare(dialog.sourceList.count, 3)
            dialog.sourceList.currentIndex = 2
            compare(slot.selectedInd, 2)
            dialog.reset()
            compare(slot.selectedInd, -1)

            var others = [makeSlot({ index0: 2 }), makeSlot({ index0: 3 })]
            openMulti(others)
            dialog.sourceList.currentIndex = 1
            compare(others[0].selectedInd, -1)
            compare(others[1].selectedInd, -1)
        }

        function test_disconnect_data() {
            return [
                { tag: "single", multi: false },
                { tag: "multi", multi: true }
            ]
        }
        function test_disconnect(data) {
            var slots = [makeSlot({ index0: 1, selectedInd: 2 }), makeSlot({ index0: 2, selectedInd: 1 })]
            if (data.multi)
                openMulti(slots)
            else
                openFor(slots[0])
            dialog.disconnect()
            compare(slots[0].calls, ["disconnectClicked", "setSelectedInd -1"])
            compare(slots[1].calls, data.multi ? ["disconnectClicked", "setSelectedInd -1"] : [])
        }

        function test_folderEnabling_data() {
            return [
                { tag: "custom off", custom: false, ab: true, recording: false, a: false, bField: false, bChange: false },
                { tag: "custom on", custom: true, ab: true, recording: false, a: true, bField: true, bChange: true },
                { tag: "A/B off", custom: true, ab: false, recording: false, a: true, bField: false, bChange: true },
                { tag: "recording", custom: true, ab: true, recording: true, a: false, bField: false, bChange: false }
            ]
        }
        function test_folderEnabling(data) {
            settingsModel.setAbRecording(data.ab)
            openFor(makeSlot({ customLocationEnabled: data.custom, isRecording: data.recording }))
            compare(dialog.folderAField.enabled, data.a)
            compare(dialog.folderBField.enabled, data.bField)
            var changeB = dialog.folderBRow.children[2]
            compare(changeB.text, "Change")
            compare(changeB.enabled, data.bChange)
            compare(dialog.viewingOnlyBox.enabled, !data.recording)
            compare(dialog.recordPreviewBox.enabled, !data.recording)
            compare(dialog.customLocationBox.enabled, !data.recording)
            compare(dialog.sourceList.enabled, !data.recording)
            compare(dialog.customSourceField.enabled, !data.recording)
            verify(dialog.displayNameField.enabled)
            verify(dialog.showLevelsBox.enabled)
            settingsModel.setAbRecording(true)
        }
    }
}
