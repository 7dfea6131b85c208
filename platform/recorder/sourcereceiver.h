#pragma once

#include "mediaqueue.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// Receives one NDI source on its own thread and queues its video and audio. Frames carry their
// data only while `wantMedia` is set; otherwise just their format. With `allowCompressed`, a
// runtime that can hand out frames as they travel (SpeedHQ) is asked for them.
class SourceReceiver
{
public:
    SourceReceiver(
        std::string sourceName, std::string url, MediaQueue& queue, std::atomic<bool>& wantMedia, bool allowCompressed);
    ~SourceReceiver(); // stops and joins the thread

    void start();
    void stop();

    // How long the source may send no video before it counts as gone.
    static constexpr std::chrono::milliseconds silenceLimit { 3000 };

private:
    void run();

    std::string m_sourceName;
    std::string m_url;
    MediaQueue& m_queue;
    std::atomic<bool>& m_wantMedia;
    const bool m_allowCompressed;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};
