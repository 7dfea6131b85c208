import QtQuick

// One of the two large cells above the grid. The grid item inside looks its slot up as `model`
// and `qtObject`, the same names the grid's delegates see.
Item {
    id: special
    property var model: null
    property var qtObject: null

    signal mouseMoved()

    Loader {
        anchors.fill: parent
        active: special.model !== null
        sourceComponent: GridItem {
            onMouseMoved: special.mouseMoved()
        }
    }
}
