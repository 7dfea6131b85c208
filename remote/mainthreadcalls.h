#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>

// Request threads have work run on the main thread and wait for it, but never past a stop: the
// main thread may then wait for the request threads, so a call not yet begun is abandoned and its
// caller answers "unavailable" instead. Nothing here waits on the main thread's side.
class MainThreadCalls
{
public:
    // Work runs on the thread of context.
    explicit MainThreadCalls(QObject* context);

    // Request threads: runs work there and returns true once it has run; false, with work not run
    // and never to run, when stopped before it began.
    bool run(const std::function<void()>& work);
    // Main thread: abandons every call not begun, and every later one until started again.
    void stop();
    void start();

private:
    struct Call;

    QObject* const m_context;
    std::mutex m_mutex; // guards m_stopped and every Call's state
    std::condition_variable m_done;
    bool m_stopped = false;
};
