import QtQuick
import Qt5Compat.GraphicalEffects

// Two thin level bars with a dB scale. The parent anchors this item to its left, top and bottom.
Item {
    id: meters
    property int leftLevel: 0
    property int rightLevel: 0
    property int barWidth: 2

    anchors.topMargin: 12
    anchors.leftMargin: 5
    width: 20 + barWidth

    // Label and the fraction of the scale's height that its band takes, from the top.
    readonly property var scaleBands: [
        { label: "0", fraction: 0.075 },
        { label: "-6", fraction: 0.165 },
        { label: "-20", fraction: 0.152 },
        { label: "-32", fraction: 0.148 },
        { label: "-44", fraction: 0.296 },
        { label: "-68", fraction: 0.1 }
    ]

    Column {
        id: scaleColumn
        anchors.fill: parent
        anchors.topMargin: -4
        anchors.bottomMargin: 4
        opacity: 0.85
        // One shadow for the whole scale rather than one per label: a grid of 16 meters
        // would otherwise keep close to a hundred offscreen layers.
        layer.enabled: meters.visible
        layer.effect: DropShadow {
            verticalOffset: 1
            radius: 1
            samples: 3
            color: "#80000000"
        }
        Repeater {
            model: meters.scaleBands
            Item {
                id: band
                required property var modelData
                width: parent ? parent.width : 0
                height: parent ? band.modelData.fraction * parent.height : 0
                Text {
                    width: 14
                    horizontalAlignment: Text.AlignRight
                    text: band.modelData.label
                    color: "white"
                    font.pixelSize: 9
                    font.hintingPreference: Font.PreferFullHinting
                }
            }
        }
    }

    // Each bar shows the bottom part of a gradient as tall as the whole meter, so a height always
    // has the same colour.
    component Bar: Item {
        id: bar
        property int level: 0
        // The whole meter's height, which the gradient spans.
        property real fullHeight: 0
        height: Math.max(Math.min(level, 100) / 100 * fullHeight, 0)
        anchors.bottom: parent.bottom
        clip: true
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: bar.fullHeight
            gradient: Gradient {
                GradientStop { position: 0.0; color: "red" }
                GradientStop { position: 0.16; color: "gold" }
                GradientStop { position: 0.66; color: "limegreen" }
                GradientStop { position: 1.0; color: "limegreen" }
            }
        }
    }

    Bar {
        objectName: "leftBar"
        x: 17
        width: meters.barWidth
        fullHeight: meters.height
        level: meters.leftLevel
    }
    Bar {
        objectName: "rightBar"
        x: 18 + meters.barWidth
        width: meters.barWidth
        fullHeight: meters.height
        level: meters.rightLevel
    }
}
