#include "ndi/receiverdisposal.h"

#include "ndi/ndireceiver.h"

#include <QCoreApplication>

namespace
{
ReceiverDisposal* g_instance = nullptr; // main thread only
}

ReceiverDisposal::ReceiverDisposal()
    : m_worker([this] { work(); })
{
}

ReceiverDisposal::~ReceiverDisposal()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
    deleteTakenDown();
    if (g_instance == this)
        g_instance = nullptr;
}

ReceiverDisposal* ReceiverDisposal::instance()
{
    if (!g_instance) {
        g_instance = new ReceiverDisposal();
        // Before the runtime's own statics go, and after every slot has let go of its receiver.
        qAddPostRoutine([] { delete g_instance; });
    }
    return g_instance;
}

void ReceiverDisposal::dispose(NDIReceiver* receiver)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(receiver);
    }
    m_wake.notify_one();
}

void ReceiverDisposal::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_pending.empty(); });
        if (m_pending.empty())
            return; // stopping, with nothing left to take down
        NDIReceiver* receiver = m_pending.front();
        m_pending.pop_front();
        lock.unlock();
        receiver->takeDown();
        lock.lock();
        const bool first = m_takenDown.empty();
        m_takenDown.push_back(receiver);
        if (first)
            QMetaObject::invokeMethod(this, &ReceiverDisposal::deleteTakenDown, Qt::QueuedConnection);
    }
}

void ReceiverDisposal::deleteTakenDown()
{
    std::vector<NDIReceiver*> done;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        done.swap(m_takenDown);
    }
    for (NDIReceiver* receiver : done)
        delete receiver;
}
