#include "simpicture.h"

#include "Processing.NDI.Lib.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ndisim
{

namespace
{

    constexpr size_t maxRecycledFrames = 8;

    uint8_t clampByte(double value)
    {
        return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    }

    // Studio-range BT.709, the usual matrix for HD material.
    void toYuv(const Rgba& c, double& y, double& u, double& v)
    {
        const double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
        const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        y = 16.0 + 219.0 * luma;
        u = 128.0 + 224.0 * (b - luma) / 1.8556;
        v = 128.0 + 224.0 * (r - luma) / 1.5748;
    }

    int64_t triangle(int64_t position, int64_t range)
    {
        if (range <= 0)
            return 0;
        const int64_t period = 2 * range;
        int64_t p = position % period;
        if (p < 0)
            p += period;
        return p <= range ? p : period - p;
    }

} // namespace

int Picture::strideFor(int width, uint32_t fourcc)
{
    return fourcc == NDIlib_FourCC_video_type_UYVY ? width * 2 : width * 4;
}

void Picture::convertRow(const Rgba* colours, uint8_t* out, int width, uint32_t fourcc)
{
    switch (fourcc) {
    case NDIlib_FourCC_video_type_UYVY:
        for (int x = 0; x + 1 < width; x += 2) {
            double y0, u0, v0, y1, u1, v1;
            toYuv(colours[x], y0, u0, v0);
            toYuv(colours[x + 1], y1, u1, v1);
            out[0] = clampByte((u0 + u1) / 2.0);
            out[1] = clampByte(y0);
            out[2] = clampByte((v0 + v1) / 2.0);
            out[3] = clampByte(y1);
            out += 4;
        }
        break;
    case NDIlib_FourCC_video_type_BGRA:
    case NDIlib_FourCC_video_type_BGRX:
        for (int x = 0; x < width; ++x, out += 4) {
            out[0] = colours[x].b;
            out[1] = colours[x].g;
            out[2] = colours[x].r;
            out[3] = fourcc == NDIlib_FourCC_video_type_BGRA ? colours[x].a : 255;
        }
        break;
    default: // RGBA, RGBX
        for (int x = 0; x < width; ++x, out += 4) {
            out[0] = colours[x].r;
            out[1] = colours[x].g;
            out[2] = colours[x].b;
            out[3] = fourcc == NDIlib_FourCC_video_type_RGBA ? colours[x].a : 255;
        }
        break;
    }
}

Picture::Picture(const PictureSpec& spec)
    : m_spec(spec)
    , m_stride(strideFor(spec.width, spec.fourcc))
{
    std::vector<Rgba> row(static_cast<size_t>(spec.width));
    if (spec.pattern == Pattern::Solid) {
        std::fill(row.begin(), row.end(), spec.color);
    } else {
        static const Rgba bars[8] = { { 191, 191, 191, 255 }, { 191, 191, 0, 255 }, { 0, 191, 191, 255 },
            { 0, 191, 0, 255 }, { 191, 0, 191, 255 }, { 191, 0, 0, 255 }, { 0, 0, 191, 255 }, { 0, 0, 0, 255 } };
        for (int x = 0; x < spec.width; ++x)
            row[static_cast<size_t>(x)] = bars[std::min(7, (x & ~1) * 8 / spec.width)];
    }

    m_background = std::make_shared<Frame>();
    m_background->data.reset(new uint8_t[byteSize()]);
    convertRow(row.data(), m_background->data.get(), spec.width, spec.fourcc);
    for (int y = 1; y < spec.height; ++y)
        std::memcpy(m_background->data.get() + static_cast<size_t>(y) * m_stride, m_background->data.get(),
            static_cast<size_t>(m_stride));

    if (spec.pattern == Pattern::Moving) {
        int x, y, w, h;
        boxFor(0, x, y, w, h);
        const std::vector<Rgba> white(static_cast<size_t>(w), Rgba { 255, 255, 255, 255 });
        m_boxRow.resize(static_cast<size_t>(strideFor(w, spec.fourcc)));
        convertRow(white.data(), m_boxRow.data(), w, spec.fourcc);
    }
}

void Picture::boxFor(int64_t index, int& x, int& y, int& w, int& h) const
{
    const int side = std::max(2, (std::min(m_spec.width, m_spec.height) / 4) & ~1);
    w = std::min(side, m_spec.width & ~1);
    h = std::min(side, m_spec.height);
    // Four seconds across at 25 frames a second, whatever the size; back where it began after one
    // period, so that a period's frames are all the pictures there are.
    int64_t phase = index % movingPeriod;
    if (phase < 0)
        phase += movingPeriod;
    const int64_t rangeX = m_spec.width - w, rangeY = m_spec.height - h;
    x = static_cast<int>(triangle(phase * 2 * rangeX / movingPeriod, rangeX)) & ~1;
    y = static_cast<int>(triangle(phase * 6 * rangeY / movingPeriod, rangeY));
}

void Picture::restoreBox(Frame& frame) const
{
    if (frame.boxX < 0)
        return;
    const size_t offset = static_cast<size_t>(strideFor(frame.boxX, m_spec.fourcc));
    const size_t bytes = static_cast<size_t>(strideFor(frame.boxW, m_spec.fourcc));
    for (int y = frame.boxY; y < frame.boxY + frame.boxH; ++y) {
        const size_t row = static_cast<size_t>(y) * m_stride + offset;
        std::memcpy(frame.data.get() + row, m_background->data.get() + row, bytes);
    }
    frame.boxX = -1;
}

void Picture::drawBox(Frame& frame, int64_t index) const
{
    boxFor(index, frame.boxX, frame.boxY, frame.boxW, frame.boxH);
    const size_t offset = static_cast<size_t>(strideFor(frame.boxX, m_spec.fourcc));
    for (int y = frame.boxY; y < frame.boxY + frame.boxH; ++y)
        std::memcpy(frame.data.get() + static_cast<size_t>(y) * m_stride + offset, m_boxRow.data(), m_boxRow.size());
}

FrameHandle Picture::newFrame() const
{
    auto frame = std::make_shared<Frame>();
    frame->data.reset(new uint8_t[byteSize()]);
    std::memcpy(frame->data.get(), m_background->data.get(), byteSize());
    return frame;
}

FrameHandle Picture::acquire(int64_t index)
{
    if (m_spec.pattern != Pattern::Moving) {
        m_background->users.fetch_add(1, std::memory_order_relaxed);
        return m_background;
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_latest && m_latest->index == index) {
        m_latest->users.fetch_add(1, std::memory_order_relaxed);
        return m_latest;
    }
    FrameHandle frame;
    for (const FrameHandle& candidate : m_ring) {
        // Acquire pairs with release(): whoever read this buffer last is done before we overwrite it.
        if (candidate->users.load(std::memory_order_acquire) == 0) {
            frame = candidate;
            break;
        }
    }
    if (frame) {
        restoreBox(*frame);
    } else {
        frame = newFrame();
        if (m_ring.size() < maxRecycledFrames)
            m_ring.push_back(frame);
    }
    drawBox(*frame, index);
    frame->index = index;
    frame->users.fetch_add(1, std::memory_order_relaxed);
    m_latest = frame;
    return frame;
}

void Picture::release(const FrameHandle& frame)
{
    if (frame)
        frame->users.fetch_sub(1, std::memory_order_release);
}

} // namespace ndisim
