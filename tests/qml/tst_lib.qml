import QtQuick
import QtTest
import "qrc:/lib.js" as Lib

TestCase {
    id: testCase
    name: "Lib"

    Component {
        id: fakeSlot
        FakeSlot {}
    }

    function makeSlots(values) {
        var slots = []
        for (var i = 0; i < values.length; ++i)
            slots.push(createTemporaryObject(fakeSlot, testCase, values[i]))
        return slots
    }

    function test_stripPath_data() {
        return [
            { tag: "folder url", path: "file:///home/ana/Videos", expected: "/home/ana/Videos" },
            { tag: "escaped blank", path: "file:///home/ana/My%20Videos", expected: "/home/ana/My Videos" },
            { tag: "escaped hash", path: "file:///srv/take%231", expected: "/srv/take#1" },
            { tag: "plain path kept", path: "/home/ana/Videos", expected: "/home/ana/Videos" },
            { tag: "other scheme kept", path: "http://host/x", expected: "http://host/x" },
            { tag: "stray percent kept", path: "file:///srv/50%", expected: "/srv/50%" },
            { tag: "empty", path: "", expected: "" }
        ]
    }
    function test_stripPath(data) {
        compare(Lib.stripPath(data.path), data.expected)
    }

    function test_unstripPath_roundTrip_data() {
        return [
            { tag: "simple", path: "/home/ana/Videos" },
            { tag: "blank", path: "/home/ana/My Videos" },
            { tag: "hash and percent", path: "/srv/take#1 at 50%" },
            { tag: "question mark", path: "/srv/why?" }
        ]
    }
    function test_unstripPath_roundTrip(data) {
        var url = Lib.unstripPath(data.path)
        compare(url.indexOf("file://"), 0)
        compare(Lib.stripPath(url), data.path)
        verify(url.indexOf("#") < 0 && url.indexOf("?") < 0, url)
    }

    function test_nextCheckState_data() {
        return [
            { tag: "unchecked to checked", state: Qt.Unchecked, expected: Qt.Checked },
            { tag: "partial to checked", state: Qt.PartiallyChecked, expected: Qt.Checked },
            { tag: "checked to unchecked", state: Qt.Checked, expected: Qt.Unchecked }
        ]
    }
    function test_nextCheckState(data) {
        compare(Lib.nextCheckState(data.state), data.expected)
    }

    function test_gainFromText_data() {
        return [
            { tag: "comma ends the number", text: "2,5", expected: 2 },
            { tag: "negative decimal", text: "-3.4", expected: -3.4 },
            { tag: "no separator", text: "5", expected: NaN },
            { tag: "trailing point", text: "2.", expected: NaN },
            { tag: "trailing comma", text: "-3,", expected: NaN },
            { tag: "empty", text: "", expected: NaN },
            { tag: "leading point", text: ".5", expected: 0.5 },
            { tag: "not a number", text: "a.5", expected: NaN },
            { tag: "the multi marker", text: "[multi]", expected: NaN }
        ]
    }
    function test_gainFromText(data) {
        var value = Lib.gainFromText(data.text)
        if (isNaN(data.expected))
            verify(isNaN(value), "got " + value)
        else
            fuzzyCompare(value, data.expected, 1e-9)
    }

    function test_title_data() {
        return [
            { tag: "single idle", ids: [4], multiple: false, recording: false, expected: "Slot 4" },
            { tag: "single recording", ids: [4], multiple: false, recording: true, expected: "Slot 4 (RECORDING)" },
            { tag: "three selected", ids: [1, 4, 7], multiple: true, recording: false, expected: "Multiple Slots: 1, 4, 7" },
            { tag: "two selected", ids: [12, 3], multiple: true, recording: true, expected: "Multiple Slots: 12, 3" }
        ]
    }
    function test_title(data) {
        var values = []
        for (var i = 0; i < data.ids.length; ++i)
            values.push({ index0: data.ids[i], isRecording: data.recording })
        var slots = makeSlots(values)
        var ids = Lib.slotIdsText(slots)
        compare(Lib.slotDialogTitle(data.multiple ? null : slots[0], data.multiple, ids), data.expected)
    }

    function test_multiState_data() {
        return [
            { tag: "all alike", values: [{ viewingOnly: true }, { viewingOnly: true }],
              partial: [], folderA: "/tmp", gains: false, recording: false },
            { tag: "one box differs", values: [{ showLevels: true }, { showLevels: false }, { showLevels: true }],
              partial: ["showLevels"], folderA: "/tmp", gains: false, recording: false },
            { tag: "folder and gain differ", values: [{ customLocation: "/a", audioGain: 0 }, { customLocation: "/b", audioGain: 2.4 }],
              partial: [], folderA: "[multiple]", gains: true, recording: false },
            { tag: "last one records", values: [{}, {}, { isRecording: true, isFullRes: true }],
              partial: ["isFullRes"], folderA: "/tmp", gains: false, recording: true },
            { tag: "first one waits", values: [{ isWaiting: true }, {}],
              partial: [], folderA: "/tmp", gains: false, recording: true }
        ]
    }
    function test_multiState(data) {
        var state = Lib.multiState(makeSlots(data.values))
        for (var i = 0; i < Lib.checkProperties.length; ++i) {
            var name = Lib.checkProperties[i]
            compare(state.partial[name], data.partial.indexOf(name) >= 0, name)
        }
        compare(state.customLocation, data.folderA)
        compare(state.customLocationB, "/tmp")
        compare(state.multipleGains, data.gains)
        compare(state.isRecordingAny, data.recording)
    }

    function test_applyMultiLeavesPartialAlone() {
        var slots = makeSlots([{ index0: 1, showLevels: true, viewingOnly: false },
                               { index0: 2, showLevels: false, viewingOnly: false }])
        Lib.applyMulti(slots, {
            checks: { showLevels: Qt.PartiallyChecked, viewingOnly: Qt.Checked, isFullRes: Qt.Unchecked,
                      recordPreview: Qt.Unchecked, customLocationEnabled: Qt.Unchecked },
            folderA: "[multiple]", folderAAcceptable: false,
            folderB: "/srv", folderBAcceptable: false,
            multipleGains: true, gain: 3
        })
        compare(slots[0].showLevels, true)
        compare(slots[1].showLevels, false)
        compare(slots[1].calls, ["setViewingOnly true", "setIsFullRes false", "setRecordPreview false",
                                 "setCustomLocationEnabled false", "acceptClicked"])
    }

    function test_applyMultiWritesAcceptableFolders() {
        var slots = makeSlots([{ index0: 1 }, { index0: 2 }])
        Lib.applyMulti(slots, {
            checks: { showLevels: Qt.PartiallyChecked, viewingOnly: Qt.PartiallyChecked, isFullRes: Qt.PartiallyChecked,
                      recordPreview: Qt.PartiallyChecked, customLocationEnabled: Qt.Checked },
            folderA: "/srv/a", folderAAcceptable: true,
            folderB: "/srv/b", folderBAcceptable: true,
            multipleGains: false, gain: -6.2
        })
        for (var i = 0; i < 2; ++i)
            compare(slots[i].calls, ["setCustomLocationEnabled true", "setCustomLocation /srv/a",
                                     "setCustomLocationB /srv/b", "setAudioGain -6.2", "acceptClicked"])
    }

    function test_nameLabel_data() {
        return [
            { tag: "source", name: "Slot 12", display: "", source: "CAM (A)", expected: "12:  CAM (A)" },
            { tag: "display name wins", name: "Slot 3", display: "Stage", source: "CAM (A)", expected: "3:  Stage" },
            { tag: "unbound", name: "Slot 1", display: "", source: "none", expected: "1:  none" }
        ]
    }
    function test_nameLabel(data) {
        compare(Lib.nameLabel(data.name, data.display, data.source), data.expected)
    }

    function test_selectedSlotsInListOrder() {
        var slots = makeSlots([{ index0: 1, selected: true }, { index0: 2 }, { index0: 3, selected: true },
                               { index0: 4 }, { index0: 5, selected: true }])
        var list = {
            extra1: slots[0], extra2: slots[1], count: 3,
            get: function(i) { return slots[2 + i] }
        }
        var picked = Lib.selectedSlots(list)
        compare(Lib.slotIdsText(picked), "1, 3, 5")
        compare(Lib.allSlots(list).length, 5)
        compare(Lib.selectedSlots(null).length, 0)
    }
}
