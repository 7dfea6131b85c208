#pragma once

#include "movwriter.h"
#include "recordercommand.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

struct VideoItem {
    int width = 0;
    int height = 0;
    int stride = 0;
    MovWriter::PixelLayout layout = MovWriter::PixelLayout::UYVY;
    int frameRateN = 30000;
    int frameRateD = 1001;
    float aspect = 0.0f;
    int64_t timecode = 0; // the source's time code, 100 ns units
    int64_t time = 0; // when the source sent it (its time stamp, else its time code), 100 ns units
    bool compressed = false; // data is one SpeedHQ 4:2:2 packet
    std::vector<uint8_t> data; // empty while nobody records: only the format is passed on
};

struct AudioItem {
    int sampleRate = 48000;
    int channels = 2;
    int samples = 0;
    int64_t time = 0; // as for video
    std::vector<float> planar; // channel after channel, `samples` each; empty while nobody records
};

// The source stopped (true) or resumed (false) sending video.
struct SourceState {
    bool lost = false;
};

// Standard input has closed: the parent is gone.
struct EndOfInput {
};

// Everything the writer thread handles, in arrival order, so commands fall between frames.
class MediaQueue
{
public:
    using Clock = std::chrono::steady_clock;
    using Payload = std::variant<VideoItem, AudioItem, RecorderCommand, SourceState, EndOfInput>;
    struct Item {
        Payload payload;
        Clock::time_point arrival;
    };

    void push(Payload payload);
    // Waits up to `timeout`; false when nothing came.
    bool pop(Item* item, std::chrono::milliseconds timeout);
    // Removes every queued frame and audio block, keeping commands and events; returns the number
    // of video frames removed.
    int dropMedia();
    size_t size() const;
    // Bytes of frame and audio data waiting.
    size_t bytes() const;

private:
    static size_t bytesOf(const Payload& payload);

    mutable std::mutex m_mutex; // guards m_items and m_bytes
    size_t m_bytes = 0;
    std::condition_variable m_ready;
    std::deque<Item> m_items;
};
