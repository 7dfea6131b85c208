#pragma once

#include "ndi/receiver.h"

#include <array>
#include <atomic>
#include <memory>
#include <vector>

// The receivers the audio thread pulls: each slot's, and the listened one. The main thread
// publishes plain pointers through atomics and keeps every receiver it published alive until no
// pull that may still use it runs, so a pull takes no lock and allocates nothing. Each pull leaves
// every slot's levels in atomics for the main thread to read.
class PulledReceivers
{
public:
    // More slots than the grid ever has; those beyond are not metered.
    static constexpr int capacity = 64;

    PulledReceivers();
    // After the audio thread has ended.
    ~PulledReceivers();

    // Main thread. The slots' receivers by slot index (null: unbound), and the listened one (null:
    // silence). Unchanged receivers keep their levels.
    void publish(const std::vector<std::shared_ptr<Receiver>>& slotReceivers);
    void setListened(std::shared_ptr<Receiver> receiver);
    // Main thread: lets go of receivers no pull can still be using.
    void collect();
    // Main thread: the slot's levels of a pull made since its receiver was published; false while
    // there is none, or the slot has no receiver.
    bool levels(int index, AudioLevels& out) const;
    // Any thread: whether a receiver is listened to.
    bool listening() const { return m_listened.load() != nullptr; }
    // Main thread: changes whenever a pull has finished.
    quint64 pulls() const { return m_pullCount.load() / 2; }

    // Audio thread: fills out (frames of two floats; may be null) with the listened receiver's
    // sound or silence, and measures every other receiver's levels from as many frames.
    void pull(qint64 frames, char* out);

private:
    struct Entry {
        std::atomic<Receiver*> receiver { nullptr };
        std::atomic<quint64> levels { 0 }; // left and right, 32 bits each
    };
    static quint64 pack(AudioLevels levels);
    void retire(std::shared_ptr<Receiver> receiver);

    // Odd while a pull runs: counted up at its start and at its end (audio thread only).
    std::atomic<quint64> m_pullCount { 0 };
    std::array<Entry, capacity> m_entries;
    std::atomic<int> m_count { 0 };
    std::atomic<Receiver*> m_listened { nullptr };
    // Main thread only: what the atomics point to, and receivers let go of while a pull may have
    // held them, with the pull count at that moment.
    std::vector<std::shared_ptr<Receiver>> m_held;
    std::shared_ptr<Receiver> m_heldListened;
    std::vector<std::pair<quint64, std::shared_ptr<Receiver>>> m_retired;
    // Main thread only: per slot, the pull count a pull must reach before its levels count.
    std::array<quint64, capacity> m_freshFrom {};
};
