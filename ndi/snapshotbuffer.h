#pragma once

#include "ndi/receiver.h"

#include <QImage>

#include <array>
#include <atomic>
#include <mutex>

// Hands small copies of a receiver's pictures from the render thread to any reader. The render
// thread writes into a buffer of its own and swaps it in without waiting or allocating (all three
// buffers are made at construction); readers take turns among themselves, never with the writer.
class SnapshotBuffer
{
public:
    SnapshotBuffer();

    // Render thread: copies every n-th row and column of the frame, n chosen to fit the snapshot.
    void publish(const VideoFrameInfo& frame);
    // Any thread: the newest snapshot into out; false before the first.
    bool take(PictureSnapshot& out) const;
    // The snapshot as an RGB picture of its display aspect (UYVY as video-range BT.709).
    static QImage image(const PictureSnapshot& snapshot);

private:
    static constexpr int freshBit = 4;
    mutable std::array<PictureSnapshot, 3> m_buffers;
    int m_back = 0; // render thread only
    mutable std::atomic<int> m_middle { 1 }; // index, with freshBit while not yet taken
    mutable int m_front = 2; // readers only, under m_readers
    mutable std::mutex m_readers;
};
