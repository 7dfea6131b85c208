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

// A receiver of a solid picture of a known colour (UYVY or BGRA) and a sine tone, so preview and
// sound tests know what must come out. The picture may change from the test thread while the
// render thread pulls it.
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
        VideoFrameInfo info;
        info.width = m_width;
        info.height = m_height;
        info.aspectRatio = m_aspect;
        info.pixelFormat = m_format;
        info.data = m_current.data();
        info.serial = m_serial;
        info.frameRate = m_frameRate.load();
        return info;
    }

    // The rate reported with the frames (0: unknown). Any thread.
    void setFrameRate(double rate) { m_frameRate = rate; }
    // A sine tone of the given peak; levelsOnly reads advance the tone as well.
    void setTone(double frequency, float peak, int sampleRate)
    {
        m_frequency = frequency;
        m_peak = peak;
        m_sampleRate = sampleRate;
    }

    const float* readAudio(qint64 samples, bool levelsOnly) override
    {
        ++m_audioReads;
        m_samplesRead += samples;
        m_levelReads += levelsOnly ? 1 : 0;
        m_audio.resize(levelsOnly ? 0 : size_t(std::max<qint64>(samples, 0)) * 2);
        for (size_t i = 0; i < m_audio.size(); ++i)
            m_audio[i]
                = m_peak * float(std::sin(2 * M_PI * m_frequency * double(m_phase + qint64(i / 2)) / m_sampleRate));
        m_phase += samples;
        return levelsOnly ? nullptr : m_audio.data();
    }

    int videoFrameCalls() const { return m_videoFrameCalls.load(); }
    int audioReads() const { return m_audioReads.load(); }
    int levelReads() const { return m_levelReads.load(); }
    qint64 samplesRead() const { return m_samplesRead.load(); }

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
    // Audio thread only, after setTone before the thread starts.
    double m_frequency = 1000.0;
    float m_peak = 0.5f;
    int m_sampleRate = 48000;
    qint64 m_phase = 0;
    std::vector<float> m_audio;
    std::atomic<int> m_audioReads { 0 }, m_levelReads { 0 };
    std::atomic<qint64> m_samplesRead { 0 };
};
