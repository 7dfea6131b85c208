#include "slots/slotreceiver.h"

#include "ndi/ndireceiver.h"

std::shared_ptr<Receiver> SlotReceiver::active() const
{
    return std::atomic_load(&m_active);
}

void SlotReceiver::replace(bool fullResolution)
{
    if (m_receiver) {
        // Nothing the old receiver still reports may reach the slot; other threads keep it until
        // the new one is published.
        disconnect(m_receiver.get(), nullptr, this, nullptr);
        m_receiver.reset();
    }
    m_receiver = NDIReceiver::create(!fullResolution, true);
    connect(m_receiver.get(), &NDIReceiver::connected, this, &SlotReceiver::connected);
    dropQueuedReports();
    publish(m_published);
}

void SlotReceiver::publish(bool bound)
{
    m_published = bound;
    std::shared_ptr<Receiver> active;
    if (bound)
        active = m_receiver;
    std::atomic_store(&m_active, std::move(active));
}

void SlotReceiver::connectToSource(const QString& source)
{
    m_receiver->connectToSource(source);
}

void SlotReceiver::disconnectFromSource()
{
    m_receiver->disconnectFromSource();
}

void SlotReceiver::dropQueuedReports()
{
    // Tally comes from the capture thread, queued. A report queued for an earlier binding (sent
    // just before its receiver stopped) dies with that binding's context, unseen.
    m_reports = std::make_unique<QObject>();
    connect(
        m_receiver.get(), &Receiver::tallyUpdated, m_reports.get(), [this](int value) { emit tally(value); },
        Qt::QueuedConnection);
}

void SlotReceiver::release()
{
    std::atomic_store(&m_active, std::shared_ptr<Receiver>());
    if (m_receiver)
        disconnect(m_receiver.get(), nullptr, this, nullptr);
    m_receiver.reset();
}
