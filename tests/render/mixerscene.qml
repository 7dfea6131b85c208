import QtQuick
import StavelinRecorder 1.0

// An empty scene over the preview: whatever the grab shows comes from the renderer.
Item {
    Mixer {
        objectName: "mixer"
    }
}
