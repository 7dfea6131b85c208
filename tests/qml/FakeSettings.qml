import QtQml

// The settings the main window and its dialogs read, with a grid shape chosen by the test.
QtObject {
    property int gridWidth: 3
    property int gridHeight: 3
    property int gridExtra: 0
    property int gridDimensions: 33
    property bool tallyEnabled: true
    property bool abRecording: true
    property bool startMaximized: false
    property bool ebuLevels: false
    property bool tcpServerEnabled: false
    property int tcpServerPort: 9099
    property bool httpServerEnabled: false
    property int httpServerPort: 9098
    property bool serverLocalOnly: false
    property string serverAccessKey: ""
    property bool chopEnabled: false
    property int chopMinutes: 30
    property string location: "/tmp"
    property string locationB: "/tmp"

    function revealFolder(path) {}
    function setLocation(v) { location = v }
    function setLocationB(v) { locationB = v }
    function setTallyEnabled(v) { tallyEnabled = v }
    function setGridDimensions(v) { gridDimensions = v }
    function setEbuLevels(v) { ebuLevels = v }
    function setAbRecording(v) { abRecording = v }
    function setStartMaximized(v) { startMaximized = v }
    function setTcpServerPort(v) { tcpServerPort = v }
    function setTcpServerEnabled(v) { tcpServerEnabled = v }
    function setHttpServerPort(v) { httpServerPort = v }
    function setHttpServerEnabled(v) { httpServerEnabled = v }
    function setServerLocalOnly(v) { serverLocalOnly = v }
    function setServerAccessKey(v) { serverAccessKey = v }
    function setChopMinutes(v) { chopMinutes = v }
    function setChopEnabled(v) { chopEnabled = v }
}
