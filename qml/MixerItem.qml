import QtQuick
import StavelinRecorder 1.0

// The preview item. Kept in its own document so the window still loads, without video, in a
// build where the type is not registered.
Mixer {
    objectName: "mixer"
}
