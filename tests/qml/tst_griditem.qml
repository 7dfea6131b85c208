import QtQuick
import QtTest
import StavelinRecorder

// One cell overlay over a stand-in slot, with stand-ins for the window and the app's objects.
Item {
    id: root
    width: 400; height: 240
    property QtObject settingsModel: QtObject { property bool tallyEnabled: true; property bool abRecording: true; property string location: "/rec/a"; property string locationB: "/rec/b" }
    property QtObject slotsAudioHelper: QtObject {
        property var calls: []
        function startListening(slot) { calls = calls.concat(["start " + slot.index0]) }
        function stopListening() { calls = calls.concat(["stop"]) }
    }
    property var slotsModel: null
    Item {
        id: applicationWindow
        property bool mouseHidden: false
        property var opened: []
        function settingsDialogOpen(slot) { opened = ["single", slot.index0] }
        function settingsDialogOpenMulti(selected) { opened = ["multi"].concat(selected.map(function(s) { return s.index0 })) }
    }
    Component { id: fakeSlot; FakeSlot {} }
    Component { id: cell; SpecialGridItem { width: 367; height: 207; appWindow: applicationWindow } }
    Component { id: spyComponent; SignalSpy {} }

    TestCase {
        id: testCase
        name: "GridItem"
        when: windowShown
        property color probe
        property var slot: null
        property var item: null
        property var special: null

        // A cell over a fresh slot; telemetry, when given, is the recording's.
        function make(values, telemetry) {
            // The cell is made before its slots, so it goes first and never outlives them.
            special = special || createTemporaryObject(cell, root)
            slot = createTemporaryObject(fakeSlot, testCase, Object.assign({ index0: 4, connectedSource: "CAMERA-1 (Stage)", isConnected: true }, values))
            if (telemetry)
                slot.telemetry = createTemporaryQmlObject("import QtQml; QtObject { property string wallText: '01:02:03'; property string elapsedText: '"
                                                          + telemetry[0] + "'; property real wallMs: 3723000; property real elapsedMs: " + telemetry[1]
                                                          + "; property real droppedFrames: " + telemetry[2] + " }", testCase)
            special.model = special.qtObject = slot
            verify(item = special.children[0].item)
        }
        function init() {
            special = null
            settingsModel.tallyEnabled = settingsModel.abRecording = true, applicationWindow.mouseHidden = false, slotsAudioHelper.calls = [], root.slotsModel = null
            make({}), waitForRendering(item)
        }
        function part(name) { var found = findChild(item, name); verify(found, name); return found }
        function sameColour(actual, expected) { probe = expected; compare(String(actual), String(probe)) }
        function slotList(selected) { // first and last around the cell's own slot
            var ends = [1, 9].map(function(id, i) { return createTemporaryObject(fakeSlot, testCase, { index0: id, selected: selected[i] }) })
            root.slotsModel = { extra1: ends[0], count: 2, get: function(i) { return [slot, ends[1]][i] } }
            return ends
        }

        function test_border_data() { // tally on, tally state, selected, cursor hidden, border
            return [[true, 0, false, false, "transparent"], [true, 1, false, false, "limegreen"], [true, 2, false, false, "red"],
                    [false, 2, false, false, "transparent"], [true, 2, true, false, "#ffd400"], [false, 2, true, false, "#ffd400"],
                    [false, 2, true, true, "transparent"], [true, 2, true, true, "red"]].map(function(r) { return { tag: r.join(" "), r: r } })
        }
        function test_border(data) {
            settingsModel.tallyEnabled = data.r[0]; slot.tallyState = data.r[1]; slot.selected = data.r[2]; applicationWindow.mouseHidden = data.r[3]
            sameColour(item.border.color, data.r[4])
            sameColour(part("nameLabel").color, data.r[2] && !data.r[3] ? "#bf91ff" : "#ffffff")
        }

        function test_nameLabel() {
            slot.index0 = 12, compare(part("nameLabel").text, "12:  CAMERA-1 (Stage)"), slot.displayName = "Stage left"
            compare([part("nameLabel").text, part("namePlate").width], ["12:  Stage left", Math.min(part("nameLabel").implicitWidth, part("nameLabel").width) + 10])
        }

        function test_spaceBadges_data() { // GB on A, on B (low below 10), A/B on, viewing only, bound, badge A, badge B
            return [[120, 120, true, false, true, false, false], [9.89, 120, true, false, true, true, false],
                    [120, 3.2, true, false, true, false, true], [120, 3.2, false, false, true, false, false], [1, 1, true, true, true, false, false],
                    [1, 1, true, false, false, false, false], [2.25, 120, false, false, true, true, false]].map(function(r) { return { tag: r.join(" "), r: r } })
        }
        function test_spaceBadges(data) {
            var r = data.r
            settingsModel.abRecording = r[2]; slot.gigabytesAvailable = r[0]; slot.gigabytesBAvailable = r[1]; slot.viewingOnly = r[3]; slot.isConnected = r[4]
            slot.lowSpaceA = r[0] < 10; slot.lowSpaceB = r[1] < 10
            compare([part("badgeA").visible, part("badgeB").visible], [r[5], r[6]])
            compare(part("locationAButton").visible, r[2] && !r[3] && r[4])
            if (r[5]) // the badge says what its figure is
                compare(part("badgeA").text, (r[2] ? "A: " : "Low space: ") + r[0].toFixed(1) + " GB")
        }

        function test_recordButton() {
            slot.connectedSource = "none", slot.warning = "Disk is slow", mouseClick(part("recordButton"))
            compare([slot.calls, item.displayWarning, part("recordButton").opacity.toFixed(1)], [[], false, "0.3"])
            slot.connectedSource = "CAM", mouseClick(part("recordButton"))
            compare([slot.calls, part("recordButton").opacity], [["recordClicked"], 1])
            var icons = [[false, false, ""], [false, true, "-waiting"], [true, false, "-recording"]]
            for (var i = 0; i < icons.length; ++i)
                slot.isRecording = icons[i][0], slot.isWaiting = icons[i][1], compare(String(part("recordButton").icon.source), "qrc:/qt-project.org/imports/StavelinRecorder/icons/icons8-record-64" + icons[i][2] + ".png")
            slot.viewingOnly = true, verify(!part("recordButton").visible)
        }

        // What the cell says from across the room, per state word: the badge (the slot's label, the
        // wall clock, recorded time and lost frames when they differ), a hint when empty, a card
        // without signal, a strip in the state's colour, the picture's format.
        function test_cellStates_data() { // word, label, busy, telemetry, badge text, second line, badge colour, hint, card, strip colour, format
            var rec = ["01:02:03", 3723000, 0], behind = ["01:01:00", 3660000, 80]
            return [["empty", "", false, null, "", "", "", true, false, "", ""], ["ready", "READY", false, null, "", "", "", false, false, "", "1920x1080 25p"],
                    ["no signal", "NO SIGNAL", false, null, "", "", "", false, true, "", ""],
                    ["waiting", "WAITING", true, rec, "WAITING", "", "#606060", false, false, "#909090", ""],
                    ["recording", "REC", true, rec, "● REC 01:02:03", "", "#e01010", false, false, "#e01010", "1280x720 50p"],
                    ["dropping", "DROPPING 12 %", true, behind, "DROPPING 12 % 01:02:03", "rec 01:01:00, 80 lost", "#f0a000", false, false, "#f0a000", "1280x720 50p"],
                    ["stalled", "STALLED", true, rec, "STALLED 01:02:03", "", "#f0a000", false, false, "#f0a000", ""],
                    ["no signal", "NO SIGNAL", true, behind, "NO SIGNAL 01:02:03", "rec 01:01:00, 80 lost", "#f0a000", false, true, "#f0a000", ""],
                    ["failed", "FAILED", false, rec, "FAILED", "", "#101010", false, false, "#ff3030", ""]].map(function(r) { return { tag: r.slice(0, 3).join(" "), r: r } })
        }
        function test_cellStates(data) {
            var r = data.r
            make({ isConnected: r[0] !== "empty", connectedSource: r[0] !== "empty" ? "CAM" : "none", stateWord: r[0], stateLabel: r[1], busy: r[2], videoFormat: r[10] }, r[3])
            compare([part("recBadge").visible, part("unboundHint").visible, part("noSignalCard").visible, part("stateStrip").visible, part("formatLabel").visible, part("audioMeters").visible],
                    [r[4] !== "", r[7], r[8], r[9] !== "", r[10] !== "" && r[0] !== "no signal", r[0] !== "empty"])
            if (r[4] !== "")
                compare([part("recText").text, part("recordedText").text], [r[4], r[5]]), sameColour(part("recBadge").color, r[6])
            if (r[9] !== "")
                sameColour(part("stateStrip").color, r[9])
        }

        // The warning in force shows; closed, it stays away until another comes, and it goes when its cause ends.
        function test_warnings() {
            compare(part("warningBar").visible, false)
            slot.warning = "Recording stalled", compare([part("warningBar").visible, part("warningLabel").text], [true, "Recording stalled"])
            mouseClick(part("warningCloseButton")), verify(!part("warningBar").visible)
            slot.warning = "Recording can't keep up", verify(part("warningBar").visible)
            slot.warning = "", verify(!part("warningBar").visible)
        }

        function test_clicks() {
            var seen = []
            for (var button of [Qt.LeftButton, Qt.RightButton, Qt.LeftButton])
                mouseClick(item, 150, 100, button), seen.push(slot.selected)
            compare(seen, [true, true, false]) // a right click leaves the selection alone
            var others = slotList([true, true]); slot.selected = true
            mouseDoubleClickSequence(item, 150, 100) // clears every selection
            compare([slot.selected, others[0].selected, others[1].selected], [false, false, false])
            slot.isConnected = false, mouseDoubleClickSequence(item, 150, 100) // on an empty cell: its settings
            compare(applicationWindow.opened, ["single", 4])
        }

        function test_settingsButton_data() { // this one selected, the others, what opens
            return [[false, [true, true], ["single", 4]], [true, [false, false], ["single", 4]], [true, [true, false], ["multi", 1, 4]],
                    [true, [true, true], ["multi", 1, 4, 9]]].map(function(r) { return { tag: JSON.stringify(r.slice(0, 2)), r: r } })
        }
        function test_settingsButton(data) {
            slotList(data.r[1]), slot.selected = data.r[0], slot.selectedInd = 2
            mouseClick(part("settingsButton"))
            compare([applicationWindow.opened, slot.selectedInd], [data.r[2], data.r[0] ? 2 : -1])
        }

        function test_listenAndLocationButtons() {
            mouseClick(part("listenButton")), slot.isListening = true, mouseClick(part("listenButton"))
            compare([slotsAudioHelper.calls, part("listenButton").opacity], [["start 4", "stop"], 1])
            mouseClick(part("locationBButton"))
            compare([slot.locationBSelected, part("locationBButton").opacity, part("locationAButton").opacity], [true, 1.0, 0.5])
            mouseClick(part("locationAButton"))
            compare([slot.locationBSelected, part("locationAButton").tip, part("locationBButton").tip], [false, "/rec/a (100000.0 GB)", "/rec/b (0.0 GB)"])
            slot.folderB = "/own/b", slot.gigabytesBAvailable = 12.345
            compare(part("locationBButton").tip, "/own/b (12.3 GB)")
        }

        function test_hoverShowsControls() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: item, signalName: "mouseMoved" })
            compare(part("settingsButton").opacity, 0)
            mouseMove(item, 100, 100), mouseMove(item, 120, 110)
            tryCompare(part("settingsButton"), "opacity", 1.0)
            // Movements over a button count as well (the buttons take hover for their tooltips); a repeated position does not.
            var before = spy.count; mouseMove(part("recordButton"), 10, 10), mouseMove(part("recordButton"), 14, 12)
            tryVerify(function() { return spy.count >= before + 2 })
            var now = spy.count; mouseMove(part("recordButton"), 14, 12), mouseMove(item, 120, 110)
            tryVerify(function() { return spy.count > now })
            compare(spy.count, now + 1)
            applicationWindow.mouseHidden = true, compare([part("settingsButton").opacity, part("listenButton").opacity], [0, 0])
            mouseMove(root, 399, 239)
        }

        // The meters' pixels: bar height follows the level, green at the bottom, red above full scale.
        function test_meters() {
            var meters = part("audioMeters"), bar = part("leftBar"), x = bar.x + 1, top = bar.y + 3, bottom = bar.y + bar.height - 1
            var clear = part("rightBar").x + meters.barWidth + 1 // beside the bars: the backing
            for (var level = 0; level <= 100; level += 50) {
                slot.leftLevel = level, waitForRendering(item)
                var image = grabImage(meters)
                var drawn = function(x, y) { return String(image.pixel(x, y)) !== String(image.pixel(clear, y)) }
                compare([drawn(part("rightBar").x + 1, bottom), drawn(x, bottom), drawn(x, top), drawn(x, bar.y + bar.height * 0.4), drawn(x, bar.y + bar.height * 0.6)],
                        [false, level > 0, level === 100, level === 100, level > 0], "level " + level)
                verify(level === 0 || image.pixel(x, bottom).g > 0.6 && image.pixel(x, bottom).r < 0.4, "green at the bottom")
                verify(level < 100 || image.pixel(x, top).r > 0.9 && image.pixel(x, top).g < 0.3, "red at the top")
            }
            slot.showLevels = false, verify(!meters.visible)
        }
    }
}
