#pragma once

#include "ndi/receiver.h"

#include <QColor>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

// A receiver that serves a solid picture of a known colour (UYVY or BGRA) and a sine tone, so
// renderer and audio tests know exactly what must come out. The picture may be changed from the
// test thread while the render thread pulls it.
class TestReceiver : public Receiver
{
public:
    enum Format { Bgra = 0, Uyvy = 2 };

    struct Yuv {
        int y, u, v;
    };

    TestReceiver(int width, int height, Format format, QColor color, float aspect = 0.0f)
        : m_width(width)
        , m_height(height)
        , m_format(format)
        , m_aspect(aspect > 0 ? aspect : float(width) / float(height))
    {
        setColor(color);
    }

    // Video-range BT.709 values for a colour, rounded to bytes.
    static Yuv yuvFor(QColor color)
    {
        const double r = color.redF(), g = color.greenF(), b = color.blueF();
        const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        const double u = (b - y) / 1.8556;
        const double v = (r - y) / 1.5748;
        auto clampByte = [](double x) { return int(std::lround(std::min(255.0, std::max(0.0, x)))); };
        return { clampByte(16 + 219 * y), clampByte(128 + 224 * u), clampByte(128 + 224 * v) };
    }

    // The colour a UYVY picture of this colour shows after the GPU conversion.
    static QColor displayedColor(QColor color, Format format)
    {
        if (format == Bgra)
            return color;
        const Yuv c = yuvFor(color);
        auto clampByte = [](double x) { return int(std::lround(std::min(255.0, std::max(0.0, x)))); };
        const double y = 1.164 * (c.y - 16);
        return QColor(clampByte(y + 1.793 * (c.v - 128)), clampByte(y - 0.213 * (c.u - 128) - 0.534 * (c.v - 128)),
            clampByte(y + 2.1148 * (c.u - 128)));
    }

    void setColor(QColor color)
    {
        std::vector<uint8_t> frame;
        if (m_format == Uyvy) {
            const Yuv c = yuvFor(color);
            frame.resize(size_t(m_width) * m_height * 2);
            for (size_t i = 0; i + 3 < frame.size(); i += 4) {
                frame[i] = uint8_t(c.u);
                frame[i + 1] = uint8_t(c.y);
                frame[i + 2] = uint8_t(c.v);
                frame[i + 3] = uint8_t(c.y);
            }
        } else {
            frame.resize(size_t(m_width) * m_height * 4);
            for (size_t i = 0; i + 3 < frame.size(); i += 4) {
                frame[i] = uint8_t(color.blue());
                frame[i + 1] = uint8_t(color.green());
                frame[i + 2] = uint8_t(color.red());
                frame[i + 3] = uint8_t(color.alpha());
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.swap(frame);
        m_dirty = true;
        ++m_pendingSerial;
    }

    VideoFrameInfo videoFrame() override
    {
        ++m_videoFrameCalls;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_dirty) {
                m_current = m_pending;
                m_serial = m_pendingSerial;
                m_dirty = false;
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

    // The rate the receiver reports with its frames (0: unknown). Any thread.
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
        if (levelsOnly) {
            ++m_levelReads;
            m_phase += samples;
            return nullptr;
        }
        m_audio.resize(size_t(std::max<qint64>(samples, 0)) * 2);
        for (qint64 i = 0; i < samples; ++i) {
            const float value = m_peak * float(std::sin(2 * M_PI * m_frequency * double(m_phase + i) / m_sampleRate));
            m_audio[size_t(i) * 2] = value;
            m_audio[size_t(i) * 2 + 1] = value;
        }
        m_phase += samples;
        return m_audio.data();
    }

    int videoFrameCalls() const { return m_videoFrameCalls.load(); }
    int audioReads() const { return m_audioReads.load(); }
    int levelReads() const { return m_levelReads.load(); }
    qint64 samplesRead() const { return m_samplesRead.load(); }

private:
    const int m_width;
    const int m_height;
    const Format m_format;
    const float m_aspect;
    std::mutex m_mutex;
    std::vector<uint8_t> m_pending; // guarded by m_mutex
    bool m_dirty = false; // guarded by m_mutex
    qint64 m_pendingSerial = 0; // guarded by m_mutex
    qint64 m_serial = 0; // render thread only
    std::atomic<double> m_frameRate { 0.0 };
    std::vector<uint8_t> m_current; // render thread only
    std::atomic<int> m_videoFrameCalls { 0 };

    // Audio thread only, after setTone before the thread starts.
    double m_frequency = 1000.0;
    float m_peak = 0.5f;
    int m_sampleRate = 48000;
    qint64 m_phase = 0;
    std::vector<float> m_audio;
    std::atomic<int> m_audioReads { 0 };
    std::atomic<int> m_levelReads { 0 };
    std::atomic<qint64> m_samplesRead { 0 };
};
