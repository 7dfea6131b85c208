#include "simsource.h"

#include "simclock.h"

#include <climits>
#include <cmath>

namespace ndisim {

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

int64_t Source::frameIndexAt(int64_t epochNs) const
{
    return mulDivFloor(epochNs, m_config.video->rateN, int64_t(m_config.video->rateD) * nsPerSecond);
}

int64_t Source::frameTimeNs(int64_t index) const
{
    return mulDivCeil(index, int64_t(m_config.video->rateD) * nsPerSecond, m_config.video->rateN);
}

void Source::fillAudio(float* planar, int channels, int strideFloats, int64_t first, int rate, int count) const
{
    for (int c = 0; c < channels; ++c) {
        float* out = planar + static_cast<ptrdiff_t>(c) * strideFloats;
        const AudioConfig* audio = m_config.audio ? &*m_config.audio : nullptr;
        if (!audio || audio->mode == AudioMode::Silence || c >= audio->channels || rate <= 0) {
            std::fill(out, out + count, 0.0f);
            continue;
        }
        const float peak = c == 1 ? audio->peakRight : audio->peakLeft;
        // The phase is taken from whole seconds and the remainder separately, so it stays exact
        // for integral frequencies at epoch-sized sample indices.
        const int64_t beepMs = audio->beepMs;
        for (int i = 0; i < count; ++i) {
            const int64_t n = first + i;
            const int64_t seconds = n / rate;
            const int64_t rest = n % rate;
            const double cycles = std::fmod(static_cast<double>(seconds) * audio->frequency, 1.0)
                + std::fmod(static_cast<double>(rest) * audio->frequency, static_cast<double>(rate)) / rate;
            double value = std::sin(2.0 * M_PI * std::fmod(cycles, 1.0));
            if (beepMs > 0) {
                const int64_t ms = mulDivFloor(n, 1000, rate);
                if (ms % beepMs >= beepMs / 2)
                    value = 0.0;
            }
            if (audio->mode == AudioMode::Negative)
                value = -(0.25 + 0.75 * std::fabs(value));
            out[i] = static_cast<float>(value) * peak;
        }
    }
}

TallyState Source::tallyAt(int64_t epochNs) const
{
    const TallyConfig& tally = m_config.tally;
    if (tally.periodMs <= 0)
        return { tally.program, tally.preview };
    switch ((epochNs / (int64_t(tally.periodMs) * 1000000)) % 3) {
    case 0:
        return { false, true };
    case 1:
        return { true, false };
    default:
        return { false, false };
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
