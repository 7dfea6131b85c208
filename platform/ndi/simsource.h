#pragma once

#include "simencodedpicture.h"
#include "simpicture.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace ndisim
{

struct VideoConfig {
    int width = 1920;
    int height = 1080;
    int rateN = 30000; // frames per second = rateN / rateD
    int rateD = 1000;
    bool alpha = false; // sent as BGRA (with alpha) instead of UYVY
    float aspect = 0.0f; // picture aspect ratio; 0 = none given
    Pattern pattern = Pattern::Moving;
    Rgba color;
    bool compressed = true; // offers SpeedHQ to receivers that ask for it (never with alpha)
};

enum class AudioMode { Tone, Silence, Negative };

struct AudioConfig {
    double frequency = 1000.0;
    float peakLeft = 0.5f;
    float peakRight = 0.5f;
    AudioMode mode = AudioMode::Tone;
    int rate = 48000;
    int channels = 2;
    int beepMs = 0; // > 0: the tone sounds in the first half of every period of this length
};

struct TallyConfig {
    bool present = false;
    bool program = false;
    bool preview = false;
    int periodMs = 0; // > 0: cycles preview, program, neither, one step per period
};

struct SourceConfig {
    std::string name;
    std::optional<std::string> url;
    std::optional<VideoConfig> video;
    std::optional<AudioConfig> audio;
    TallyConfig tally;
    std::vector<std::string> metadata; // sent as they are, along with each tally element
    std::string key; // the source's JSON text; an unchanged source keeps its pictures across reloads
};

struct TallyState {
    bool program = false;
    bool preview = false;
};

// One source on the simulated network. Its content is a pure function of the wall clock.
class Source
{
public:
    explicit Source(SourceConfig config);

    const SourceConfig& config() const { return m_config; }

    // Size of the picture at the lowest bandwidth: at most 640 wide, the shape kept.
    static void reducedSize(int width, int height, int& outWidth, int& outHeight);

    // The pictures at one size and pixel format, made on first use (thread-safe).
    std::shared_ptr<Picture> picture(int width, int height, uint32_t fourcc);

    // The full picture as SpeedHQ packets, made on first use (thread-safe); null when the source
    // sends raw pictures only, or encoding is not possible here.
    std::shared_ptr<EncodedPicture> encoded();

    int64_t frameIndexAt(int64_t epochNs) const;
    int64_t frameTimeNs(int64_t index) const;

    // count samples per channel from absolute sample index first at rate, into planar channels
    // stride floats apart; channels beyond the source's are silent.
    void fillAudio(float* planar, int channels, int strideFloats, int64_t first, int rate, int count) const;

    TallyState tallyAt(int64_t epochNs) const;
    // The next time after epochNs at which the tally changes; INT64_MAX when it never does.
    int64_t nextTallyChange(int64_t epochNs) const;

private:
    double cyclesAt(int64_t n, int rate) const; // phase of sample n in cycles, 0 to 1

    const SourceConfig m_config;
    std::mutex m_mutex;
    std::map<std::tuple<int, int, uint32_t>, std::shared_ptr<Picture>> m_pictures; // m_mutex
    std::mutex m_encodedMutex; // held while encoding, which other receivers of the picture need not wait for
    std::shared_ptr<EncodedPicture> m_encoded; // m_encodedMutex
    bool m_encodeTried = false; // m_encodedMutex
};

} // namespace ndisim
