import QtQml

// A slot as the user interface sees it. Every setter and action is written to `calls`, in order.
QtObject {
    id: fake
    property int index0: 1
    property string name: "Slot " + index0
    property string connectedSource: "none"
    property int selectedInd: -1
    property int leftLevel: 0; property int rightLevel: 0; property int tallyState: 0
    property bool isRecording: false; property bool isWaiting: false; property bool isConnected: false
    property bool showLevels: true; property bool customLocationEnabled: false; property bool viewingOnly: false
    property bool recordPreview: false; property bool isListening: false; property bool isFullRes: false
    property real gigabytesAvailable: 100000.0; property real gigabytesBAvailable: 0.0; property real audioGain: 0.0
    property bool locationBSelected: false; property bool selected: false
    property string customLocation: "/tmp"; property string customLocationB: "/tmp"
    property string enteredSource: ""; property string displayName: ""
    property var telemetry: null
    property bool signalLost: false
    property string stateWord: isConnected ? "ready" : "empty"; property string stateLabel: ""
    property bool busy: false; property string warning: ""; property string historyText: ""
    property bool lowSpaceA: false; property bool lowSpaceB: false
    property string folderA: "/rec/a"; property string folderB: "/rec/b"
    property string videoFormat: ""; property string formatLabel: videoFormat
    property string gainText: ""; property string driveText: ""; property url currentFolderUrl: "file:///rec/a"
    readonly property QtObject texts: fake // the stand-in holds the cell's texts itself
    property var calls: []

    function log(entry) { calls = calls.concat([entry]) }
    function recordClicked() { log("recordClicked") }
    function acceptClicked() { log("acceptClicked") }
    function disconnectClicked() { log("disconnectClicked") }
    function setSelectedInd(v) { log("setSelectedInd " + v); selectedInd = v }
    function setSelected(v) { log("setSelected " + v); selected = v }
    function setShowLevels(v) { log("setShowLevels " + v); showLevels = v }
    function setCustomLocation(v) { log("setCustomLocation " + v); customLocation = v }
    function setCustomLocationB(v) { log("setCustomLocationB " + v); customLocationB = v }
    function setCustomLocationEnabled(v) { log("setCustomLocationEnabled " + v); customLocationEnabled = v }
    function setViewingOnly(v) { log("setViewingOnly " + v); viewingOnly = v }
    function setIsFullRes(v) { log("setIsFullRes " + v); isFullRes = v }
    function setAudioGain(v) { log("setAudioGain " + v.toFixed(1)); audioGain = v }
    function setRecordPreview(v) { log("setRecordPreview " + v); recordPreview = v }
    function setDisplayName(v) { log("setDisplayName " + v); displayName = v; return "success" }
    function setLocationBSelected(v) { log("setLocationBSelected " + v); locationBSelected = v }
    onEnteredSourceChanged: log("enteredSource " + enteredSource)
}
