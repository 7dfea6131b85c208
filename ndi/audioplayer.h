#pragma once

#include <QThread>

class QIODevice;

// The audio output thread: plays the given device through the default sound output in pull mode
// for as long as the thread runs. The sink lives and dies on this thread. The destructor stops
// the thread and waits for it, so no audio thread outlives its player.
class AudioPlayer : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;
    ~AudioPlayer() override;

    // Main thread, once. The device must outlive the thread.
    void start(QIODevice* device);

protected:
    void run() override;

private:
    QIODevice* m_device = nullptr; // set before the thread starts, then read by the thread only
};
