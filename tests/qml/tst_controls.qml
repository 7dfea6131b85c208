import QtQuick
import QtTest
import StavelinRecorder 1.0
import StavelinRecorder
import "qrc:/qt-project.org/imports/StavelinRecorder/lib.js" as Lib

Item {
    id: root
    width: 400; height: 200
    Component { id: fieldComponent; CustomTextField { width: 300; height: 25 } }
    Component { id: multiFieldComponent; CustomTextFieldMultiple { width: 300; height: 25; validator: DirectoryValidator {} } }
    Component { id: boxComponent; TristateCheckBox { text: "Viewing only" } }
    Component { id: pickerComponent; FolderPicker {} }

    TestCase {
        name: "Controls"
        when: windowShown

        function test_contextMenuKeepsSelection_data() { return [{ tag: "right click", hold: false }, { tag: "press and hold", hold: true }] }
        function test_contextMenuKeepsSelection(data) {
            var field = createTemporaryObject(fieldComponent, root, { text: "/srv/recordings/today" })
            field.forceActiveFocus(), field.select(5, 15)
            data.hold ? mousePress(field, 250, 12) : mouseClick(field, 250, 12, Qt.RightButton)
            tryCompare(field.contextMenu, "opened", true, 3000)
            if (data.hold)
                mouseRelease(field, 250, 12)
            compare([field.selectionStart, field.selectionEnd], [5, 15])
            compare([0, 1, 2].map(function(i) { return field.contextMenu.itemAt(i).text }).concat(field.contextMenu.count), ["Cut", "Copy", "Paste", 3])
            field.contextMenu.close()
        }

        function test_tristateBoxNeverReturnsToPartial() {
            var box = createTemporaryObject(boxComponent, root, { checkState: Qt.PartiallyChecked })
            var seen = []
            for (var i = 0; i < 3; ++i)
                mouseClick(box), seen.push(box.checkState)
            compare(seen, [Qt.Checked, Qt.Unchecked, Qt.Checked])
        }

        function test_folderPickerStartsInTheFieldsFolder_data() { return [{ tag: "acceptable folder", text: testFolder }, { tag: "missing folder", text: "/no/such/folder" }] }
        function test_folderPickerStartsInTheFieldsFolder(data) {
            var field = createTemporaryObject(multiFieldComponent, root, { text: data.text })
            tryVerify(function() { return field.validator.answers > 0 }) // the folder is looked at off the main thread
            var dialog = createTemporaryObject(pickerComponent, root).pick(root, field)
            var start = Lib.stripPath(dialog.currentFolder)
            verify(data.text === testFolder ? start === testFolder : start !== data.text && start.length > 0, start)
            dialog.selectedFolder = Lib.unstripPath(testFolder + "/my take #2"), dialog.accept()
            compare(field.text, testFolder + "/my take #2")
        }
    }
}
