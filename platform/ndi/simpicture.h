#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ndisim
{

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

enum class Pattern { Solid, Bars, Moving };

struct PictureSpec {
    int width = 0;
    int height = 0;
    uint32_t fourcc = 0; // UYVY, BGRA, BGRX, RGBA or RGBX
    Pattern pattern = Pattern::Solid;
    Rgba color;
};

// One picture buffer. Never written while users > 0: a consumer holds it from acquire() until release().
struct Frame {
    std::unique_ptr<uint8_t[]> data;
    int64_t index = -1;
    int boxX = -1, boxY = 0, boxW = 0, boxH = 0; // where the moving element is drawn; boxX < 0: none
    std::atomic<int> users { 0 };
};
using FrameHandle = std::shared_ptr<Frame>;

// The pictures of one source at one size and pixel format. The static pattern is drawn once; a
// "moving" picture only redraws the moving element into a recycled buffer, and the newest frame is
// shared by everyone who asks for the same frame index.
class Picture
{
public:
    explicit Picture(const PictureSpec& spec);

    // The frame for a frame index, counted as used by the caller (thread-safe).
    FrameHandle acquire(int64_t index);
    static void release(const FrameHandle& frame);

    const PictureSpec& spec() const { return m_spec; }
    // Frame indices this far apart show the same picture.
    int64_t period() const { return m_spec.pattern == Pattern::Moving ? movingPeriod : 1; }
    static constexpr int64_t movingPeriod = 200;
    int stride() const { return m_stride; }
    size_t byteSize() const { return static_cast<size_t>(m_stride) * static_cast<size_t>(m_spec.height); }

    // Pixel bytes for one row of colours in the picture's format (width pixels).
    static void convertRow(const Rgba* colours, uint8_t* out, int width, uint32_t fourcc);
    static int strideFor(int width, uint32_t fourcc);

private:
    void boxFor(int64_t index, int& x, int& y, int& w, int& h) const;
    void restoreBox(Frame& frame) const;
    void drawBox(Frame& frame, int64_t index) const;
    FrameHandle newFrame() const;

    const PictureSpec m_spec;
    const int m_stride;
    FrameHandle m_background; // never written after construction
    std::vector<uint8_t> m_boxRow; // one row of the moving element, in the picture's format

    std::mutex m_mutex;
    std::vector<FrameHandle> m_ring; // m_mutex; recycled buffers of a moving picture
    FrameHandle m_latest; // m_mutex
};

} // namespace ndisim
