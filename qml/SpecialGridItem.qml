import QtQuick

// One of the two large cells above the grid. The grid item inside is handed the slot as `model`
// and `qtObject`, the same names the grid's delegates take from their roles.
Item {
    id: special
    property var model: null
    property var qtObject: null
    property var appWindow: null

    signal mouseMoved()

    // The cell takes its slot when it is made, so it is made again when the slot changes.
    function load() {
        var item = cell.item as GridItem
        if (item && item.model === special.model && item.qtObject === special.qtObject && item.appWindow === special.appWindow)
            return
        if (special.model !== null)
            cell.setSource("GridItem.qml", { model: special.model, qtObject: special.qtObject, appWindow: special.appWindow })
    }
    onModelChanged: load()
    onQtObjectChanged: load()
    onAppWindowChanged: load()
    Component.onCompleted: load()

    Loader {
        id: cell
        anchors.fill: parent
        active: special.model !== null
    }

    Connections {
        target: cell.item
        ignoreUnknownSignals: true
        function onMouseMoved() { special.mouseMoved() }
    }
}
