#include "simsource.h"

#include "simclock.h"

#include "Processing.NDI.Lib.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace ndisim
{

Source::Source(SourceConfig config)
    : m_config(std::move(config))
{
}

void Source::reducedSize(int width, int height, int& outWidth, int& outHeight)
{
    constexpr int lowWidth = 640;
    if (width <= lowWidth) {
        outWidth = width;
        outHeight = height;
        return;
    }
    outWidth = lowWidth;
    outHeight = std::max(2, static_cast<int>(std::lround(static_cast<double>(height) * lowWidth / width)) & ~1);
}

std::shared_ptr<Picture> Source::picture(int width, int height, uint32_t fourcc)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Picture>& picture = m_pictures[std::make_tuple(width, height, fourcc)];
    if (!picture) {
        PictureSpec spec;
        spec.width = width;
        spec.height = height;
        spec.fourcc = fourcc;
        spec.pattern = m_config.video->pattern;
        spec.color = m_config.video->color;
        picture = std::make_shared<Picture>(spec);
    }
    return picture;
}

std::shared_ptr<EncodedPicture> Source::encoded()
{
    if (!m_config.video || !m_config.video->compressed || m_config.video->alpha)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_encodedMutex);
    if (!m_encodeTried) {
        m_encodeTried = true;
        const VideoConfig& video = *m_config.video;
        std::string error;
        m_encoded = EncodedPicture::obtain(*picture(video.width, video.height, NDIlib_FourCC_video_type_UYVY), &error);
        if (!m_encoded)
            std::fprintf(stderr, "%s: sending decoded pictures, as SpeedHQ is not possible: %s\n",
                m_config.name.c_str(), error.c_str());
    }
    return m_encoded;
}

int64_t Source::frameIndexAt(int64_t epochNs) const
{
    return mulDivFloor(epochNs, m_config.video->rateN, int64_t(m_config.video->rateD) * nsPerSecond);
}

int64_t Source::frameTimeNs(int64_t index) const
{
    return mulDivCeil(index, int64_t(m_config.video->rateD) * nsPerSecond, m_config.video->rateN);
}

double Source::cyclesAt(int64_t n, int rate) const
{
    // From whole seconds and the remainder separately, so the phase stays exact for integral
    // frequencies at epoch-sized sample indices.
    const double frequency = m_config.audio->frequency;
    const int64_t seconds = n / rate;
    const int64_t rest = n % rate;
    return std::fmod(std::fmod(static_cast<double>(seconds) * frequency, 1.0)
            + std::fmod(static_cast<double>(rest) * frequency, static_cast<double>(rate)) / rate,
        1.0);
}

void Source::fillAudio(float* planar, int channels, int strideFloats, int64_t first, int rate, int count) const
{
    const AudioConfig* audio = m_config.audio ? &*m_config.audio : nullptr;
    const bool sounding = audio && audio->mode != AudioMode::Silence && rate > 0;
    if (!sounding || count <= 0) {
        for (int c = 0; c < channels; ++c)
            std::fill(planar + static_cast<ptrdiff_t>(c) * strideFloats,
                planar + static_cast<ptrdiff_t>(c) * strideFloats + std::max(0, count), 0.0f);
        return;
    }

    // The waveform once, into channel 0, by rotating a phasor; re-anchored on the exact phase every
    // 1024 samples so no error builds up.
    float* wave = planar;
    const double step = 2.0 * M_PI * audio->frequency / rate;
    const double stepSin = std::sin(step), stepCos = std::cos(step);
    double sine = 0.0, cosine = 1.0;
    const int64_t beepMs = audio->beepMs;
    for (int i = 0; i < count; ++i) {
        const int64_t n = first + i;
        if (i % 1024 == 0) {
            const double phase = 2.0 * M_PI * cyclesAt(n, rate);
            sine = std::sin(phase);
            cosine = std::cos(phase);
        }
        double value = sine;
        if (beepMs > 0 && ((n * 1000) / rate) % beepMs >= beepMs / 2)
            value = 0.0;
        if (audio->mode == AudioMode::Negative)
            value = -(0.25 + 0.75 * std::fabs(value));
        wave[i] = static_cast<float>(value);
        const double nextSine = sine * stepCos + cosine * stepSin;
        cosine = cosine * stepCos - sine * stepSin;
        sine = nextSine;
    }
    for (int c = channels - 1; c >= 0; --c) {
        float* out = planar + static_cast<ptrdiff_t>(c) * strideFloats;
        if (c >= audio->channels) {
            std::fill(out, out + count, 0.0f);
            continue;
        }
        const float peak = c == 1 ? audio->peakRight : audio->peakLeft;
        for (int i = 0; i < count; ++i)
            out[i] = wave[i] * peak;
    }
}

TallyState Source::tallyAt(int64_t epochNs) const
{
    const TallyConfig& tally = m_config.tally;
    if (tally.periodMs <= 0)
        return { tally.program, tally.preview };
    switch ((epochNs / (int64_t(tally.periodMs) * 1000000)) % 3) {
    case 0: return { false, true };
    case 1: return { true, false };
    default: return { false, false };
    }
}

int64_t Source::nextTallyChange(int64_t epochNs) const
{
    const TallyConfig& tally = m_config.tally;
    if (tally.periodMs <= 0)
        return INT64_MAX;
    const int64_t period = int64_t(tally.periodMs) * 1000000;
    return (epochNs / period + 1) * period;
}

} // namespace ndisim
