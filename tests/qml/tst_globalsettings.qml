import QtQuick
import QtTest
import StavelinRecorder

// The global settings form against the real settings object.
Item {
    id: root
    width: 420; height: 540
    Component { id: formComponent; GlobalSettings {} }
    Component { id: spyComponent; SignalSpy {} }
    TextMetrics { id: metrics }

    TestCase {
        id: testCase
        name: "GlobalSettings"
        when: windowShown
        property var form: null

        function init() {
            settingsModel.setLocation(testFolder), settingsModel.setLocationB(testFolder), settingsModel.setTcpServerPort(9099)
            settingsModel.setHttpServerPort(9098), settingsModel.setChopMinutes(30), settingsModel.setGridDimensions(33)
            form = createTemporaryObject(formComponent, root)
            form.reset()
        }
        // Until every field's check has answered: folders are looked at off the main thread.
        function settled() {
            tryVerify(function() { return form.checkedFields.every(function(f) { return f.problem !== "Checking the folder…" }) })
        }

        // The form shows the stored values, and shows them again when cancelled.
        function test_loadsAndCancels() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "cancelled" })
            form.tcpPortField.text = "7002", form.gridCombo.currentIndex = 0, form.listenCombo.currentIndex = 1, form.accessKeyField.text = "typed"
            form.cancel()
            compare(spy.count, 1)
            compare([form.folderAField.text, form.tcpPortField.text, form.httpPortField.text, form.chopMinutesField.text, form.gridCombo.currentText,
                     form.listenCombo.currentIndex, form.accessKeyField.text, settingsModel.tcpServerPort], [testFolder, "9099", "9098", "30", "3x3", 0, "", 9099])
            compare(form.smpteButton.checked, !settingsModel.ebuLevels)
            settled()
            verify(form.validate())
            form.gridCombo.currentIndex = 1, settingsModel.setGridDimensions(99), form.reset()
            compare(form.gridCombo.currentText, "3x2") // an unknown grid code keeps the choice
        }

        // Apply refuses a field it cannot take, with the reason under it, on the focused field; the
        // dialog stays. Folder B counts only with A/B recording on.
        function test_refusals_data() { // field, text, A/B on, reason ("" applies)
            var minutes = "Allowed: 1 to 65535 minutes", gone = "Folder does not exist: create it or choose another"
            return [["tcpServerPort", "80", false, "Allowed: 81 to 65535"], ["tcpServerPort", "81", false, ""], ["httpServerPort", "80", false, ""], ["httpServerPort", "79", false, "Allowed: 80 to 65535"],
                    ["tcpServerPort", "", false, "Allowed: 81 to 65535"], ["chopMinutes", "0", false, minutes], ["chopMinutes", "99999", false, minutes], ["chopMinutes", "65535", false, ""],
                    ["folderA", "/no/such/folder", false, gone], ["folderB", "/no/such/folder", true, gone], ["folderB", "/no/such/folder", false, ""]]
                .map(function(r) { return { tag: r.join(" "), r: r } })
        }
        function test_refusals(data) {
            var r = data.r, field = findChild(form, r[0]), reason = findChild(form, r[0] + "Problem"), refused = r[3] !== ""
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "applied" })
            form.abRecordingBox.checked = r[2], field.text = r[1]
            settled()
            verify(form.applyButton.enabled) // a click is always answered
            compare([form.apply(), spy.count, reason.visible, reason.text, field.activeFocus, String(field.color) === "#ff0000"], [!refused, refused ? 0 : 1, refused, r[3], refused, refused])
            settingsModel.setAbRecording(false)
        }

        // Five digits of minutes and the access key's hint fit their fields.
        function test_textsFit() {
            for (var pair of [[form.chopMinutesField, "65535"], [form.accessKeyField, form.accessKeyField.placeholderText]]) {
                metrics.font = pair[0].font, metrics.text = pair[1]
                verify(metrics.advanceWidth <= pair[0].width - pair[0].leftPadding - pair[0].rightPadding, pair[1])
            }
        }

        function test_applyWrites() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "applied" })
            form.gridCombo.currentIndex = form.gridCombo.find("2+14"), form.tcpPortField.text = "7001", form.httpPortField.text = "80"
            form.chopMinutesField.text = "65535", form.chopBox.checked = !settingsModel.chopEnabled, form.ebuButton.checked = true
            form.listenCombo.currentIndex = 1, form.accessKeyField.text = " s3cret "
            var chop = form.chopBox.checked
            settled()
            verify(form.apply())
            compare(spy.count, 1)
            compare([settingsModel.gridDimensions, settingsModel.tcpServerPort, settingsModel.httpServerPort, settingsModel.chopMinutes, settingsModel.chopEnabled,
                     settingsModel.ebuLevels, settingsModel.serverLocalOnly, settingsModel.serverAccessKey], [253, 7001, 80, 65535, chop, true, true, "s3cret"])
            compare([settingsModel.gridWidth, settingsModel.gridExtra], [3, 0]) // the grid of this run stays as it was
            settingsModel.setServerLocalOnly(false), settingsModel.setServerAccessKey(""), settingsModel.setEbuLevels(false), settingsModel.setChopEnabled(false)
        }
    }
}
