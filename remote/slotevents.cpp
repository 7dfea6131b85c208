#include "remote/slotevents.h"

#include "ndi/sourcesmodel.h"
#include "slots/recordingtelemetry.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"
#include "slots/slotlistrecorder.h"

#include <map>

std::shared_ptr<SlotEvents> SlotEvents::of(SlotListModel* slotList, SlotListRecorder* recorder, SourcesModel* sources)
{
    static std::map<SlotListModel*, std::weak_ptr<SlotEvents>> shared; // main thread only
    std::shared_ptr<SlotEvents> events = shared[slotList].lock();
    if (!events) {
        events.reset(new SlotEvents(slotList, recorder, sources));
        shared[slotList] = events;
    }
    return events;
}

SlotEvents::SlotEvents(SlotListModel* slotList, SlotListRecorder* recorder, SourcesModel* sources)
{
    connect(recorder, &SlotListRecorder::isRecordingAllChanged, this, &SlotEvents::recordingAllChanged);
    connect(sources, &SourcesModel::sourceAddedSig, this, &SlotEvents::sourceAdded);
    for (Slot* slot : slotList->allSlots()) {
        // Every signal of one slot becomes (number, snapshot), with the snapshot taken after the change.
        const auto forward = [this, slot](void (SlotEvents::*event)(int, const SlotSnapshot&)) {
            return [this, slot, event] { Q_EMIT(this->*event)(slot->index0(), slot->snapshot()); };
        };
        connect(slot, &Slot::isRecordingChanged, this, forward(&SlotEvents::recordingChanged));
        connect(slot, &Slot::isWaitingChanged, this, forward(&SlotEvents::waitingChanged));
        connect(slot, &Slot::tallyStateChanged, this, forward(&SlotEvents::tallyChanged));
        connect(slot, &Slot::connectedSourceChanged, this, forward(&SlotEvents::connectedSourceChanged));
        connect(slot, &Slot::displayNameChanged, this, forward(&SlotEvents::displayNameChanged));
        connect(slot->telemetry(), &RecordingTelemetry::changed, this, forward(&SlotEvents::progressChanged));
        connect(slot, &Slot::recordingWarning, this,
            [this, slot](const QString& message) { Q_EMIT warning(slot->index0(), message); });
        connect(slot, &Slot::recordingWarningCleared, this,
            [this, slot](const QString& message) { Q_EMIT warningCleared(slot->index0(), message); });
    }
}
