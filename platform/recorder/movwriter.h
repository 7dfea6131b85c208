#pragma once

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

// Writes one QuickTime file: intra-frame 4:2:2 video and 32-bit float PCM audio, or video alone.
// The file is fragmented about once a second, so everything up to the last fragment survives a crash.
class MovWriter
{
public:
    struct VideoFormat {
        int width = 0;
        int height = 0;
        int frameRateN = 30000;
        int frameRateD = 1001;
        float aspect = 0.0f; // display aspect ratio; 0 means square pixels
    };
    struct AudioFormat {
        int sampleRate = 48000;
        int channels = 2; // 0: the file has no audio
    };
    // Pixel layouts a source may deliver.
    enum class PixelLayout { UYVY, BGRA, BGRX, RGBA, RGBX };

    MovWriter();
    ~MovWriter();
    MovWriter(const MovWriter&) = delete;
    MovWriter& operator=(const MovWriter&) = delete;

    // The file must not exist or be empty; a false result leaves a reason in error().
    bool open(
        const std::string& path, const VideoFormat& video, const AudioFormat& audio, const char* codecName = "speedhq");
    // Any source size is scaled to the file's size.
    bool writeVideo(const uint8_t* data, int stride, int width, int height, PixelLayout layout);
    // Planar float samples, channel after channel, each channelStride floats apart; already gained.
    bool writeAudio(const float* planar, int channelStride, int channels, int samples);
    // Writes the index; a false result leaves a reason in error(). Safe to call twice.
    bool close();

    bool isOpen() const { return m_format != nullptr; }
    bool hasAudio() const { return m_audioStream != nullptr; }
    int64_t videoFrames() const { return m_videoFrames; }
    int64_t audioSamples() const { return m_audioSamples; }
    const std::string& error() const { return m_error; }
    const VideoFormat& videoFormat() const { return m_video; }
    const AudioFormat& audioFormat() const { return m_audio; }

private:
    bool fail(const std::string& what, int code);
    bool writePackets(AVCodecContext* codec, AVStream* stream);
    void release();

    std::string m_path;
    std::string m_error;
    VideoFormat m_video;
    AudioFormat m_audio;
    AVFormatContext* m_format = nullptr;
    AVStream* m_videoStream = nullptr;
    AVStream* m_audioStream = nullptr;
    AVCodecContext* m_videoCodec = nullptr;
    AVCodecContext* m_audioCodec = nullptr;
    AVFrame* m_videoFrame = nullptr;
    AVFrame* m_audioFrame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_scalerWidth = 0;
    int m_scalerHeight = 0;
    int m_scalerLayout = -1;
    int64_t m_videoFrames = 0;
    int64_t m_audioSamples = 0;
    bool m_headerWritten = false;
};
