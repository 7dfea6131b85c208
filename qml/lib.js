.pragma library

// Helpers shared by the two settings dialogs. Stateless: safe to import from every component.

function fileUrlPrefix() {
    return Qt.platform.os === "windows" ? "file:///" : "file://"
}

// "file:///home/me/My%20Videos" -> "/home/me/My Videos". Folder dialogs hand back encoded URLs;
// the folder fields and the validator want the plain path, so the escapes are undone here.
function stripPath(path) {
    var text = String(path === undefined || path === null ? "" : path)
    var prefix = fileUrlPrefix()
    if (text.indexOf(prefix) !== 0)
        return text
    text = text.substring(prefix.length)
    try {
        return decodeURIComponent(text)
    } catch (e) {
        return text // a stray "%" that is no escape: keep the text as it came
    }
}

// The inverse of stripPath. Characters that would end or escape a URL's path are escaped,
// so a folder named "a#b" or "50%" survives the round trip.
function unstripPath(path) {
    var text = String(path === undefined || path === null ? "" : path)
    text = text.replace(/%/g, "%25").replace(/#/g, "%23").replace(/\?/g, "%3F")
    return fileUrlPrefix() + text
}

// A click on a three-state box never lands on the partial state.
function nextCheckState(state) {
    return state === Qt.Checked ? Qt.Unchecked : Qt.Checked
}

// The gain field commits only a finished decimal: "2,5" gives 2 (the comma ends the number),
// "-3.4" gives -3.4, while "5", "2." or "-3," give nothing yet. Returns NaN when nothing applies.
function gainFromText(text) {
    var t = String(text === undefined || text === null ? "" : text)
    if (t.length === 0)
        return NaN
    if (t.indexOf(".") < 0 && t.indexOf(",") < 0)
        return NaN
    var last = t.charAt(t.length - 1)
    if (last === "." || last === ",")
        return NaN
    var value = parseFloat(t)
    return isFinite(value) ? value : NaN
}

function slotIdsText(slots) {
    var ids = []
    for (var i = 0; i < slots.length; ++i)
        ids.push(String(slots[i].index0))
    return ids.join(", ")
}

function slotDialogTitle(slot, multipleSelected, idsText) {
    if (multipleSelected)
        return "Multiple Slots: " + idsText
    if (!slot)
        return ""
    return slot.name + (slot.isRecording ? " (RECORDING)" : "")
}

// Check boxes of the slot dialog and the slot property each one edits.
var checkProperties = ["showLevels", "viewingOnly", "recordPreview", "customLocationEnabled", "isFullRes"]

// What the slot dialog shows for several slots at once: the first slot's values, every check box
// that differs among them marked partial, differing folders as "[multiple]".
function multiState(slots) {
    var state = {
        ids: slotIdsText(slots),
        checks: {},
        partial: {},
        customLocation: "",
        customLocationB: "",
        audioGain: 0,
        multipleGains: false,
        isRecordingAny: false
    }
    if (slots.length === 0)
        return state
    var first = slots[0]
    for (var c = 0; c < checkProperties.length; ++c) {
        state.checks[checkProperties[c]] = !!first[checkProperties[c]]
        state.partial[checkProperties[c]] = false
    }
    state.customLocation = String(first.customLocation)
    state.customLocationB = String(first.customLocationB)
    state.audioGain = Number(first.audioGain)
    state.isRecordingAny = !!first.isRecording || !!first.isWaiting
    for (var i = 1; i < slots.length; ++i) {
        var s = slots[i]
        for (var k = 0; k < checkProperties.length; ++k) {
            var name = checkProperties[k]
            if (!!s[name] !== state.checks[name])
                state.partial[name] = true
        }
        if (String(s.customLocation) !== String(first.customLocation))
            state.customLocation = "[multiple]"
        if (String(s.customLocationB) !== String(first.customLocationB))
            state.customLocationB = "[multiple]"
        if (Math.abs(Number(s.audioGain) - Number(first.audioGain)) > 1e-5)
            state.multipleGains = true
        if (s.isRecording || s.isWaiting)
            state.isRecordingAny = true
    }
    return state
}

// Writes through the slot's own setter when it has one, else through the property.
function setOn(slot, setter, property, value) {
    if (typeof slot[setter] === "function")
        slot[setter](value)
    else
        slot[property] = value
}

// form: { checks: {name: Qt.CheckState}, folderA, folderAAcceptable, folderB, folderBAcceptable,
//         multipleGains, gain }
function applyMulti(slots, form) {
    var setters = {
        showLevels: "setShowLevels",
        viewingOnly: "setViewingOnly",
        isFullRes: "setIsFullRes",
        recordPreview: "setRecordPreview",
        customLocationEnabled: "setCustomLocationEnabled"
    }
    var order = ["showLevels", "viewingOnly", "isFullRes", "recordPreview", "customLocationEnabled"]
    for (var i = 0; i < slots.length; ++i) {
        var s = slots[i]
        for (var k = 0; k < order.length; ++k) {
            var state = form.checks[order[k]]
            if (state !== Qt.PartiallyChecked)
                setOn(s, setters[order[k]], order[k], state === Qt.Checked)
        }
        if (form.folderA !== "[multiple]" && form.folderAAcceptable)
            setOn(s, "setCustomLocation", "customLocation", form.folderA)
        if (form.folderB !== "[multiple]" && form.folderBAcceptable)
            setOn(s, "setCustomLocationB", "customLocationB", form.folderB)
        if (!form.multipleGains)
            setOn(s, "setAudioGain", "audioGain", form.gain)
        s.acceptClicked()
    }
}

// The slots currently selected, in full-list order: extra1, extra2, then the grid rows.
function selectedSlots(listModel) {
    var result = []
    if (!listModel)
        return result
    var all = allSlots(listModel)
    for (var i = 0; i < all.length; ++i)
        if (all[i].selected)
            result.push(all[i])
    return result
}

function allSlots(listModel) {
    var result = []
    if (!listModel)
        return result
    if (listModel.extra1)
        result.push(listModel.extra1)
    if (listModel.extra2)
        result.push(listModel.extra2)
    var n = listModel.count === undefined ? 0 : listModel.count
    for (var i = 0; i < n; ++i) {
        var s = listModel.get(i)
        if (s)
            result.push(s)
    }
    return result
}

// "12:  Camera 1": the slot number, then the label.
function nameLabel(number, displayName, connectedSource) {
    var label = displayName && String(displayName).length > 0 ? displayName : connectedSource
    return number + ":  " + label
}

function gigabytesText(value) {
    return Number(value).toFixed(1)
}

function folderTooltip(folder, gigabytes) {
    return folder + " (" + gigabytesText(gigabytes) + " GB)"
}

// Slot.StopReason values, fixed by the remote formats as well.
var stopReasonOutOfSpace = 1

var ndiWebSite = "https://ndi.video/"
var makerWebSite = "https://stavelin.tv/"

// What the recording badge's tooltip tells: the file, its piece, the frames written and lost, and
// the slot's last events.
function recordingTooltip(telemetry, history) {
    var lines = []
    if (telemetry.fileName)
        lines.push(telemetry.fileName + " (piece " + telemetry.piece + ", " + telemetry.location + ")")
    lines.push(telemetry.pieceFrames + " frames in this piece, " + telemetry.totalFrames + " in all")
    if (telemetry.delayedCount > 0)
        lines.push("Could not keep up " + telemetry.delayedCount + " times")
    if (telemetry.droppedFrames > 0)
        lines.push(telemetry.droppedFrames + " frames lost against what the source sent")
    if (telemetry.warning)
        lines.push(telemetry.warning)
    if (history)
        lines.push("", history)
    return lines.join("\n")
}
