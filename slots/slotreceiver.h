#pragma once

#include <QObject>
#include <QString>

#include <memory>

class NDIReceiver;
class Receiver;

// The receiver of one slot's source, and the one the render and audio threads may use: shared
// ownership lets them keep a receiver after it was replaced, and the last holder's release disposes
// of it. Tally reaches the slot through here, on the main thread. Main thread only, apart
// from active().
class SlotReceiver : public QObject
{
    Q_OBJECT

public:
    // Any thread: the receiver while published, else null. Holding the pointer keeps it alive.
    std::shared_ptr<Receiver> active() const;
    // A new receiver, reduced or full resolution, takes the place of the current one; nothing the
    // old one still reports arrives.
    void replace(bool fullResolution);
    // Other threads see the receiver while the slot is bound.
    void publish(bool bound);
    void connectToSource(const QString& source);
    void disconnectFromSource();
    // Reports queued before now die unseen: they belong to a binding that ended.
    void dropQueuedReports();
    // Lets go of the receiver: no thread is offered it any more.
    void release();

Q_SIGNALS:
    void connected(QString source);
    void tally(int tally);

private:
    std::shared_ptr<NDIReceiver> m_receiver; // main thread only
    std::unique_ptr<QObject> m_reports; // context of the current binding's level and tally reports
    // Written on the main thread, read by the render and audio threads: only through
    // std::atomic_store / std::atomic_load.
    std::shared_ptr<Receiver> m_active;
    bool m_published = false;
};
