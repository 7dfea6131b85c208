import QtQuick
import QtTest
import StavelinRecorder

// The global settings form against the real settings object.
Item {
    id: root
    width: 420; height: 540
    Component { id: formComponent; GlobalSettings {} }
    Component { id: spyComponent; SignalSpy {} }

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

        function test_loads() {
            compare([form.folderAField.text, form.tcpPortField.text, form.httpPortField.text, form.chopMinutesField.text, form.gridCombo.currentText],
                    [testFolder, "9099", "9098", "30", "3x3"])
            compare(form.smpteButton.checked, !settingsModel.ebuLevels)
            verify(form.validate() && form.applyButton.enabled)
            form.gridCombo.currentIndex = 1, settingsModel.setGridDimensions(99), form.reset()
            compare(form.gridCombo.currentText, "3x2") // an unknown grid code keeps the choice
        }

        function test_validation_data() { // field, text, accepted
            return [["tcp", "80", false], ["tcp", "81", true], ["http", "80", true], ["http", "79", false], ["http", "65535", true], ["tcp", "", false],
                    ["minutes", "0", false], ["minutes", "1", true], ["minutes", "65535", true], ["folderA", "/no/such/folder", false],
                    ["folderB", "/no/such/folder", false]].map(function(r) { return { tag: r.join(" "), r: r } })
        }
        function test_validation(data) {
            var field = { tcp: form.tcpPortField, http: form.httpPortField, minutes: form.chopMinutesField, folderA: form.folderAField, folderB: form.folderBField }[data.r[0]]
            field.text = data.r[1]
            compare([form.validate(), form.applyButton.enabled, String(field.color) !== "#ff0000"], [data.r[2], data.r[2], data.r[2]])
            if (data.r[0] !== "folderB")
                return
            form.abRecordingBox.checked = false // a missing folder B blocks even without A/B
            verify(!form.folderBField.enabled && !form.validate() && !form.apply())
            compare(settingsModel.locationB, testFolder)
        }

        function test_applyWrites() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "applied" })
            form.gridCombo.currentIndex = form.gridCombo.find("2+14"), form.tcpPortField.text = "7001", form.httpPortField.text = "80"
            form.chopMinutesField.text = "65535", form.chopBox.checked = !settingsModel.chopEnabled, form.ebuButton.checked = true
            form.listenCombo.currentIndex = 1, form.accessKeyField.text = " s3cret "
            var chop = form.chopBox.checked
            verify(form.apply())
            compare(spy.count, 1)
            compare([settingsModel.gridDimensions, settingsModel.tcpServerPort, settingsModel.httpServerPort, settingsModel.chopMinutes, settingsModel.chopEnabled,
                     settingsModel.ebuLevels, settingsModel.serverLocalOnly, settingsModel.serverAccessKey], [253, 7001, 80, 65535, chop, true, true, "s3cret"])
            compare([settingsModel.gridWidth, settingsModel.gridExtra], [3, 0]) // the grid of this run stays as it was
            settingsModel.setServerLocalOnly(false), settingsModel.setServerAccessKey(""), settingsModel.setEbuLevels(false), settingsModel.setChopEnabled(false)
        }

        function test_cancelShowsStoredValues() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "cancelled" })
            form.tcpPortField.text = "7002", form.gridCombo.currentIndex = 0, form.listenCombo.currentIndex = 1, form.accessKeyField.text = "typed"
            form.cancel()
            compare(spy.count, 1)
            compare([settingsModel.tcpServerPort, form.tcpPortField.text, form.listenCombo.currentIndex, form.accessKeyField.text, form.gridCombo.currentText],
                    [9099, "9099", 0, "", "3x3"])
        }
    }
}
