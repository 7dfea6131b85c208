import QtQuick
import QtTest
import StavelinRecorder 1.0
import "qrc:/"

// The overlay and the slot dialog against the application's own slot object.
Item {
    id: root
    width: 700
    height: 700

    Item {
        id: applicationWindow
        property bool mouseHidden: false
        property var opened: []
        function settingsDialogOpen(slot) { opened = ["single", slot.index0] }
        function settingsDialogOpenMulti(selected) { opened = ["multi", selected.length] }
    }
    property var slotsModel: null

    Component {
        id: slotComponent
        Slot {}
    }
    Component {
        id: cell
        SpecialGridItem {
            width: 367
            height: 207
        }
    }
    Component {
        id: dialogComponent
        GridItemSettingsDialog {}
    }

    TestCase {
        name: "RealSlot"
        when: windowShown

        function test_warnings_data() {
            return [
                { tag: "out of space", reason: Slot.OutOfSpace, shown: true },
                { tag: "stopped by user", reason: Slot.User, shown: false },
                { tag: "recorder error", reason: Slot.RecorderError, shown: false }
            ]
        }
        function test_warnings(data) {
            var slot = createTemporaryObject(slotComponent, root)
            var wrapper = createTemporaryObject(cell, root, { model: slot, qtObject: slot })
            var item = wrapper.children[0].item
            verify(item)
            slot.recordingStopped(data.reason)
            compare(item.displayWarning, data.shown)
            if (data.shown)
                compare(item.warningText, "Out of space")
            slot.recordingWarning("Recorder reported an error")
            compare(item.warningText, "Recorder reported an error")
            verify(item.displayWarning)
        }

        function test_nameAndSelection() {
            var slot = createTemporaryObject(slotComponent, root)
            var wrapper = createTemporaryObject(cell, root, { model: slot, qtObject: slot })
            var item = wrapper.children[0].item
            compare(findChild(item, "nameLabel").text, String(slot.index0) + ":  none")
            slot.setDisplayName("Desk")
            compare(findChild(item, "nameLabel").text, String(slot.index0) + ":  Desk")
            mouseClick(item, 150, 100)
            compare(slot.selected, true)
            mouseClick(findChild(item, "locationBButton"))
            // Unbound: the A/B buttons are hidden and a click there selects nothing new.
            compare(slot.locationBSelected, false)
            slot.setLocationBSelected(true)
            compare(findChild(item, "locationBButton").current, true)
        }

        function test_dialogWritesTheSlot() {
            var slot = createTemporaryObject(slotComponent, root)
            slot.setViewingOnly(true) // no recording process for this slot
            var dialog = createTemporaryObject(dialogComponent, root)
            dialog.reset(slot)
            dialog.open()
            tryCompare(dialog, "opened", true)
            compare(dialog.title, slot.name)
            dialog.customSourceField.text = "NOWHERE (Test)"
            dialog.displayNameField.text = "Stage"
            dialog.gainField.forceActiveFocus()
            dialog.gainSlider.value = -4.2
            dialog.showLevelsBox.checkState = Qt.Unchecked
            dialog.apply()
            compare(slot.enteredSource, "NOWHERE (Test)")
            compare(slot.displayName, "Stage")
            fuzzyCompare(slot.audioGain, -4.2, 1e-4)
            compare(slot.showLevels, false)
            compare(slot.viewingOnly, true)
            // The slot took the typed source: it is bound to it now.
            tryCompare(slot, "connectedSource", "NOWHERE (Test)")
            compare(slot.isConnected, true)
            // Picking a row of the sources list reaches the slot.
            dialog.reset(slot)
            dialog.sourceList.currentIndex = 1
            compare(slot.selectedInd, 1)
        }

        // The selection is walked over the application's slot list: extra1, extra2, then the rows.
        function test_selectionOverTheSlotList() {
            var list = realSlotList
            compare(list.count, 2)
            var first = list.get(0)
            var second = list.get(1)
            verify(list.extra1 && list.extra2 && first && second)
            root.slotsModel = list
            var wrapper = createTemporaryObject(cell, root, { model: second, qtObject: second })
            var item = wrapper.children[0].item

            list.extra2.setSelected(true)
            first.setSelected(true)
            second.setSelected(true)
            applicationWindow.opened = []
            mouseClick(findChild(item, "settingsButton"))
            compare(applicationWindow.opened, ["multi", 3])

            mouseDoubleClickSequence(item, 150, 100)
            compare(list.extra1.selected, false)
            compare(list.extra2.selected, false)
            compare(first.selected, false)
            compare(second.selected, false)
            root.slotsModel = null
        }
    }
}
