import QtQuick
import QtQuick.Dialogs
import Qt.labs.platform as Platform
import "lib.js" as Lib

// Opens a folder dialog for one text field and puts the chosen folder into it. The dialog is
// made when asked for and released again when it closes.
QtObject {
    id: picker

    property Component dialogComponent: Component {
        FolderDialog {
            title: "Choose recording folder"
        }
    }

    function pick(parentItem, field) {
        var start = field.acceptableInput && field.text.length > 0
                ? Lib.unstripPath(field.text)
                : Platform.StandardPaths.writableLocation(Platform.StandardPaths.MoviesLocation)
        var dialog = dialogComponent.createObject(parentItem, { currentFolder: start })
        if (!dialog)
            return null
        dialog.accepted.connect(function() {
            field.text = ""
            field.text = Lib.stripPath(dialog.selectedFolder)
            dialog.destroy()
        })
        dialog.rejected.connect(function() { dialog.destroy() })
        dialog.open()
        return dialog
    }
}
