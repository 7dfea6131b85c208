#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class NDIReceiver;

// Takes released receivers down on a thread of its own, so that whoever dropped the last reference
// (main, render or a request thread) never waits for a source to close. The slow part (stopping
// the capture, disconnecting, destroying the runtime's objects) runs on the worker; the emptied
// object is deleted on the main thread it belongs to. The destructor finishes every receiver
// handed over and joins the worker.
class ReceiverDisposal : public QObject
{
    Q_OBJECT
public:
    ReceiverDisposal();
    ~ReceiverDisposal() override;

    // The application's disposal, made on first call (main thread) and destroyed with the
    // application object.
    static ReceiverDisposal* instance();

    // Any thread, never blocking for long. Nobody may use the receiver afterwards.
    void dispose(NDIReceiver* receiver);

private:
    void work();
    void deleteTakenDown();

    std::mutex m_mutex; // guards the two lists and m_stop
    std::condition_variable m_wake;
    std::deque<NDIReceiver*> m_pending;
    std::vector<NDIReceiver*> m_takenDown; // waiting for the main thread to delete them
    bool m_stop = false;
    std::thread m_worker; // started by the constructor, joined by the destructor
};
