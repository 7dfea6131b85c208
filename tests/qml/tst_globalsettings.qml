import QtQuick
import QtTest
import "qrc:/"

// The global settings form against the real settings object.
Item {
    id: root
    width: 420
    height: 540

    TestCase {
        id: testCase
        name: "GlobalSettings"
        when: windowShown

        Component {
            id: formComponent
            GlobalSettings {}
        }

        property var form: null

        function init() {
            settingsModel.setLocation(testFolder)
            settingsModel.setLocationB(testFolder)
            settingsModel.setTcpServerPort(9099)
            settingsModel.setHttpServerPort(9098)
            settingsModel.setChopMinutes(30)
            settingsModel.setGridDimensions(33)
            form = createTemporaryObject(formComponent, root)
            form.reset()
        }

        function test_loadsSettings() {
            compare(form.folderAField.text, testFolder)
            compare(form.tcpPortField.text, "9099")
            compare(form.httpPortField.text, "9098")
            compare(form.chopMinutesField.text, "30")
            compare(form.gridCombo.currentText, "3x3")
            compare(form.smpteButton.checked, !settingsModel.ebuLevels)
            verify(form.validate())
            verify(form.applyButton.enabled)
            // The controls configuration of the resources: Fusion with Arial at 12 pixels.
            compare(form.applyButton.font.family, "Arial")
            compare(form.applyButton.font.pixelSize, 12)
        }

        function test_validation_data() {
            return [
                { tag: "TCP port 80 refused", field: "tcp", text: "80", valid: false },
                { tag: "TCP port 81 accepted", field: "tcp", text: "81", valid: true },
                { tag: "HTTP port 80 accepted", field: "http", text: "80", valid: true },
                { tag: "HTTP port 79 refused", field: "http", text: "79", valid: false },
                { tag: "HTTP port 65535 accepted", field: "http", text: "65535", valid: true },
                { tag: "empty port refused", field: "tcp", text: "", valid: false },
                { tag: "0 minutes refused", field: "minutes", text: "0", valid: false },
                { tag: "1 minute accepted", field: "minutes", text: "1", valid: true },
                { tag: "65535 minutes accepted", field: "minutes", text: "65535", valid: true },
                { tag: "missing folder A refused", field: "folderA", text: "/no/such/folder", valid: false },
                { tag: "missing folder B refused", field: "folderB", text: "/no/such/folder", valid: false }
            ]
        }
        function test_validation(data) {
            var fields = { tcp: form.tcpPortField, http: form.httpPortField, minutes: form.chopMinutesField,
                           folderA: form.folderAField, folderB: form.folderBField }
            fields[data.field].text = data.text
            compare(form.validate(), data.valid)
            compare(form.applyButton.enabled, data.valid)
            compare(String(fields[data.field].color) === "#ff0000", !data.valid)
        }

        function test_folderBBlocksEvenWithoutAB() {
            form.abRecordingBox.checked = false
            verify(!form.folderBField.enabled)
            form.folderBField.text = "/no/such/folder"
            verify(!form.validate())
            verify(!form.apply())
            compare(settingsModel.locationB, testFolder)
        }

        function test_applyWrites() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "applied" })
            form.gridCombo.currentIndex = form.gridCombo.find("2+14")
            form.tcpPortField.text = "7001"
            form.httpPortField.text = "80"
            form.chopMinutesField.text = "65535"
            form.chopBox.checked = !settingsModel.chopEnabled
            var chop = form.chopBox.checked
            form.ebuButton.checked = true
            form.listenCombo.currentIndex = 1
            form.accessKeyField.text = " s3cret "
            verify(form.apply())
            compare(spy.count, 1)
            compare(settingsModel.gridDimensions, 253)
            compare(settingsModel.tcpServerPort, 7001)
            compare(settingsModel.httpServerPort, 80)
            compare(settingsModel.chopMinutes, 65535)
            compare(settingsModel.chopEnabled, chop)
            compare(settingsModel.ebuLevels, true)
            compare(settingsModel.serverLocalOnly, true)
            compare(settingsModel.serverAccessKey, "s3cret")
            settingsModel.setServerLocalOnly(false)
            settingsModel.setServerAccessKey("")
            // The grid shape of this run stays as it was.
            compare(settingsModel.gridWidth, 3)
            compare(settingsModel.gridExtra, 0)
            settingsModel.setEbuLevels(false)
            settingsModel.setChopEnabled(false)
        }

        function test_cancelShowsStoredValues() {
            var spy = createTemporaryObject(spyComponent, testCase, { target: form, signalName: "cancelled" })
            form.tcpPortField.text = "7002"
            form.gridCombo.currentIndex = 0
            form.listenCombo.currentIndex = 1
            form.accessKeyField.text = "typed"
            form.cancel()
            compare(spy.count, 1)
            compare(settingsModel.tcpServerPort, 9099)
            compare(form.tcpPortField.text, "9099")
            compare(form.listenCombo.currentIndex, 0)
            compare(form.accessKeyField.text, "")
            compare(form.gridCombo.currentText, "3x3")
        }

        function test_unknownGridCodeKeepsChoice() {
            form.gridCombo.currentIndex = 1
            settingsModel.setGridDimensions(99)
            form.reset()
            compare(form.gridCombo.currentText, "3x2")
        }

        Component {
            id: spyComponent
            SignalSpy {}
        }
    }
}
