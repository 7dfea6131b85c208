#include "remote/requestthreads.h"

RequestThreads::RequestThreads(size_t limit)
    : m_limit(limit)
{
}

RequestThreads::~RequestThreads()
{
    shutdown();
}

void RequestThreads::enqueue(std::function<void()> task)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return;
        m_tasks.push_back(std::move(task));
        if (m_idle < m_tasks.size() && m_threads.size() < m_limit)
            m_threads.emplace_back(&RequestThreads::work, this);
    }
    m_wake.notify_one();
}

void RequestThreads::shutdown()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
    }
    m_wake.notify_all();
    // Only the thread that started us joins; the library calls this once, after its accept loop.
    for (std::thread& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

void RequestThreads::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return m_shutdown || !m_tasks.empty(); });
        --m_idle;
        // Connections already accepted are still served, so none is left without an answer.
        if (m_tasks.empty())
            return;
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
