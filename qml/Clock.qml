import QtQuick

// The time of day: in the toolbar, and filling the one cell of the 2+14 layout that has no slot.
Item {
    id: clock
    property date now: new Date()
    property int pixelSize: 28
    implicitWidth: clockText.implicitWidth + 8

    // The locale's long time format without its time zone.
    readonly property string timeFormat: Qt.locale().timeFormat(Locale.LongFormat).replace(/\s*\bt+\b/g, "").trim()

    readonly property alias fontStatus: clockFont.status

    FontLoader {
        id: clockFont
        source: "fonts/stmr.ttf"
    }

    // Hidden, it does not tick: a changing text asks for a frame even
    // where nobody sees it.
    Timer {
        interval: 100
        running: clock.visible
        repeat: true
        triggeredOnStart: true
        onTriggered: clock.now = new Date()
    }

    Text {
        id: clockText
        objectName: "clockText"
        anchors.centerIn: parent
        font.family: clockFont.status === FontLoader.Ready ? clockFont.font.family : "Share Tech Mono"
        font.pixelSize: clock.pixelSize
        color: "#cacaca"
        text: Qt.formatTime(clock.now, clock.timeFormat)
    }
}
