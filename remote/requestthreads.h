#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The HTTP server's connection threads: one for every connection in hand, up to a limit, so a
// few slow clients never keep the others waiting; more than the limit wait their turn.
class RequestThreads : public httplib::TaskQueue
{
public:
    explicit RequestThreads(size_t limit);
    ~RequestThreads() override;

    void enqueue(std::function<void()> task) override;
    void shutdown() override;

private:
    void work();

    const size_t m_limit;
    std::mutex m_mutex; // guards everything below
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_shutdown = false;
};
