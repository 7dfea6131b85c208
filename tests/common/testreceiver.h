#pragma once

#include "ndi/receiver.h"

#include <QColor>

#include <algorithm>
#include <array>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

// A receiver of a solid picture of a known colour (UYVY or BGRA), so the preview tests know what
// must come out. The picture may change from the test thread while the render thread pulls it.
class TestReceiver : public Receiver
{
public:
    enum Format { Bgra = 0, Uyvy = 2 };

    TestReceiver(int width, int height, Format format, QColor color, float aspect = 0.0f)
        : m_width(width)
        , m_height(height)
        , m_format(format)
        , m_aspect(aspect > 0 ? aspect : float(width) / float(height))
    {
        setColor(color);
    }

    static int clampByte(double x) { return int(std::lround(std::min(255.0, std::max(0.0, x)))); }
    // Video-range BT.709 values (y, u, v) for a colour.
    static std::array<int, 3> yuvFor(QColor c)
    {
        const double y = 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
        return { clampByte(16 + 219 * y), clampByte(128 + 224 * (c.blueF() - y) / 1.8556),
            clampByte(128 + 224 * (c.redF() - y) / 1.5748) };
    }
    // The colour a picture of this colour shows after the GPU's conversion.
    static QColor displayedColor(QColor color, Format format)
    {
        if (format == Bgra)
            return color;
        const auto [Y, u, v] = yuvFor(color);
        const double y = 1.164 * (Y - 16);
        return QColor(clampByte(y + 1.793 * (v - 128)), clampByte(y - 0.213 * (u - 128) - 0.534 * (v - 128)),
            clampByte(y + 2.1148 * (u - 128)));
    }

    void setColor(QColor color)
    {
        const auto [y, u, v] = yuvFor(color);
        const uint8_t pixel[4]
            = { uint8_t(m_format == Uyvy ? u : color.blue()), uint8_t(m_format == Uyvy ? y : color.green()),
                  uint8_t(m_format == Uyvy ? v : color.red()), uint8_t(m_format == Uyvy ? y : color.alpha()) };
        std::vector<uint8_t> frame(size_t(m_width) * m_height * (m_format == Uyvy ? 2 : 4));
        for (size_t i = 0; i + 3 < frame.size(); i += 4)
            std::copy(pixel, pixel + 4, frame.begin() + long(i));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.swap(frame);
        ++m_pendingSerial;
    }

    VideoFrameInfo videoFrame() override
    {
        ++m_videoFrameCalls;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_serial != m_pendingSerial) {
                m_current = m_pending;
                m_serial = m_pendingSerial;
            }
        }
        return { m_width, m_height, m_aspect, m_format, m_current.data(), m_serial, m_frameRate.load() };
    }

    // The rate reported with the frames (0: unknown). Any thread.
    void setFrameRate(double rate) { m_frameRate = rate; }
    // The picture's tests pull no sound.
    const float* readAudio(qint64, bool, AudioLevels&) override { return nullptr; }

    int videoFrameCalls() const { return m_videoFrameCalls.load(); }

private:
    const int m_width, m_height;
    const Format m_format;
    const float m_aspect;
    std::mutex m_mutex;
    std::vector<uint8_t> m_pending; // guarded by m_mutex, as is the serial
    qint64 m_pendingSerial = 0;
    qint64 m_serial = 0; // render thread only, as is the picture
    std::vector<uint8_t> m_current;
    std::atomic<double> m_frameRate { 0.0 };
    std::atomic<int> m_videoFrameCalls { 0 };
};
