#include "audio/slotlistaudiohelper.h"

#include "ndi/receiver.h"
#include "slots/slot.h"
#include "slots/slotlistmodel.h"

SlotListAudioHelper::SlotListAudioHelper(SlotListModel* slotList, QObject* parent)
    : QObject(parent)
    , m_slotList(slotList)
{
    publishReceivers();
    if (m_slotList) {
        connect(m_slotList, &QAbstractItemModel::rowsInserted, this, &SlotListAudioHelper::publishReceivers);
        connect(m_slotList, &QAbstractItemModel::rowsRemoved, this, &SlotListAudioHelper::publishReceivers);
        connect(m_slotList, &QAbstractItemModel::modelReset, this, &SlotListAudioHelper::publishReceivers);
        connect(m_slotList, &SlotListModel::extra1Changed, this, &SlotListAudioHelper::publishReceivers);
        connect(m_slotList, &SlotListModel::extra2Changed, this, &SlotListAudioHelper::publishReceivers);
    }
    // About one pull's worth: the meters move as often as before, with no signal from the pull.
    m_levels.setInterval(40);
    connect(&m_levels, &QTimer::timeout, this, &SlotListAudioHelper::forwardLevels);
    m_levels.start();
    m_player.start(&m_device);
}

SlotListAudioHelper::~SlotListAudioHelper()
{
    m_player.quit();
    m_player.wait();
}

void SlotListAudioHelper::publishReceivers()
{
    std::vector<std::shared_ptr<Receiver>> receivers;
    if (m_slotList) {
        for (const Slot* slot : m_slotList->allSlots())
            receivers.push_back(slot->activeReceiver());
    }
    m_device.receivers().publish(receivers);
    m_device.receivers().collect();
}

void SlotListAudioHelper::forwardLevels()
{
    // A slot binds, unbinds and replaces its receiver without telling: look each time.
    publishReceivers();
    PulledReceivers& pulled = m_device.receivers();
    if (pulled.pulls() == m_forwardedPulls || !m_slotList)
        return;
    m_forwardedPulls = pulled.pulls();
    const QList<Slot*> all = m_slotList->allSlots();
    for (int i = 0; i < int(all.size()); ++i) {
        AudioLevels levels;
        if (pulled.levels(i, levels))
            all.at(i)->vuUpdated(levels.left, levels.right);
    }
}

void SlotListAudioHelper::startListening(Slot* slot)
{
    if (m_currentSlot && m_currentSlot->isListening())
        m_currentSlot->setIsListening(false);
    if (m_currentSlot)
        disconnect(m_currentSlot, nullptr, this, nullptr);
    m_currentSlot = slot;
    publishReceivers();
    m_device.receivers().setListened(slot ? slot->activeReceiver() : nullptr);
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
    publishReceivers();
    m_device.receivers().setListened(m_currentSlot ? m_currentSlot->activeReceiver() : nullptr);
}

void SlotListAudioHelper::stopListening()
{
    if (m_currentSlot && m_currentSlot->isListening())
        m_currentSlot->setIsListening(false);
    if (m_currentSlot)
        disconnect(m_currentSlot, nullptr, this, nullptr);
    m_currentSlot = nullptr;
    m_device.receivers().setListened(nullptr);
}
