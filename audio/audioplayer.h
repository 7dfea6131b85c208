#pragma once

#include <QThread>

class NDIDevice;

// The audio output thread: plays the given device through the default sound output in pull mode
// for as long as the thread runs. The sink lives and dies on this thread. The destructor stops
// the thread and waits for it, so no audio thread outlives its player.
//
// The sound output may go away and come back (device removed, sound server restarted): a sink
// that stops pulling is let go, and the thread reads the device itself at the sink's pace, so
// everything the reads clock (the meters) keeps moving. The loss and the return are logged; the
// next default output found is played to.
class AudioPlayer : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;
    ~AudioPlayer() override;

    // Main thread, once. The device must outlive the thread.
    void start(NDIDevice* device);

protected:
    void run() override;

private:
    NDIDevice* m_device = nullptr; // set before the thread starts, then read by the thread only
};
