#pragma once

#include "audio/audioplayer.h"
#include "audio/ndidevice.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class Slot;
class SlotListModel;

// Decides which slot is heard and owns the audio path: the player thread pulls from the device,
// which plays the listened slot's receiver (or silence), and each pull measures the levels of
// every other connected slot, so the meters move whether or not anyone listens.
class SlotListAudioHelper : public QObject
{
    Q_OBJECT
public:
    // Starts the audio thread at once; the slots of the list must outlive this object.
    explicit SlotListAudioHelper(SlotListModel* slotList, QObject* parent = nullptr);
    // Stops the audio thread and waits for it before the device goes.
    ~SlotListAudioHelper() override;

    Slot* currentSlot() const { return m_currentSlot; }
    NDIDevice* device() { return &m_device; }

public Q_SLOTS:
    void startListening(Slot* slot);
    void stopListening();
    // Audio thread, from inside the device's read.
    void updateLevels(qint64 len);

private:
    void takeSlotSnapshot();
    void followCurrentSlot();

    SlotListModel* m_slotList;
    QPointer<Slot> m_currentSlot; // main thread only
    AudioPlayer m_player;
    NDIDevice m_device;
    // The full slot list as the audio thread walks it: rebuilt on the main thread when the list
    // changes and swapped in with std::atomic_store; the audio thread takes it with atomic_load.
    std::shared_ptr<const std::vector<Slot*>> m_slots;
};
