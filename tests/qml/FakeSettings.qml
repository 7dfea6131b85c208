import QtQml

// The settings the main window reads, with a grid shape chosen by the test.
QtObject {
    property int gridWidth: 3
    property int gridHeight: 3
    property int gridExtra: 0
    property bool tallyEnabled: true
    property bool abRecording: true
    property bool startMaximized: false
    property string location: "/tmp"
    property string locationB: "/tmp"
    function revealFolder(path) {}
}
