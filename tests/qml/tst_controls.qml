import QtQuick
import QtTest
import StavelinRecorder 1.0
import "qrc:/"
import "qrc:/lib.js" as Lib

Item {
    id: root
    width: 400
    height: 200

    Component {
        id: fieldComponent
        CustomTextField {
            width: 300
            height: 25
        }
    }
    Component {
        id: multiFieldComponent
        CustomTextFieldMultiple {
            width: 300
            height: 25
            validator: DirectoryValidator {}
        }
    }
    Component {
        id: boxComponent
        TristateCheckBox {
            text: "Viewing only"
        }
    }
    Component {
        id: pickerComponent
        FolderPicker {}
    }
    Component {
        id: imageComponent
        Image {}
    }
    Component {
        id: clockComponent
        Clock {
            width: 220
            height: 124
        }
    }

    TestCase {
        name: "Controls"
        when: windowShown

        function test_contextMenuKeepsSelection_data() {
            return [
                { tag: "right click", hold: false },
                { tag: "press and hold", hold: true }
            ]
        }
        function test_contextMenuKeepsSelection(data) {
            var field = createTemporaryObject(fieldComponent, root, { text: "/srv/recordings/today" })
            field.forceActiveFocus()
            field.select(5, 15)
            if (data.hold) {
                mousePress(field, 250, 12)
                tryCompare(field.contextMenu, "opened", true, 3000)
                mouseRelease(field, 250, 12)
            } else {
                mouseClick(field, 250, 12, Qt.RightButton)
                tryCompare(field.contextMenu, "opened", true)
                compare(field.selectionStart, 5)
                compare(field.selectionEnd, 15)
            }
            var texts = []
            for (var i = 0; i < field.contextMenu.count; ++i)
                texts.push(field.contextMenu.itemAt(i).text)
            compare(texts, ["Cut", "Copy", "Paste"])
            field.contextMenu.close()
        }

        function test_invalidTextIsRed_data() {
            return [
                { tag: "existing folder", text: testFolder, red: false },
                { tag: "missing folder", text: "/no/such/folder", red: true },
                { tag: "several values", text: "[multiple]", red: false },
                { tag: "empty", text: "", red: true }
            ]
        }
        function test_invalidTextIsRed(data) {
            var field = createTemporaryObject(multiFieldComponent, root, { text: data.text })
            compare(String(field.color) === "#ff0000", data.red)
            field.enabled = false
            compare(String(field.color) === "#ff0000", data.red)
            if (!data.red)
                compare(String(field.color), "#808080")
        }

        function test_tristateBoxNeverReturnsToPartial() {
            var box = createTemporaryObject(boxComponent, root, { checkState: Qt.PartiallyChecked })
            var seen = []
            for (var i = 0; i < 3; ++i) {
                mouseClick(box)
                seen.push(box.checkState)
            }
            compare(seen, [Qt.Checked, Qt.Unchecked, Qt.Checked])
        }

        function test_folderPickerStartsInTheFieldsFolder_data() {
            return [
                { tag: "acceptable folder", text: testFolder, fromField: true },
                { tag: "missing folder", text: "/no/such/folder", fromField: false }
            ]
        }
        function test_folderPickerStartsInTheFieldsFolder(data) {
            var field = createTemporaryObject(multiFieldComponent, root, { text: data.text })
            var picker = createTemporaryObject(pickerComponent, root)
            var dialog = picker.pick(root, field)
            verify(dialog)
            var start = Lib.stripPath(dialog.currentFolder)
            if (data.fromField)
                compare(start, testFolder)
            else
                verify(start !== data.text && start.length > 0, start)
            dialog.selectedFolder = Lib.unstripPath(testFolder + "/my take #2")
            dialog.accept()
            compare(field.text, testFolder + "/my take #2")
        }

        // Every picture the interface names is in the resources and decodes.
        function test_artwork_data() {
            var rows = []
            var names = ["recorder", "ndi-small", "ndi", "stavelin", "icons8-settings-64", "icons8-record-64",
                         "icons8-record-64-recording", "icons8-record-64-waiting", "icons8-record-64-ns",
                         "icons8-record-64-recording-ns", "icons8-voice-64", "icons8-close-64",
                         "icons8-reset-64", "icons8-enlarge-64", "icons8-compress-64"]
            for (var i = 0; i < names.length; ++i)
                rows.push({ tag: names[i], source: "qrc:/icons/" + names[i] + ".png", square: names[i].indexOf("icons8") === 0 })
            return rows
        }
        function test_artwork(data) {
            var image = createTemporaryObject(imageComponent, root, { source: data.source })
            tryCompare(image, "status", Image.Ready)
            verify(image.sourceSize.width >= 48, image.sourceSize.width)
            if (data.square) {
                compare(image.sourceSize.width, 64)
                compare(image.sourceSize.height, 64)
            }
        }

        function test_clock() {
            var clock = createTemporaryObject(clockComponent, root)
            var text = findChild(clock, "clockText")
            tryCompare(clock, "fontStatus", FontLoader.Ready)
            compare(text.font.family, "Share Tech Mono")
            compare(text.font.pixelSize, 28)
            compare(String(text.color), "#cacaca")
            // It shows the time of day and keeps it current.
            var before = text.text
            verify(/\d{1,2}[:.]\d{2}[:.]\d{2}/.test(before), before)
            tryVerify(function() { return text.text !== before }, 2500)
        }
    }
}
