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

    function barHeight(level) {
        return Math.max(Math.min(level, 100) / 100 * meters.height, 0)
    }

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
                width: scaleColumn.width
                height: modelData.fraction * scaleColumn.height
                Text {
                    width: 14
                    horizontalAlignment: Text.AlignRight
                    text: modelData.label
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
        width: meters.barWidth
        height: meters.barHeight(level)
        anchors.bottom: parent.bottom
        clip: true
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: meters.height
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
        level: meters.leftLevel
    }
    Bar {
        objectName: "rightBar"
        x: 18 + meters.barWidth
        level: meters.rightLevel
    }
}
