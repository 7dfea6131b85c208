#include "slots/slotsnapshot.h"

#include "slots/recordingrules.h"
#include "slots/slot.h"

SlotSnapshot SlotSnapshot::of(const Slot& slot)
{
    const RecordingTelemetry* telemetry = slot.telemetry();
    const RecordingStateMachine* machine = slot.machine();
    const SlotLocations* locations = slot.locations();
    SlotSnapshot s;
    s.id = uint(slot.index0());
    s.isRecording = slot.isRecording();
    s.isWaiting = slot.isWaiting();
    s.connectedSource = slot.connectedSource();
    s.displayName = slot.displayName();
    s.tallyState = slot.tallyState();
    s.state = telemetry->state();
    s.elapsedMs = telemetry->elapsedMs();
    s.elapsedText = telemetry->elapsedText();
    s.pieceFrames = telemetry->pieceFrames();
    s.totalFrames = telemetry->totalFrames();
    s.filePath = telemetry->filePath();
    s.piece = telemetry->piece();
    s.location = telemetry->location();
    s.delayedCount = telemetry->delayedCount();
    s.bytesWritten = telemetry->bytesWritten();
    s.warning = telemetry->warning();
    s.stateWord = slot.stateWord();
    s.stateLabel = slot.stateLabel();
    s.busy = slot.busy();
    s.signalLost = slot.signalLost();
    s.wallMs = machine->wallMs();
    s.droppedFrames = machine->droppedFrames();
    s.droppingPercent = machine->droppingPercent();
    const RecordingStateMachine::Totals totals = machine->totals();
    s.framesWrittenTotal = totals.framesWritten;
    s.droppedFramesTotal = totals.droppedFrames;
    s.delayedTotal = totals.delayed;
    s.stallsTotal = totals.stalls;
    s.recoveriesTotal = totals.recoveries;
    s.currentFolder = slot.currentFolder();
    if (s.location.isEmpty())
        s.location = locations->recordingSide() == SlotLocations::B ? QStringLiteral("B") : QStringLiteral("A");
    s.drive = locations->drive();
    s.freeBytes = qint64(double(slot.freeGigabytes()) * 1e9);
    s.lowSpace = RecordingRules::lowSpace(slot.freeGigabytes());
    s.secondsLeft = double(slot.texts()->secondsLeft());
    for (const RecordingStateMachine::HistoryEntry& entry : machine->history())
        s.history.append({ entry.time, entry.text });
    return s;
}
