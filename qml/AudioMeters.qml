import QtQuick
import StavelinRecorder

// Two level bars on a dark backing, with a dBFS scale, the held peaks and a clip light. The
// parent anchors this item to its left, top and bottom. What the marks and lights say is decided
// by the LevelMeter; this only draws it.
Item {
    id: meters
    property int leftLevel: 0
    property int rightLevel: 0
    property real sizeScale: 1.0
    readonly property int labelSize: Math.max(9, Math.round(11 * sizeScale))
    readonly property int barWidth: Math.max(3, Math.round(4 * sizeScale))
    readonly property int labelWidth: Math.round(labelSize * 1.9)
    // The bars' height: below the clip light, above the unit.
    readonly property real barsTop: clipLight.height + 4
    readonly property real barsHeight: Math.max(0, height - barsTop - unitText.height - 2)

    anchors.topMargin: 10
    anchors.leftMargin: 4
    width: labelWidth + 2 * barWidth + 8

    LevelMeter {
        id: meter
        leftLevel: meters.leftLevel
        rightLevel: meters.rightLevel
    }

    Rectangle {
        anchors.fill: parent
        radius: 3
        color: "#a0000000"
    }

    Rectangle {
        id: clipLight
        objectName: "clipLight"
        readonly property bool lit: meter.clipped
        x: meters.labelWidth + 2
        y: 2
        width: 2 * meters.barWidth + 2
        height: Math.max(4, meters.barWidth)
        color: lit ? "#ff2020" : "#402020"
    }

    Repeater {
        model: meter.marks(meters.barsHeight, meters.labelSize + 1)
        // qmllint disable unqualified
        Item {
            id: mark
            required property var modelData
            y: meters.barsTop + mark.modelData.fraction * meters.barsHeight
            Rectangle {
                x: meters.labelWidth - 1
                width: 2 * meters.barWidth + 6
                height: 1
                color: "#60ffffff"
            }
            Text {
                objectName: "meterLabel"
                x: 1
                y: -height / 2
                width: meters.labelWidth - 3
                horizontalAlignment: Text.AlignRight
                text: mark.modelData.label
                color: "#e0e0e0"
                font.pixelSize: meters.labelSize
                font.hintingPreference: Font.PreferFullHinting
            }
        }
    }

    Text {
        id: unitText
        objectName: "meterUnit"
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        text: "dBFS"
        color: "#c0c0c0"
        font.pixelSize: Math.max(8, meters.labelSize - 2)
    }

    // Each bar shows the bottom part of a gradient as tall as the whole scale, so a height always
    // has the same colour: red above full scale.
    component Bar: Item {
        // qmllint disable unqualified
        id: bar
        property int level: 0
        property int peak: 0
        y: meters.barsTop
        width: meters.barWidth
        height: meters.barsHeight
        Item {
            anchors.bottom: parent.bottom
            width: parent.width
            height: Math.max(Math.min(bar.level, 100) / 100 * bar.height, 0)
            clip: true
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: bar.height
                gradient: Gradient {
                    GradientStop { position: 0.0; color: "red" }
                    GradientStop { position: meter.fullScaleFraction - 0.001; color: "red" }
                    GradientStop { position: meter.fullScaleFraction; color: "gold" }
                    GradientStop { position: meter.fullScaleFraction + 0.15; color: "limegreen" }
                    GradientStop { position: 1.0; color: "limegreen" }
                }
            }
        }
        // The held peak.
        Rectangle {
            visible: bar.peak > 0
            width: parent.width
            height: 2
            y: bar.height - Math.min(bar.peak, 100) / 100 * bar.height
            color: "#ffffff"
        }
    }

    Bar {
        objectName: "leftBar"
        x: meters.labelWidth + 2
        level: meter.leftLevel
        peak: meter.leftPeak
    }
    Bar {
        objectName: "rightBar"
        x: meters.labelWidth + 4 + meters.barWidth
        level: meter.rightLevel
        peak: meter.rightPeak
    }
}
