#include "audio/pulledreceivers.h"

#include <algorithm>
#include <cstring>

PulledReceivers::PulledReceivers()
{
    m_held.resize(capacity);
}

PulledReceivers::~PulledReceivers()
{
    // The thread's join is a wait of Qt's that the thread sanitizer cannot see; the count its last
    // pull left orders that pull's reads before the receivers are let go.
    (void)m_pullCount.load();
}

quint64 PulledReceivers::pack(AudioLevels levels)
{
    return (quint64(quint32(levels.left)) << 32) | quint32(levels.right);
}

void PulledReceivers::retire(std::shared_ptr<Receiver> receiver)
{
    if (!receiver)
        return;
    // Kept until a pull that began after this moment has ended: any pull that could still have
    // loaded it has then ended too, and the count read then orders its reads before the release.
    m_retired.emplace_back(m_pullCount.load(), std::move(receiver));
}

void PulledReceivers::publish(const std::vector<std::shared_ptr<Receiver>>& slotReceivers)
{
    const int count = int(std::min<size_t>(slotReceivers.size(), capacity));
    for (int i = 0; i < capacity; ++i) {
        std::shared_ptr<Receiver> next = i < count ? slotReceivers[size_t(i)] : nullptr;
        if (next == m_held[size_t(i)])
            continue;
        m_entries[size_t(i)].receiver.store(next.get());
        // Levels measured before the next pull starts may be the old receiver's.
        const quint64 pulls = m_pullCount.load();
        m_freshFrom[size_t(i)] = pulls + (pulls % 2 == 1 ? 3 : 2);
        retire(std::exchange(m_held[size_t(i)], std::move(next)));
    }
    m_count.store(count);
}

void PulledReceivers::setListened(std::shared_ptr<Receiver> receiver)
{
    if (receiver == m_heldListened)
        return;
    m_listened.store(receiver.get());
    retire(std::exchange(m_heldListened, std::move(receiver)));
}

void PulledReceivers::collect()
{
    const quint64 now = m_pullCount.load();
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                        [now](const auto& retired) { return now >= retired.first + 2 + (retired.first & 1); }),
        m_retired.end());
}

bool PulledReceivers::levels(int index, AudioLevels& out) const
{
    if (index < 0 || index >= capacity || !m_held[size_t(index)] || m_pullCount.load() < m_freshFrom[size_t(index)])
        return false;
    const quint64 packed = m_entries[size_t(index)].levels.load();
    out = { int(qint32(quint32(packed >> 32))), int(qint32(quint32(packed))) };
    return true;
}

void PulledReceivers::pull(qint64 frames, char* out)
{
    m_pullCount.fetch_add(1);
    Receiver* listened = m_listened.load();
    AudioLevels listenedLevels;
    const float* samples
        = listened && frames > 0 ? listened->readAudio(frames, out == nullptr, listenedLevels) : nullptr;
    if (out && frames > 0) {
        const size_t bytes = size_t(frames) * 2 * sizeof(float);
        if (samples)
            std::memcpy(out, samples, bytes);
        else
            std::memset(out, 0, bytes); // 0.0f is all bits clear
    }
    const int count = m_count.load();
    for (int i = 0; i < count && frames > 0; ++i) {
        Entry& entry = m_entries[size_t(i)];
        Receiver* receiver = entry.receiver.load();
        if (!receiver)
            continue;
        // The listened receiver was measured by the read itself; reading it again would skip audio.
        AudioLevels levels = listenedLevels;
        if (receiver != listened)
            receiver->readAudio(frames, true, levels);
        entry.levels.store(pack(levels));
    }
    m_pullCount.fetch_add(1);
}
