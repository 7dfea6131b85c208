#pragma once

// The vendor's header uses NULL without defining it.
#include <cstddef>

#include "ndi/receiver.h"
#include "ndi/snapshotbuffer.h"

#include <Processing.NDI.Lib.h>

#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Receives one NDI source at a time for a slot. Video and audio are pulled through the runtime's
// frame synchroniser; a capture thread reads metadata and reports tally.
class ReceiverDisposal;

class NDIReceiver : public Receiver
{
    Q_OBJECT
public:
    NDIReceiver(bool lowBandwidth, bool useFrameSync);

    // Main thread. Shared by the slot and, while they pull, the render and audio threads: the last
    // holder to let go hands the receiver to the disposal (the application's unless given), from
    // any thread, without blocking.
    static std::shared_ptr<NDIReceiver> create(
        bool lowBandwidth, bool useFrameSync, ReceiverDisposal* disposal = nullptr);

    // Main thread. Both join the capture thread (up to about 100 ms).
    void connectToSource(const QString& name);
    void disconnectFromSource();

    VideoFrameInfo videoFrame() override;
    const float* readAudio(qint64 samples, bool levelsOnly, AudioLevels& levels) override;
    bool snapshot(PictureSnapshot& out) const override;
    PictureFormat pictureFormat() const override;

    // The level scale: defined for every peak (0, negative, NaN, huge): no peak above 0 gives the
    // silence value.
    static int level(float peak);
    static constexpr int silenceLevel = -2147483574; // smallest 32-bit integer plus 74

Q_SIGNALS:
    void connected(QString source);

private:
    friend class ReceiverDisposal;
    ~NDIReceiver() override; // by the disposal only, after takeDown()
    void stopCapture();
    void captureLoop();
    // The disposal's worker: stops, disconnects and destroys the runtime's objects.
    void takeDown();

    struct HeldFrame {
        VideoFrameInfo info;
        NDIlib_video_frame_v2_t frame;
    };

    // Started and joined on the main thread, and by the disposal's worker at the end; the lock
    // orders the two however the last reference travelled between them.
    std::mutex m_captureMutex;
    std::thread m_capture; // guarded by m_captureMutex
    std::atomic<bool> m_stop { false }; // set by the main thread, read by the capture thread
    const bool m_lowBandwidth;
    const bool m_useFrameSync;
    // Made at construction, destroyed by the disposal's worker; the runtime makes concurrent use by the
    // capture, render and audio threads safe.
    NDIlib_recv_instance_t m_receiver = nullptr;
    NDIlib_framesync_instance_t m_frameSync = nullptr;
    std::deque<HeldFrame> m_heldFrames; // render thread only
    // What the render thread saw, for the slot and the panel.
    SnapshotBuffer m_snapshots;
    qint64 m_lastSerial = 0; // render thread only
    qint64 m_lastSnapshotMs = -1000; // render thread only
    std::atomic<int> m_width { 0 };
    std::atomic<int> m_height { 0 };
    std::atomic<int> m_milliFps { 0 };
    std::atomic<qint64> m_newPictureMs { -1 }; // steady clock; -1 none since bound
    std::atomic<qint64> m_boundMs { -1 };
    std::vector<float> m_audioBuffer; // audio output thread only: what the last pull handed out
};
