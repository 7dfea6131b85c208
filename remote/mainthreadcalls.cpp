#include "remote/mainthreadcalls.h"

#include "app/threadhandover.h"

#include <memory>

struct MainThreadCalls::Call {
    enum State { Waiting, Running, Done, Abandoned };
    State state = Waiting;
    const std::function<void()>* work = nullptr; // the caller's, valid until it returns
};

MainThreadCalls::MainThreadCalls(QObject* context)
    : m_context(context)
{
}

bool MainThreadCalls::run(const std::function<void()>& work)
{
    auto call = std::make_shared<Call>();
    call->work = &work;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped)
            return false;
    }
    ThreadHandover::publish(call.get());
    QMetaObject::invokeMethod(
        m_context,
        [this, call] {
            ThreadHandover::receive(call.get());
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (call->state == Call::Abandoned)
                    return; // the caller has gone, and work with it
                call->state = Call::Running;
            }
            (*call->work)();
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                call->state = Call::Done;
            }
            m_done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_mutex);
    // Running means the main thread is inside the work, so it is not stopping: wait for it.
    m_done.wait(lock, [&] { return call->state == Call::Done || (m_stopped && call->state == Call::Waiting); });
    if (call->state == Call::Done)
        return true;
    call->state = Call::Abandoned;
    return false;
}

void MainThreadCalls::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_done.notify_all();
}

void MainThreadCalls::start()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
}
