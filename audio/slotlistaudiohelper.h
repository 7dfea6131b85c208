#pragma once

#include "audio/audioplayer.h"
#include "audio/ndidevice.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class Slot;
class SlotListModel;

// Decides which slot is heard and owns the audio path: the player thread pulls from the device,
// which plays the listened slot's receiver (or silence), and each pull measures the levels of
// every other connected slot, so the meters move whether or not anyone listens. A timer on the
// main thread hands the measured levels to the slots and keeps the pulled receivers current.
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

private:
    // Main thread: the slots' receivers as they are now, to the pull.
    void publishReceivers();
    void forwardLevels();
    void followCurrentSlot();

    SlotListModel* m_slotList;
    QPointer<Slot> m_currentSlot; // main thread only
    AudioPlayer m_player;
    NDIDevice m_device;
    QTimer m_levels;
    quint64 m_forwardedPulls = 0; // main thread only
};
