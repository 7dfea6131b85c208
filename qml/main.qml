import QtQuick
import QtQuick.Controls

ApplicationWindow {
    id: applicationWindow
    visible: true
    width: 1100
    height: 619
    minimumWidth: 1100
    minimumHeight: 619
    color: "transparent"
    title: "Stavelin Recorder v" + Qt.application.version
}
