#include "mediaqueue.h"

size_t MediaQueue::bytesOf(const Payload& payload)
{
    if (const auto* video = std::get_if<VideoItem>(&payload))
        return video->data.size();
    if (const auto* audio = std::get_if<AudioItem>(&payload))
        return audio->planar.size() * sizeof(float);
    return 0;
}

void MediaQueue::push(Payload payload)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes += bytesOf(payload);
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
    m_bytes -= bytesOf(item->payload);
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
    m_bytes = 0;
    return videoFrames;
}

size_t MediaQueue::size() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_items.size();
}

size_t MediaQueue::bytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}
