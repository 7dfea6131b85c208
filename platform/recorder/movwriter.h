#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVRational;
struct AVStream;
struct SwsContext;

// Writes one QuickTime file: intra-frame 4:2:2 video and 32-bit float PCM audio, or video alone,
// with a time code track when the first frame's time code is given. The video is either encoded
// here or arrives encoded (SpeedHQ 4:2:2) and is written as it is. The file is fragmented about
// once a second, so everything up to the last fragment survives a crash.
class MovWriter
{
public:
    struct VideoFormat {
        int width = 0;
        int height = 0;
        int frameRateN = 30000;
        int frameRateD = 1001;
        float aspect = 0.0f; // display aspect ratio; 0 means square pixels
        bool compressed = false; // frames arrive as SpeedHQ 4:2:2 packets
        std::string timecode; // "hh:mm:ss:ff" of the first frame; empty: no time code track
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
    // Any source size is scaled to the file's size. pts counts frame periods from the file's start
    // (a skipped one keeps its time); -1: right after the previous frame.
    bool writeVideo(const uint8_t* data, int stride, int width, int height, PixelLayout layout, int64_t pts = -1);
    // One SpeedHQ packet, into a file opened for compressed frames.
    bool writeVideoPacket(const uint8_t* data, size_t size, int64_t pts = -1);
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
    bool openVideoEncoder(const char* codecName, AVRational aspect);
    bool nextPts(int64_t* pts);
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
    int64_t m_lastPts = -1;
    int64_t m_audioSamples = 0;
    bool m_headerWritten = false;
};
