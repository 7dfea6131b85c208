#include "audio/slotlistaudiohelper.h"

#include "ndi/receiver.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"

SlotListAudioHelper::SlotListAudioHelper(SlotListModel* slotList, QObject* parent)
    : QObject(parent)
    , m_slotList(slotList)
{
    takeSlotSnapshot();
    if (m_slotList) {
        connect(m_slotList, &QAbstractItemModel::rowsInserted, this, &SlotListAudioHelper::takeSlotSnapshot);
        connect(m_slotList, &QAbstractItemModel::rowsRemoved, this, &SlotListAudioHelper::takeSlotSnapshot);
        connect(m_slotList, &QAbstractItemModel::modelReset, this, &SlotListAudioHelper::takeSlotSnapshot);
        connect(m_slotList, &SlotListModel::extra1Changed, this, &SlotListAudioHelper::takeSlotSnapshot);
        connect(m_slotList, &SlotListModel::extra2Changed, this, &SlotListAudioHelper::takeSlotSnapshot);
    }
    // Direct: the levels are measured on the audio thread, inside the read that clocks them.
    // Made before the thread starts, so that no read runs while the connection is being made.
    connect(&m_device, &NDIDevice::dataRead, this, &SlotListAudioHelper::updateLevels, Qt::DirectConnection);
    m_player.start(&m_device);
}

SlotListAudioHelper::~SlotListAudioHelper()
{
    m_player.quit();
    m_player.wait();
}

void SlotListAudioHelper::takeSlotSnapshot()
{
    auto snapshot = std::make_shared<std::vector<Slot*>>();
    if (m_slotList) {
        const auto all = m_slotList->allSlots();
        snapshot->assign(all.begin(), all.end());
    }
    std::atomic_store(&m_slots, std::shared_ptr<const std::vector<Slot*>>(std::move(snapshot)));
}

void SlotListAudioHelper::startListening(Slot* slot)
{
    if (m_currentSlot && m_currentSlot->isListening())
        m_currentSlot->setIsListening(false);
    if (m_currentSlot)
        disconnect(m_currentSlot, nullptr, this, nullptr);
    m_currentSlot = slot;
    m_device.setReceiver(slot ? slot->activeReceiver() : nullptr);
    if (slot) {
        // A slot that binds, unbinds or replaces its receiver keeps being heard through the
        // receiver it has now.
        connect(slot, &Slot::isConnectedChanged, this, &SlotListAudioHelper::followCurrentSlot);
        connect(slot, &Slot::isFullResChanged, this, &SlotListAudioHelper::followCurrentSlot);
        if (!slot->isListening())
            slot->setIsListening(true);
    }
}

void SlotListAudioHelper::followCurrentSlot()
{
    m_device.setReceiver(m_currentSlot ? m_currentSlot->activeReceiver() : nullptr);
}

void SlotListAudioHelper::stopListening()
{
    if (m_currentSlot && m_currentSlot->isListening())
        m_currentSlot->setIsListening(false);
    if (m_currentSlot)
        disconnect(m_currentSlot, nullptr, this, nullptr);
    m_currentSlot = nullptr;
    m_device.setReceiver(nullptr);
}

void SlotListAudioHelper::updateLevels(qint64 len)
{
    if (len < 1)
        return;
    const std::shared_ptr<const std::vector<Slot*>> snapshot = std::atomic_load(&m_slots);
    // The listened receiver was measured by the read itself; reading it again would skip audio.
    const std::shared_ptr<Receiver> listened = m_device.receiver();
    for (Slot* slot : *snapshot) {
        const std::shared_ptr<Receiver> receiver = slot->activeReceiver();
        if (receiver && receiver != listened)
            receiver->readAudio(len, true);
    }
}
