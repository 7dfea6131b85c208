#include "slots/slotlistrecorder.h"

#include "slots/slotlistmodel.h"

#include <algorithm>

SlotListRecorder::SlotListRecorder(SlotListModel* slotList, QObject* parent)
    : QObject(parent)
    , m_slotList(slotList)
{
}

bool SlotListRecorder::isRecordingAny() const
{
    if (!m_slotList)
        return false;
    const QList<Slot*> all = m_slotList->allSlots();
    return std::any_of(all.cbegin(), all.cend(), [](const Slot* slot) { return slot->isRecording(); });
}

bool SlotListRecorder::anyBusy() const
{
    if (!m_slotList)
        return false;
    const QList<Slot*> all = m_slotList->allSlots();
    return std::any_of(all.cbegin(), all.cend(), [](const Slot* slot) { return slot->busy(); });
}

bool SlotListRecorder::startAll()
{
    if (m_isRecordingAll)
        return false;
    if (m_slotList) {
        const QList<Slot*> all = m_slotList->allSlots();
        for (Slot* slot : all) {
            if (slot->isConnected())
                slot->startRecording();
        }
    }
    setIsRecordingAll(true);
    return true;
}

bool SlotListRecorder::stopAll()
{
    if (!m_isRecordingAll)
        return false;
    stopEverything();
    return true;
}

void SlotListRecorder::stopEverything()
{
    if (m_slotList) {
        const QList<Slot*> all = m_slotList->allSlots();
        for (Slot* slot : all) {
            if (slot->isConnected())
                slot->stopRecording(Slot::User);
        }
    }
    setIsRecordingAll(false);
}

void SlotListRecorder::toggleRecordingAll()
{
    if (m_isRecordingAll)
        stopAll();
    else
        startAll();
}

void SlotListRecorder::setIsRecordingAll(bool isRecordingAll)
{
    if (isRecordingAll == m_isRecordingAll)
        return;
    m_isRecordingAll = isRecordingAll;
    emit isRecordingAllChanged(m_isRecordingAll);
}
