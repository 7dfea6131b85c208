import QtQuick
import QtQuick.Controls
import "lib.js" as Lib

// Can show "partially" for slots that differ, but a click only ever checks or unchecks.
CheckBox {
    tristate: true
    font.hintingPreference: Font.PreferFullHinting
    nextCheckState: function() { return Lib.nextCheckState(checkState) }
}
