#include "remote/eventstreams.h"

#include <algorithm>

EventStreams::EventStreams(std::function<QStringList()> initialMessages, QObject* parent)
    : QObject(parent)
    , m_initialMessages(std::move(initialMessages))
{
}

quint64 EventStreams::open()
{
    quint64 id = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped || m_count >= maxStreams)
            return 0;
        ++m_count;
        id = ++m_lastId;
        m_queues[id];
    }
    QMetaObject::invokeMethod(
        this, [this, id] { fillStart(id); }, Qt::QueuedConnection);
    return id;
}

void EventStreams::fillStart(quint64 id)
{
    const QStringList start = m_initialMessages();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_queues.find(id);
        if (it == m_queues.end())
            return; // closed meanwhile
        // Events sent before now are part of the complete state.
        it->second = { start, true };
    }
    m_changed.notify_all();
}

EventStreams::Taken EventStreams::take(quint64 id, std::chrono::milliseconds timeout, QStringList& messages)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // Looked up afresh after every wake: a stop drops the queues.
    const auto queue = [&]() -> Queue* {
        const auto it = m_queues.find(id);
        return m_stopped || it == m_queues.end() ? nullptr : &it->second;
    };
    m_changed.wait_for(lock, timeout, [&] {
        const Queue* q = queue();
        return !q || (q->ready && !q->messages.isEmpty());
    });
    Queue* q = queue();
    if (!q)
        return Taken::Ended;
    if (!q->ready)
        return Taken::NotReady;
    messages = std::exchange(q->messages, QStringList());
    return Taken::Messages;
}

void EventStreams::close(quint64 id)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_queues.erase(id);
    --m_count;
}

void EventStreams::send(const QString& message)
{
    QStringList fresh;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queues.empty())
            return;
        const bool overrun = std::any_of(m_queues.begin(), m_queues.end(),
            [](const auto& entry) { return entry.second.messages.size() >= maxQueuedMessages; });
        if (!overrun) {
            for (auto& [id, queue] : m_queues) {
                if (queue.ready)
                    queue.messages.append(message);
            }
            m_changed.notify_all();
            return;
        }
    }
    // A stream has fallen far behind: it starts over from the complete state instead of keeping
    // every change. Made outside the lock, which the request threads wait on.
    fresh = m_initialMessages();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [id, queue] : m_queues) {
            if (!queue.ready)
                continue;
            if (queue.messages.size() >= maxQueuedMessages)
                queue.messages = fresh;
            else
                queue.messages.append(message);
        }
    }
    m_changed.notify_all();
}

void EventStreams::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_queues.clear();
    }
    m_changed.notify_all();
}

void EventStreams::start()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
}

int EventStreams::count() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

int EventStreams::queueCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_queues.size());
}

int EventStreams::queuedMessageCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    int total = 0;
    for (const auto& [id, queue] : m_queues)
        total += int(queue.messages.size());
    return total;
}
