#include "mediaqueue.h"

void MediaQueue::push(Payload payload)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(Item { std::move(payload), Clock::now() });
    }
    m_ready.notify_one();
}

bool MediaQueue::pop(Item* item, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ready.wait_for(lock, timeout, [this] { return !m_items.empty(); }))
        return false;
    *item = std::move(m_items.front());
    m_items.pop_front();
    return true;
}

int MediaQueue::dropMedia()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    int videoFrames = 0;
    std::deque<Item> kept;
    for (Item& item : m_items) {
        if (std::holds_alternative<VideoItem>(item.payload))
            ++videoFrames;
        else if (!std::holds_alternative<AudioItem>(item.payload))
            kept.push_back(std::move(item));
    }
    m_items.swap(kept);
    return videoFrames;
}

size_t MediaQueue::size() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_items.size();
}
