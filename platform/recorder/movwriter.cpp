#include "movwriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace
{

AVPixelFormat sourcePixelFormat(MovWriter::PixelLayout layout)
{
    switch (layout) {
    case MovWriter::PixelLayout::UYVY: return AV_PIX_FMT_UYVY422;
    case MovWriter::PixelLayout::BGRA: return AV_PIX_FMT_BGRA;
    case MovWriter::PixelLayout::BGRX: return AV_PIX_FMT_BGR0;
    case MovWriter::PixelLayout::RGBA: return AV_PIX_FMT_RGBA;
    case MovWriter::PixelLayout::RGBX: return AV_PIX_FMT_RGB0;
    }
    return AV_PIX_FMT_UYVY422;
}

// 8-bit 4:2:2 where the codec has it, so UYVY sources keep their chroma.
AVPixelFormat codecPixelFormat(const AVCodec* codec)
{
    if (!codec->pix_fmts)
        return AV_PIX_FMT_YUV422P;
    for (AVPixelFormat wanted : { AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P10LE }) {
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
            if (*f == wanted)
                return wanted;
        }
    }
    return codec->pix_fmts[0];
}

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace

MovWriter::MovWriter() = default;

MovWriter::~MovWriter()
{
    close();
}

bool MovWriter::fail(const std::string& what, int code)
{
    m_error = what;
    if (code < 0)
        m_error += ": " + errorText(code);
    return false;
}

bool MovWriter::open(const std::string& path, const VideoFormat& video, const AudioFormat& audio, const char* codecName)
{
    release();
    m_path = path;
    m_error.clear();
    m_video = video;
    m_audio = audio;
    m_videoFrames = 0;
    m_lastPts = -1;
    m_audioSamples = 0;
    if (video.width <= 0 || video.height <= 0 || video.frameRateN <= 0 || video.frameRateD <= 0)
        return fail("Unusable video format", 0);
    const bool withAudio = audio.channels > 0;
    if (audio.channels < 0 || (withAudio && audio.sampleRate <= 0))
        return fail("Unusable audio format", 0);

    // The extension may be anything (previews end in ".preview"); the container is always QuickTime.
    int rc = avformat_alloc_output_context2(&m_format, nullptr, "mov", path.c_str());
    if (rc < 0)
        return fail("Cannot create the container", rc);

    const AVCodec* audioCodec = withAudio ? avcodec_find_encoder(AV_CODEC_ID_PCM_F32LE) : nullptr;
    if (withAudio && !audioCodec) {
        release();
        return fail("Encoder not available: pcm_f32le", 0);
    }
    m_videoStream = avformat_new_stream(m_format, nullptr);
    m_packet = av_packet_alloc();
    if (withAudio) {
        m_audioStream = avformat_new_stream(m_format, nullptr);
        m_audioCodec = avcodec_alloc_context3(audioCodec);
        m_audioFrame = av_frame_alloc();
    }
    if (!m_videoStream || !m_packet || (withAudio && (!m_audioStream || !m_audioCodec || !m_audioFrame))) {
        release();
        return fail("Out of memory", 0);
    }

    AVRational aspect { 1, 1 };
    if (video.aspect > 0.0f)
        aspect = av_div_q(av_d2q(double(video.aspect), 10000), AVRational { video.width, video.height });
    if (video.compressed) {
        AVCodecParameters* par = m_videoStream->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_SPEEDHQ;
        par->codec_tag = MKTAG('S', 'H', 'Q', '2'); // tells decoders the packets are 4:2:2
        par->format = AV_PIX_FMT_YUV422P;
        par->width = video.width;
        par->height = video.height;
        par->sample_aspect_ratio = aspect;
    } else {
        if (!openVideoEncoder(codecName, aspect))
            return false;
        avcodec_parameters_from_context(m_videoStream->codecpar, m_videoCodec);
    }
    m_videoStream->time_base = AVRational { video.frameRateD, video.frameRateN };
    m_videoStream->avg_frame_rate = AVRational { video.frameRateN, video.frameRateD };
    m_videoStream->sample_aspect_ratio = aspect;
    if (!video.timecode.empty())
        av_dict_set(&m_videoStream->metadata, "timecode", video.timecode.c_str(), 0);

    if (withAudio) {
        m_audioCodec->sample_fmt = AV_SAMPLE_FMT_FLT;
        m_audioCodec->sample_rate = audio.sampleRate;
        av_channel_layout_default(&m_audioCodec->ch_layout, audio.channels);
        m_audioCodec->time_base = AVRational { 1, audio.sampleRate };
        rc = avcodec_open2(m_audioCodec, audioCodec, nullptr);
        if (rc < 0) {
            release();
            return fail("Cannot open the audio encoder", rc);
        }
        avcodec_parameters_from_context(m_audioStream->codecpar, m_audioCodec);
        m_audioStream->time_base = m_audioCodec->time_base;
    }

    rc = avio_open(&m_format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        release();
        return fail("Cannot open " + path, rc);
    }

    AVDictionary* options = nullptr;
    // An index at the start and a fragment about every second: a killed recording keeps all but
    // its last second.
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    rc = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        release();
        return fail("Cannot write to " + path, rc);
    }
    m_headerWritten = true;
    return true;
}

bool MovWriter::openVideoEncoder(const char* codecName, AVRational aspect)
{
    const AVCodec* videoCodec = avcodec_find_encoder_by_name(codecName);
    m_videoCodec = videoCodec ? avcodec_alloc_context3(videoCodec) : nullptr;
    m_videoFrame = av_frame_alloc();
    if (!videoCodec || !m_videoCodec || !m_videoFrame) {
        release();
        return fail(std::string("Encoder not available: ") + codecName, 0);
    }
    m_videoCodec->width = m_video.width;
    m_videoCodec->height = m_video.height;
    m_videoCodec->pix_fmt = codecPixelFormat(videoCodec);
    m_videoCodec->time_base = AVRational { m_video.frameRateD, m_video.frameRateN };
    m_videoCodec->framerate = AVRational { m_video.frameRateN, m_video.frameRateD };
    m_videoCodec->gop_size = 1;
    m_videoCodec->sample_aspect_ratio = aspect;
    // Limited-range 4:2:2 is what the source delivers; some intra codecs call that unofficial.
    m_videoCodec->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_videoCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(m_videoCodec, videoCodec, nullptr);
    if (rc >= 0) {
        m_videoFrame->format = m_videoCodec->pix_fmt;
        m_videoFrame->width = m_video.width;
        m_videoFrame->height = m_video.height;
        rc = av_frame_get_buffer(m_videoFrame, 0);
    }
    if (rc < 0) {
        release();
        return fail("Cannot open the video encoder", rc);
    }
    return true;
}

bool MovWriter::nextPts(int64_t* pts)
{
    if (*pts < 0)
        *pts = m_lastPts + 1;
    if (*pts <= m_lastPts)
        return fail("Video frames out of order", 0);
    m_lastPts = *pts;
    return true;
}

bool MovWriter::writePackets(AVCodecContext* codec, AVStream* stream)
{
    for (;;) {
        int rc = avcodec_receive_packet(codec, m_packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return fail("Encoding failed", rc);
        av_packet_rescale_ts(m_packet, codec->time_base, stream->time_base);
        m_packet->stream_index = stream->index;
        rc = av_interleaved_write_frame(m_format, m_packet);
        if (rc < 0)
            return fail("Cannot write to " + m_path, rc);
        if (m_format->pb && m_format->pb->error < 0)
            return fail("Cannot write to " + m_path, m_format->pb->error);
    }
}

bool MovWriter::writeVideo(const uint8_t* data, int stride, int width, int height, PixelLayout layout, int64_t pts)
{
    if (!m_format || !m_videoCodec)
        return fail("No file open for pictures", 0);
    if (width <= 0 || height <= 0 || !data)
        return fail("Empty video frame", 0);
    if (!m_scaler || width != m_scalerWidth || height != m_scalerHeight || int(layout) != m_scalerLayout) {
        sws_freeContext(m_scaler);
        m_scaler = sws_getContext(width, height, sourcePixelFormat(layout), m_video.width, m_video.height,
            m_videoCodec->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
        m_scalerWidth = width;
        m_scalerHeight = height;
        m_scalerLayout = int(layout);
        if (!m_scaler)
            return fail("Cannot convert the picture", 0);
    }
    int rc = av_frame_make_writable(m_videoFrame);
    if (rc < 0)
        return fail("Out of memory", rc);
    const uint8_t* planes[4] = { data, nullptr, nullptr, nullptr };
    const int strides[4] = { stride, 0, 0, 0 };
    sws_scale(m_scaler, planes, strides, 0, height, m_videoFrame->data, m_videoFrame->linesize);
    if (!nextPts(&pts))
        return false;
    m_videoFrame->pts = pts;
    rc = avcodec_send_frame(m_videoCodec, m_videoFrame);
    if (rc < 0)
        return fail("Encoding failed", rc);
    ++m_videoFrames;
    return writePackets(m_videoCodec, m_videoStream);
}

bool MovWriter::writeVideoPacket(const uint8_t* data, size_t size, int64_t pts)
{
    if (!m_format || m_videoCodec)
        return fail("No file open for SpeedHQ packets", 0);
    if (!data || size == 0 || size > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
        return fail("Empty video frame", 0);
    if (!nextPts(&pts))
        return false;
    int rc = av_new_packet(m_packet, int(size));
    if (rc < 0)
        return fail("Out of memory", rc);
    std::memcpy(m_packet->data, data, size);
    m_packet->pts = m_packet->dts = pts;
    m_packet->duration = 1;
    m_packet->flags |= AV_PKT_FLAG_KEY;
    // The muxer picks its own time base for the track.
    av_packet_rescale_ts(m_packet, AVRational { m_video.frameRateD, m_video.frameRateN }, m_videoStream->time_base);
    m_packet->stream_index = m_videoStream->index;
    ++m_videoFrames;
    rc = av_interleaved_write_frame(m_format, m_packet);
    if (rc < 0)
        return fail("Cannot write to " + m_path, rc);
    if (m_format->pb && m_format->pb->error < 0)
        return fail("Cannot write to " + m_path, m_format->pb->error);
    return true;
}

bool MovWriter::writeAudio(const float* planar, int channelStride, int channels, int samples)
{
    if (!m_format)
        return fail("No file open", 0);
    if (!m_audioStream)
        return fail("The file has no audio", 0);
    if (samples <= 0)
        return true;
    m_audioFrame->nb_samples = samples;
    m_audioFrame->format = AV_SAMPLE_FMT_FLT;
    m_audioFrame->sample_rate = m_audio.sampleRate;
    av_channel_layout_uninit(&m_audioFrame->ch_layout);
    av_channel_layout_copy(&m_audioFrame->ch_layout, &m_audioCodec->ch_layout);
    int rc = av_frame_get_buffer(m_audioFrame, 0);
    if (rc < 0)
        return fail("Out of memory", rc);
    // Interleave; channels the file has but the source lacks stay silent.
    auto* out = reinterpret_cast<float*>(m_audioFrame->data[0]);
    const int fileChannels = m_audio.channels;
    for (int s = 0; s < samples; ++s) {
        for (int c = 0; c < fileChannels; ++c)
            out[s * fileChannels + c] = c < channels ? planar[c * channelStride + s] : 0.0f;
    }
    m_audioFrame->pts = m_audioSamples;
    rc = avcodec_send_frame(m_audioCodec, m_audioFrame);
    av_frame_unref(m_audioFrame);
    if (rc < 0)
        return fail("Encoding failed", rc);
    m_audioSamples += samples;
    return writePackets(m_audioCodec, m_audioStream);
}

bool MovWriter::close()
{
    if (!m_format)
        return true;
    bool ok = true;
    if (m_headerWritten) {
        if (m_videoCodec) {
            avcodec_send_frame(m_videoCodec, nullptr);
            ok = writePackets(m_videoCodec, m_videoStream) && ok;
        }
        if (m_audioCodec) {
            avcodec_send_frame(m_audioCodec, nullptr);
            ok = writePackets(m_audioCodec, m_audioStream) && ok;
        }
        const int rc = av_write_trailer(m_format);
        if (rc < 0 && ok)
            ok = fail("Cannot finish " + m_path, rc);
    }
    if (m_format->pb) {
        const int rc = avio_closep(&m_format->pb);
        if (rc < 0 && ok)
            ok = fail("Cannot finish " + m_path, rc);
    }
    release();
    return ok;
}

void MovWriter::release()
{
    if (m_format) {
        if (m_format->pb)
            avio_closep(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    m_videoStream = nullptr;
    m_audioStream = nullptr;
    avcodec_free_context(&m_videoCodec);
    avcodec_free_context(&m_audioCodec);
    av_frame_free(&m_videoFrame);
    av_frame_free(&m_audioFrame);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_scalerLayout = -1;
    m_headerWritten = false;
}
