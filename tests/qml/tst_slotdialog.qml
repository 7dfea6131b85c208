import QtQuick
import QtTest
import StavelinRecorder

Item {
    id: root
    width: 700; height: 700
    Component { id: fakeSlot; FakeSlot {} }
    Component { id: dialogComponent; GridItemSettingsDialog {} }

    TestCase {
        id: testCase
        name: "SlotDialog"
        when: windowShown
        property var dialog: null
        property color probe

        function init() { settingsModel.setAbRecording(true), dialog = createTemporaryObject(dialogComponent, root) }
        function makeSlot(values) { return createTemporaryObject(fakeSlot, testCase, values) }
        function open(slots) {
            slots.length === undefined ? dialog.reset(slots) : dialog.resetMulti(slots)
            dialog.open()
            tryCompare(dialog, "opened", true)
        }
        // Until both folder fields' checks have answered: folders are looked at off the main thread.
        function settled() {
            tryVerify(function() { return [dialog.folderAField, dialog.folderBField].every(function(f) { return f.problem !== "Checking the folder…" }) })
        }
        function isRed(field) { probe = "red"; return String(field.color) === String(probe) }
        function boxes() { return [dialog.showLevelsBox, dialog.viewingOnlyBox, dialog.recordPreviewBox, dialog.customLocationBox, dialog.fullResBox].map(function(b) { return b.checkState }) }

        // Opened, the dialog loads the slot; cancelled, it loads it again and leaves it alone.
        function test_resetLoadsTheSlot() {
            var slot = makeSlot({ index0: 5, showLevels: false, viewingOnly: true, recordPreview: true, customLocationEnabled: true, isFullRes: false,
                            audioGain: -4.4, displayName: "Stage", enteredSource: "HOST (Cam)", customLocation: testFolder, customLocationB: "/nowhere/b" })
            open(slot)
            compare(dialog.title, "Slot 5")
            compare(boxes(), [Qt.Unchecked, Qt.Checked, Qt.Checked, Qt.Checked, Qt.Unchecked])
            fuzzyCompare(dialog.gainSlider.value, -4.4, 1e-6)
            compare([dialog.gainField.text, dialog.displayNameField.text, dialog.customSourceField.text, dialog.folderAField.text, dialog.sourceList.currentIndex],
                    ["-4.4", "Stage", "HOST (Cam)", testFolder, -1])
            settled()
            compare([isRed(dialog.folderAField), isRed(dialog.folderBField)], [false, true]) // a folder that does not exist is red
            slot.calls = [], dialog.displayNameField.text = "Changed", dialog.cancel()
            tryCompare(dialog, "visible", false)
            compare([dialog.displayNameField.text, slot.calls], ["Stage", []])
        }

        function test_multiSlots() {
            var slots = [makeSlot({ index0: 1, audioGain: 0, customLocation: "/a", isFullRes: true }), makeSlot({ index0: 4, showLevels: false, audioGain: 0, customLocation: "/b" }),
                         makeSlot({ index0: 7, audioGain: 3, customLocation: "/a" })]
            open(slots)
            compare([dialog.title, dialog.model], ["Multiple Slots: 1, 4, 7", null])
            compare(boxes(), [Qt.PartiallyChecked, Qt.Unchecked, Qt.Unchecked, Qt.Unchecked, Qt.PartiallyChecked])
            compare([dialog.folderAField.text, dialog.folderBField.text, dialog.gainField.text, dialog.multipleGainsSelected], ["[multiple]", "/tmp", "[multi]", true])
            compare([dialog.sourceList.enabled, dialog.customSourceField.enabled, dialog.displayNameField.enabled], [false, false, false])
            dialog.customLocationBox.checkState = Qt.Checked
            verify(dialog.folderAField.enabled && !isRed(dialog.folderAField)) // "[multiple]" is a placeholder, not an error
            dialog.folderAField.text = "/no/such/folder"
            settled()
            verify(isRed(dialog.folderAField))
            // Boxes left partial, folders left "[multiple]" and gains never moved stay as they were.
            dialog.recordPreviewBox.checkState = Qt.Checked, dialog.folderAField.text = dialog.folderBField.text = "[multiple]"
            dialog.apply()
            compare(slots[1].calls, ["setViewingOnly false", "setRecordPreview true", "setCustomLocationEnabled true", "acceptClicked"])
            open(slots)
            dialog.gainSlider.value = -6, dialog.gainSlider.moved()
            verify(!dialog.multipleGainsSelected)
            settled()
            dialog.apply() // an acceptable folder and a moved slider reach every slot
            compare([slots[0].audioGain, slots[2].audioGain, slots[1].calls.slice(-3)], [-6, -6, ["setCustomLocationB /tmp", "setAudioGain -6.0", "acceptClicked"]])
            slots[2].isWaiting = true, open(slots) // one slot waiting to record locks what a recording keeps; the gains agree now
            compare([dialog.viewingOnlyBox.enabled, dialog.multipleGainsSelected, dialog.gainField.text], [false, false, "-6.0"])
        }

        // The gain field commits a finished decimal only: "-", "-3" and "-3." leave the slider alone.
        function test_gainText() {
            open(makeSlot({ audioGain: 1 }))
            dialog.gainField.forceActiveFocus(), dialog.gainField.selectAll()
            for (var step of [[Qt.Key_Minus, 1], ["3", 1], [Qt.Key_Period, 1], ["4", -3.4]])
                keyClick(step[0]), fuzzyCompare(dialog.gainSlider.value, step[1], 1e-6)
        }

        function test_applyWritesInOrder() {
            var slot = makeSlot({ index0: 2, customLocation: "/a", customLocationB: "/b" })
            settingsModel.setAbRecording(false), open(slot) // an unused folder B is written as typed
            dialog.showLevelsBox.checkState = Qt.Unchecked, dialog.customLocationBox.checkState = Qt.Checked, dialog.folderAField.text = testFolder
            dialog.gainSlider.value = 2.4, dialog.displayNameField.text = "Desk", dialog.customSourceField.text = "HOST (Desk)"
            settled()
            dialog.apply()
            compare(slot.calls, ["setShowLevels false", "setCustomLocation " + testFolder, "setCustomLocationB /b", "setCustomLocationEnabled true", "setViewingOnly false",
                                 "setIsFullRes false", "setAudioGain 2.4", "setRecordPreview false", "setDisplayName Desk", "enteredSource HOST (Desk)", "acceptClicked"])
            tryCompare(dialog, "visible", false)
        }

        function test_sourceListAndDisconnect() {
            var slots = [makeSlot({ index0: 1 }), makeSlot({ index0: 2, selectedInd: 1 })]
            open(slots[0])
            compare(dialog.sourceList.count, 3)
            dialog.sourceList.currentIndex = 2
            compare(slots[0].selectedInd, 2)
            dialog.reset()
            compare(slots[0].selectedInd, -1)
            slots[0].calls = []
            dialog.disconnect()
            compare([slots[0].calls, slots[1].calls], [["disconnectClicked", "setSelectedInd -1"], []])
            open(slots)
            slots[0].calls = []
            dialog.disconnect()
            compare([slots[0].calls, slots[1].calls], [["disconnectClicked", "setSelectedInd -1"], ["disconnectClicked", "setSelectedInd -1"]])
        }

        // A folder the slot would record to and cannot is refused in words, on the focused field.
        function test_refusals_data() { // own folders, A/B on, folder A, folder B ("ok": one that exists), refused field, its reason
            var gone = "Folder does not exist: create it or choose another"
            return [[true, true, "/no/such/a", "ok", "A", gone], [true, true, "ok", "/no/such/b", "B", gone], [true, true, "", "ok", "A", "No folder: choose one"],
                    [true, false, "ok", "/no/such/b", "", ""], [false, true, "/no/such/a", "/no/such/b", "", ""]]
                .map(function(r) { return { tag: r.slice(0, 4).join(" "), r: r } })
        }
        function test_refusals(data) {
            var r = data.r.map(function(v) { return v === "ok" ? testFolder : v })
            var slot = makeSlot({ customLocationEnabled: r[0], customLocation: r[2], customLocationB: r[3] })
            settingsModel.setAbRecording(r[1]), open(slot)
            var refused = r[4] !== ""
            settled()
            compare(dialog.apply(), !refused)
            var row = r[4] === "B" ? dialog.folderBRow : dialog.folderARow
            compare([row.problemLabel.visible, row.problemLabel.text, row.field.activeFocus, dialog.visible], [refused, r[5], refused, refused])
            compare(slot.calls.indexOf("acceptClicked") >= 0, !refused)
        }

        // A source is bound by a double-click on it or by Enter, without the Apply button.
        function test_sourceAppliesAtOnce_data() { return [{ tag: "double-click" }, { tag: "Enter" }] }
        function test_sourceAppliesAtOnce(data) {
            var slot = makeSlot({})
            open(slot)
            waitForRendering(dialog.sourceList)
            if (data.tag === "Enter")
                dialog.sourceList.forceActiveFocus(), dialog.sourceList.currentIndex = 1, keyClick(Qt.Key_Return)
            else
                mouseDoubleClickSequence(dialog.sourceList.itemAtIndex(1))
            verify(slot.calls.indexOf("acceptClicked") > slot.calls.indexOf("setSelectedInd 1") && slot.calls.indexOf("setSelectedInd 1") >= 0, slot.calls)
            tryCompare(dialog, "visible", false)
        }

        function test_folderEnabling_data() { // own folders, A/B on, recording: folder A, folder B, B's Change button
            return [[false, true, false, false, false, false], [true, true, false, true, true, true], [true, false, false, true, false, true],
                    [true, true, true, false, false, false]].map(function(r) { return { tag: r.slice(0, 3).join(" "), r: r } })
        }
        function test_folderEnabling(data) {
            var r = data.r
            settingsModel.setAbRecording(r[1]), open(makeSlot({ customLocationEnabled: r[0], isRecording: r[2] }))
            compare([dialog.title, dialog.folderAField.enabled, dialog.folderBField.enabled, dialog.folderBRow.changeButton.enabled], [r[2] ? "Slot 1 (RECORDING)" : "Slot 1"].concat(r.slice(3)))
            verify(r[3] || String(dialog.folderAField.color) === "#808080") // disabled and acceptable: grey
            compare([dialog.viewingOnlyBox, dialog.recordPreviewBox, dialog.customLocationBox, dialog.sourceList, dialog.customSourceField].map(function(c) { return c.enabled }),
                    [!r[2], !r[2], !r[2], !r[2], !r[2]])
            verify(dialog.displayNameField.enabled && dialog.showLevelsBox.enabled)
        }
    }
}
