import QtQuick
import QtTest
import "qrc:/"

// One cell overlay over a stand-in slot, with stand-ins for the window and the app's objects.
Item {
    id: root
    width: 400
    height: 240
    property QtObject settingsModel: QtObject {
        property bool tallyEnabled: true
        property bool abRecording: true
        property string location: "/rec/a"
        property string locationB: "/rec/b"
    }
    property QtObject slotsAudioHelper: QtObject {
        property var calls: []
        function startListening(slot) { calls = calls.concat(["start " + slot.index0]) }
        function stopListening() { calls = calls.concat(["stop"]) }
    }
    property var slotsModel: null

    TestCase {
        id: testCase
        name: "GridItem"
        when: windowShown

        property color probe

        Item {
            id: applicationWindow
            property bool mouseHidden: false
            property var opened: []
            function settingsDialogOpen(slot) { opened = ["single", slot.index0] }
            function settingsDialogOpenMulti(selected) {
                var ids = ["multi"]
                for (var i = 0; i < selected.length; ++i)
                    ids.push(selected[i].index0)
                opened = ids
            }
        }

        Component {
            id: fakeSlot
            FakeSlot {}
        }
        Component {
            id: cell
            SpecialGridItem {
                width: 367
                height: 207
            }
        }
        Component {
            id: listModel
            QtObject {
                property var rows: []
                property var extra1: null
                property var extra2: null
                property int count: rows.length
                function get(i) { return rows[i] }
            }
        }

        property var slot: null
        property var wrapper: null
        property var item: null

        function init() {
            settingsModel.tallyEnabled = true
            settingsModel.abRecording = true
            applicationWindow.mouseHidden = false
            applicationWindow.opened = []
            slotsAudioHelper.calls = []
            root.slotsModel = null
            slot = createTemporaryObject(fakeSlot, testCase, {
                index0: 4, connectedSource: "CAMERA-1 (Stage)", isConnected: true
            })
            wrapper = createTemporaryObject(cell, root, { model: slot, qtObject: slot })
            item = wrapper.children[0].item
            verify(item)
            waitForRendering(item)
        }

        function part(name) {
            var found = findChild(item, name)
            verify(found, name)
            return found
        }

        function sameColour(actual, expected) {
            probe = expected
            compare(String(actual), String(probe))
        }

        function test_border_data() {
            return [
                { tag: "free", tallyOn: true, tally: 0, selected: false, hidden: false, colour: "transparent" },
                { tag: "preview", tallyOn: true, tally: 1, selected: false, hidden: false, colour: "limegreen" },
                { tag: "program", tallyOn: true, tally: 2, selected: false, hidden: false, colour: "red" },
                { tag: "program, tally off", tallyOn: false, tally: 2, selected: false, hidden: false, colour: "transparent" },
                { tag: "selected wins", tallyOn: true, tally: 2, selected: true, hidden: false, colour: "#8129fe" },
                { tag: "selected, tally off", tallyOn: false, tally: 2, selected: true, hidden: false, colour: "#8129fe" },
                { tag: "selected, cursor hidden", tallyOn: false, tally: 2, selected: true, hidden: true, colour: "transparent" },
                { tag: "selected, hidden, program", tallyOn: true, tally: 2, selected: true, hidden: true, colour: "red" }
            ]
        }
        function test_border(data) {
            settingsModel.tallyEnabled = data.tallyOn
            slot.tallyState = data.tally
            slot.selected = data.selected
            applicationWindow.mouseHidden = data.hidden
            sameColour(item.border.color, data.colour)
            sameColour(part("nameLabel").color, data.selected && !data.hidden ? "#bf91ff" : "#ffffff")
        }

        function test_nameLabel_data() {
            return [
                { tag: "source name", name: "Slot 12", display: "", expected: "12:  CAMERA-1 (Stage)" },
                { tag: "display name", name: "Slot 12", display: "Stage left", expected: "12:  Stage left" }
            ]
        }
        function test_nameLabel(data) {
            slot.name = data.name
            slot.displayName = data.display
            compare(part("nameLabel").text, data.expected)
            var plate = part("namePlate")
            compare(plate.width, Math.min(part("nameLabel").implicitWidth, part("nameLabel").width) + 10)
        }

        function test_spaceBadges_data() {
            return [
                { tag: "plenty", a: 120, b: 120, ab: true, viewing: false, connected: true, showA: false, showB: false },
                { tag: "A just below", a: 9.89, b: 120, ab: true, viewing: false, connected: true, showA: true, showB: false },
                { tag: "A at the limit", a: 9.9, b: 120, ab: true, viewing: false, connected: true, showA: false, showB: false },
                { tag: "B low", a: 120, b: 3.2, ab: true, viewing: false, connected: true, showA: false, showB: true },
                { tag: "B low, A/B off", a: 120, b: 3.2, ab: false, viewing: false, connected: true, showA: false, showB: false },
                { tag: "A low, viewing only", a: 1, b: 1, ab: true, viewing: true, connected: true, showA: false, showB: false },
                { tag: "A low, unbound", a: 1, b: 1, ab: true, viewing: false, connected: false, showA: false, showB: false }
            ]
        }
        function test_spaceBadges(data) {
            settingsModel.abRecording = data.ab
            slot.gigabytesAvailable = data.a
            slot.gigabytesBAvailable = data.b
            slot.viewingOnly = data.viewing
            slot.isConnected = data.connected
            compare(part("badgeA").visible, data.showA)
            compare(part("badgeB").visible, data.showB)
            compare(part("abPlate").visible, data.ab && !data.viewing && data.connected)
            compare(part("locationAButton").visible, data.ab && !data.viewing && data.connected)
            if (data.showA) {
                compare(part("badgeA").anchors.rightMargin, data.ab ? 64 : 44)
                compare(part("badgeA").children[0].text, data.a.toFixed(1))
            }
        }

        function test_recordButton_data() {
            return [
                { tag: "unbound does nothing", source: "none", calls: [], opacity: 0.3 },
                { tag: "bound records", source: "CAMERA-1 (Stage)", calls: ["recordClicked"], opacity: 1.0 }
            ]
        }
        function test_recordButton(data) {
            slot.connectedSource = data.source
            item.showWarning("Disk is slow")
            var button = part("recordButton")
            fuzzyCompare(button.opacity, data.opacity, 0.001)
            mouseClick(button)
            compare(item.displayWarning, false)
            compare(slot.calls, data.calls)
        }

        function test_recordIcon_data() {
            return [
                { tag: "idle", recording: false, waiting: false, icon: "qrc:/icons/icons8-record-64.png" },
                { tag: "waiting", recording: false, waiting: true, icon: "qrc:/icons/icons8-record-64-waiting.png" },
                { tag: "recording", recording: true, waiting: false, icon: "qrc:/icons/icons8-record-64-recording.png" }
            ]
        }
        function test_recordIcon(data) {
            slot.isRecording = data.recording
            slot.isWaiting = data.waiting
            compare(String(part("recordButton").icon.source), data.icon)
            slot.viewingOnly = true
            verify(!part("recordButton").visible)
        }

        // The recording's health at a glance: the badge's words and colour per telemetry state.
        function test_recBadge_data() {
            return [
                { tag: "idle", state: "idle", visible: false },
                { tag: "waiting", state: "waiting", visible: true, text: "WAITING", color: "#606060" },
                { tag: "recording", state: "recording", visible: true, text: "● REC 01:02:03", color: "#e01010" },
                { tag: "stalled", state: "stalled", visible: true, text: "STALLED 01:02:03", color: "#f0a000" },
                { tag: "failed", state: "failed", visible: true, text: "FAILED", color: "#101010" }
            ]
        }
        function test_recBadge(data) {
            var telemetry = createTemporaryQmlObject("import QtQml; QtObject { property string state: '"
                + data.state + "'; property string elapsedText: '01:02:03' }", testCase)
            slot = createTemporaryObject(fakeSlot, testCase, { isConnected: true, connectedSource: "CAM" })
            slot.telemetry = telemetry
            wrapper = createTemporaryObject(cell, root, { model: slot, qtObject: slot })
            item = wrapper.children[0].item
            compare(part("recBadge").visible, data.visible)
            if (!data.visible)
                return
            compare(part("recText").text, data.text)
            sameColour(part("recBadge").color, data.color)
        }

        // What the cell says from across the room: a hint when empty, a card without signal,
        // a strip in the recording's colour, the picture's format.
        function test_cellStates_data() {
            return [
                { tag: "unbound", connected: false, lost: false, state: "idle", hint: true, card: false, strip: false },
                { tag: "live", connected: true, lost: false, state: "idle", hint: false, card: false, strip: false,
                  format: "1920x1080 25p" },
                { tag: "no signal", connected: true, lost: true, state: "idle", hint: false, card: true, strip: false },
                { tag: "recording", connected: true, lost: false, state: "recording", hint: false, card: false,
                  strip: true, color: "#e01010", format: "1280x720 50p" },
                { tag: "stalled", connected: true, lost: true, state: "stalled", hint: false, card: true,
                  strip: true, color: "#f0a000" },
                { tag: "failed", connected: true, lost: false, state: "failed", hint: false, card: false,
                  strip: true, color: "#ff3030" }
            ]
        }
        function test_cellStates(data) {
            var telemetry = createTemporaryQmlObject("import QtQml; QtObject { property string state: '"
                + data.state + "'; property string elapsedText: '00:00:05' }", testCase)
            slot = createTemporaryObject(fakeSlot, testCase, {
                isConnected: data.connected, connectedSource: data.connected ? "CAM" : "none",
                signalLost: data.lost, videoFormat: data.format || "" })
            slot.telemetry = telemetry
            wrapper = createTemporaryObject(cell, root, { model: slot, qtObject: slot })
            item = wrapper.children[0].item
            compare(part("unboundHint").visible, data.hint)
            compare(part("noSignalCard").visible, data.card)
            compare(part("stateStrip").visible, data.strip)
            if (data.strip)
                sameColour(part("stateStrip").color, data.color)
            compare(part("formatLabel").visible, !!data.format)
            if (data.format)
                compare(part("formatLabel").text, data.format)
        }

        function test_doubleClickOnAnEmptyCellOpensSettings() {
            slot.isConnected = false
            mouseDoubleClickSequence(item, 150, 100)
            compare(applicationWindow.opened, ["single", 4])
        }

        function test_warnings_data() {
            return [
                { tag: "out of space", signal: "stopped", arg: 1, shown: true, text: "Out of space" },
                { tag: "stopped by user", signal: "stopped", arg: 0, shown: false, text: "" },
                { tag: "recorder error", signal: "stopped", arg: 2, shown: false, text: "" },
                { tag: "warning text", signal: "warning", arg: "Dropped frames", shown: true, text: "Dropped frames" }
            ]
        }
        function test_warnings(data) {
            if (data.signal === "stopped")
                slot.recordingStopped(data.arg)
            else
                slot.recordingWarning(data.arg)
            compare(item.displayWarning, data.shown)
            compare(part("warningBar").visible, data.shown)
            if (data.shown)
                compare(part("warningLabel").text, data.text)
            slot.isConnected = false
            compare(item.displayWarning, false)
        }

        function test_warningCloseButton() {
            slot.recordingWarning("Dropped frames")
            verify(part("warningBar").visible)
            mouseClick(part("warningCloseButton"))
            verify(!part("warningBar").visible)
        }

        function test_clickSelects() {
            mouseClick(item, 150, 100)
            compare(slot.selected, true)
            mouseClick(item, 150, 100, Qt.RightButton)
            compare(slot.selected, true)
            mouseClick(item, 150, 100)
            compare(slot.selected, false)
        }

        function test_doubleClickClearsSelection() {
            var others = [createTemporaryObject(fakeSlot, testCase, { index0: 1, selected: true }),
                          createTemporaryObject(fakeSlot, testCase, { index0: 2, selected: true })]
            root.slotsModel = createTemporaryObject(listModel, testCase, { extra1: others[0], rows: [slot, others[1]] })
            mouseDoubleClickSequence(item, 150, 100)
            compare(slot.selected, false)
            compare(others[0].selected, false)
            compare(others[1].selected, false)
        }

        function test_settingsButton_data() {
            return [
                { tag: "not selected", selected: false, others: [true, true], expected: ["single", 4] },
                { tag: "selected alone", selected: true, others: [false, false], expected: ["single", 4] },
                { tag: "selected with others", selected: true, others: [true, false], expected: ["multi", 1, 4] },
                { tag: "all selected", selected: true, others: [true, true], expected: ["multi", 1, 4, 9] }
            ]
        }
        function test_settingsButton(data) {
            var first = createTemporaryObject(fakeSlot, testCase, { index0: 1, selected: data.others[0] })
            var last = createTemporaryObject(fakeSlot, testCase, { index0: 9, selected: data.others[1] })
            root.slotsModel = createTemporaryObject(listModel, testCase, { extra1: first, rows: [slot, last] })
            slot.selected = data.selected
            slot.selectedInd = 2
            mouseClick(part("settingsButton"))
            compare(applicationWindow.opened, data.expected)
            compare(slot.selectedInd, data.selected ? 2 : -1)
        }

        function test_listenButton() {
            mouseClick(part("listenButton"))
            slot.isListening = true
            mouseClick(part("listenButton"))
            compare(slotsAudioHelper.calls, ["start 4", "stop"])
            fuzzyCompare(part("listenButton").opacity, 1.0, 0.001)
        }

        function test_locationButtons() {
            mouseClick(part("locationBButton"))
            compare(slot.locationBSelected, true)
            fuzzyCompare(part("locationBButton").opacity, 1.0, 0.001)
            fuzzyCompare(part("locationAButton").opacity, 0.5, 0.001)
            mouseClick(part("locationAButton"))
            compare(slot.locationBSelected, false)
            compare(part("locationBButton").tip, "/rec/b (0.0 GB)")
            slot.customLocationEnabled = true
            slot.customLocationB = "/own/b"
            slot.gigabytesBAvailable = 12.345
            compare(part("locationBButton").tip, "/own/b (12.3 GB)")
        }

        function test_hoverShowsControls() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: item, signalName: "mouseMoved" })
            fuzzyCompare(part("settingsButton").opacity, 0.0, 0.001)
            mouseMove(item, 100, 100)
            mouseMove(item, 120, 110)
            tryVerify(function() { return spy.count > 0 })
            tryCompare(part("settingsButton"), "opacity", 1.0)
            fuzzyCompare(part("listenButton").opacity, 0.6, 0.001)
            // Movements over a button count as well: the buttons take hover for their tooltips.
            var before = spy.count
            var button = part("recordButton")
            mouseMove(button, 10, 10)
            mouseMove(button, 14, 12)
            tryVerify(function() { return spy.count >= before + 2 })
            // A repeated position is no movement.
            var now = spy.count
            mouseMove(button, 14, 12)
            mouseMove(item, 120, 110)
            tryVerify(function() { return spy.count > now })
            compare(spy.count, now + 1)
            applicationWindow.mouseHidden = true
            fuzzyCompare(part("settingsButton").opacity, 0.0, 0.001)
            fuzzyCompare(part("listenButton").opacity, 0.0, 0.001)
            mouseMove(root, 399, 239)
        }

        Component {
            id: spyComponent
            SignalSpy {}
        }

        // Real pixels of the meters: bar height follows the level, the colour follows the height.
        function test_meterPixels_data() {
            return [
                { tag: "silent", level: 0 },
                { tag: "half", level: 50 },
                { tag: "full", level: 100 }
            ]
        }
        function test_meterPixels(data) {
            slot.leftLevel = data.level
            slot.rightLevel = 0
            var meters = part("audioMeters")
            waitForRendering(item)
            var image = grabImage(meters)
            var h = Math.floor(meters.height)
            // Column 16 lies between the scale and the bars: whatever is there is background.
            function drawn(x, y) { return String(image.pixel(x, y)) !== String(image.pixel(16, y)) }
            function colour(x, y) { return image.pixel(x, y) }
            verify(!drawn(20, h - 1), "right bar at level 0 draws nothing")
            if (data.level === 0) {
                verify(!drawn(17, h - 1), "nothing drawn at level 0")
            } else {
                var bottom = colour(17, h - 1)
                verify(bottom.g > 0.6 && bottom.r < 0.4, "bottom is green: " + bottom)
            }
            if (data.level === 100) {
                var top = colour(17, 1)
                verify(top.r > 0.9 && top.g < 0.3, "top is red: " + top)
            } else {
                verify(!drawn(17, 1), "no bar at the top")
            }
            if (data.level === 50) {
                verify(!drawn(17, Math.floor(h * 0.4)), "no bar above half")
                verify(drawn(17, Math.floor(h * 0.6)), "bar below half")
            }
            compare(findChild(meters, "leftBar").height, Math.max(Math.min(data.level, 100) / 100 * h, 0))
        }

        function test_meterScale_data() {
            return [
                { tag: "0 dB", index: 0, label: "0", top: 0 },
                { tag: "-6 dB", index: 1, label: "-6", top: 0.075 },
                { tag: "-20 dB", index: 2, label: "-20", top: 0.24 },
                { tag: "-32 dB", index: 3, label: "-32", top: 0.392 },
                { tag: "-44 dB", index: 4, label: "-44", top: 0.54 },
                { tag: "-68 dB", index: 5, label: "-68", top: 0.836 }
            ]
        }
        function test_meterScale(data) {
            var meters = part("audioMeters")
            var column = meters.children[0]
            var band = column.children[data.index]
            compare(band.children[0].text, data.label)
            // The column places its bands when it is laid out, before the next frame.
            var expected = -4 + data.top * meters.height
            tryVerify(function() { return Math.abs(band.mapToItem(meters, 0, 0).y - expected) < 0.01 }, 5000,
                      "band at " + band.mapToItem(meters, 0, 0).y + ", expected " + expected)
        }

        function test_metersFollowShowLevels() {
            verify(part("audioMeters").visible)
            slot.showLevels = false
            verify(!part("audioMeters").visible)
        }
    }
}
