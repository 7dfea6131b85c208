#include "sourcereceiver.h"

#include <Processing.NDI.Lib.h>
#include <ndisim_compressed.h>

#include <cstdio>
#include <cstring>

#include <dlfcn.h>

namespace
{

MovWriter::PixelLayout layoutOf(NDIlib_FourCC_video_type_e fourcc, bool* known)
{
    *known = true;
    switch (fourcc) {
    case NDIlib_FourCC_video_type_UYVY:
    case NDIlib_FourCC_video_type_UYVA: // the alpha plane after the picture is left out
        return MovWriter::PixelLayout::UYVY;
    case NDIlib_FourCC_video_type_BGRA: return MovWriter::PixelLayout::BGRA;
    case NDIlib_FourCC_video_type_BGRX: return MovWriter::PixelLayout::BGRX;
    case NDIlib_FourCC_video_type_RGBA: return MovWriter::PixelLayout::RGBA;
    case NDIlib_FourCC_video_type_RGBX: return MovWriter::PixelLayout::RGBX;
    default: *known = false; return MovWriter::PixelLayout::UYVY;
    }
}

// Whether the runtime we run on hands out frames as they travel.
bool runtimeSendsCompressed()
{
    const auto version
        = reinterpret_cast<NDIsim_compressed_version_fn>(::dlsym(RTLD_DEFAULT, NDIsim_compressed_version_name));
    return version && version() == NDIsim_compressed_packet_version;
}

// The SpeedHQ packet of a compressed frame; null when the frame is not one we can write.
const uint8_t* packetOf(const NDIlib_video_frame_v2_t& video, uint32_t* size)
{
    if (uint32_t(video.FourCC) != NDIsim_FourCC_SHQ2 || !video.p_data
        || video.data_size_in_bytes < int(sizeof(NDIsim_compressed_packet_t)))
        return nullptr;
    NDIsim_compressed_packet_t header;
    std::memcpy(&header, video.p_data, sizeof header);
    if (header.version != NDIsim_compressed_packet_version || header.fourcc != NDIsim_FourCC_SHQ2
        || header.data_size == 0 || header.data_size > uint32_t(video.data_size_in_bytes) - sizeof header)
        return nullptr;
    *size = header.data_size;
    return video.p_data + sizeof header;
}

// The source's send time where the runtime gives one, else its time code.
int64_t timeOf(int64_t timestamp, int64_t timecode)
{
    return timestamp != NDIlib_recv_timestamp_undefined && timestamp != 0 ? timestamp : timecode;
}

// More than two seconds of 1080p60, so a writer that falls behind notices before we drop.
constexpr size_t maxQueuedBytes = size_t(1) << 30;

} // namespace

SourceReceiver::SourceReceiver(
    std::string sourceName, std::string url, MediaQueue& queue, std::atomic<bool>& wantMedia, bool allowCompressed)
    : m_sourceName(std::move(sourceName))
    , m_url(std::move(url))
    , m_queue(queue)
    , m_wantMedia(wantMedia)
    , m_allowCompressed(allowCompressed)
{
}

SourceReceiver::~SourceReceiver()
{
    stop();
}

void SourceReceiver::start()
{
    m_stop = false;
    m_thread = std::thread(&SourceReceiver::run, this);
}

void SourceReceiver::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void SourceReceiver::run()
{
    using Clock = std::chrono::steady_clock;
    auto lastVideo = Clock::now();
    bool lost = false;
    auto checkSilence = [&] {
        if (!lost && Clock::now() - lastVideo > silenceLimit) {
            lost = true;
            m_queue.push(SourceState { true });
        }
    };

    if (!NDIlib_initialize()) {
        std::fprintf(stderr, "The NDI runtime cannot be initialised\n");
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            checkSilence();
        }
        return;
    }

    // With an address we connect at once; by name alone we wait until the finder sees the source.
    std::string name = m_sourceName;
    std::string url = m_url;
    if (url.empty()) {
        NDIlib_find_instance_t finder = NDIlib_find_create_v2(nullptr);
        bool found = false;
        while (!m_stop && !found && finder) {
            NDIlib_find_wait_for_sources(finder, 200);
            uint32_t count = 0;
            const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder, &count);
            for (uint32_t i = 0; i < count; ++i) {
                if (sources[i].p_ndi_name && m_sourceName == sources[i].p_ndi_name) {
                    url = sources[i].p_url_address ? sources[i].p_url_address : "";
                    found = true;
                }
            }
            checkSilence();
        }
        if (finder)
            NDIlib_find_destroy(finder);
        if (m_stop) {
            NDIlib_destroy();
            return;
        }
    }

    NDIlib_recv_create_v3_t settings {};
    settings.source_to_connect_to.p_ndi_name = name.c_str();
    settings.source_to_connect_to.p_url_address = url.empty() ? nullptr : url.c_str();
    const bool compressed = m_allowCompressed && runtimeSendsCompressed();
    settings.color_format = compressed ? NDIlib_recv_color_format_e(NDIsim_recv_color_format_compressed)
                                       : NDIlib_recv_color_format_UYVY_BGRA;
    settings.bandwidth = NDIlib_recv_bandwidth_highest;
    settings.allow_video_fields = false;
    settings.p_ndi_recv_name = "Stavelin recording";
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&settings);
    if (!receiver) {
        std::fprintf(stderr, "Cannot create an NDI receiver for %s\n", name.c_str());
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            checkSilence();
        }
        NDIlib_destroy();
        return;
    }

    while (!m_stop) {
        NDIlib_video_frame_v2_t video {};
        NDIlib_audio_frame_v2_t audio {};
        // No metadata wanted: a null pointer tells the runtime so.
        const NDIlib_frame_type_e type = NDIlib_recv_capture_v2(receiver, &video, &audio, nullptr, 100);
        if (type == NDIlib_frame_type_video) {
            bool known = false;
            const MovWriter::PixelLayout layout = layoutOf(video.FourCC, &known);
            uint32_t packetSize = 0;
            const uint8_t* packet = packetOf(video, &packetSize);
            if ((known || packet) && video.xres > 0 && video.yres > 0 && video.p_data) {
                lastVideo = Clock::now();
                if (lost) {
                    lost = false;
                    m_queue.push(SourceState { false });
                }
                VideoItem item;
                item.width = video.xres;
                item.height = video.yres;
                item.compressed = packet != nullptr;
                item.stride = packet                 ? 0
                    : video.line_stride_in_bytes > 0 ? video.line_stride_in_bytes
                                                     : video.xres * (layout == MovWriter::PixelLayout::UYVY ? 2 : 4);
                item.layout = layout;
                item.frameRateN = video.frame_rate_N > 0 ? video.frame_rate_N : 30000;
                item.frameRateD = video.frame_rate_D > 0 ? video.frame_rate_D : 1001;
                item.aspect = video.picture_aspect_ratio;
                item.timecode = video.timecode;
                item.time = timeOf(video.timestamp, video.timecode);
                // A writer that has stalled for seconds must not take all memory with it.
                if (m_wantMedia && m_queue.bytes() < maxQueuedBytes)
                    item.data.assign(packet ? packet : video.p_data,
                        packet ? packet + packetSize : video.p_data + size_t(item.stride) * size_t(item.height));
                m_queue.push(std::move(item));
            }
            NDIlib_recv_free_video_v2(receiver, &video);
        } else if (type == NDIlib_frame_type_audio) {
            if (audio.no_channels > 0 && audio.no_samples > 0 && audio.sample_rate > 0 && audio.p_data) {
                AudioItem item;
                item.sampleRate = audio.sample_rate;
                item.channels = audio.no_channels;
                item.samples = audio.no_samples;
                item.time = timeOf(audio.timestamp, audio.timecode);
                if (m_wantMedia && m_queue.bytes() < maxQueuedBytes) {
                    const int stride = audio.channel_stride_in_bytes > 0
                        ? audio.channel_stride_in_bytes / int(sizeof(float))
                        : audio.no_samples;
                    item.planar.resize(size_t(audio.no_channels) * size_t(audio.no_samples));
                    for (int c = 0; c < audio.no_channels; ++c)
                        std::memcpy(item.planar.data() + size_t(c) * size_t(audio.no_samples),
                            audio.p_data + size_t(c) * size_t(stride), sizeof(float) * size_t(audio.no_samples));
                }
                m_queue.push(std::move(item));
            }
            NDIlib_recv_free_audio_v2(receiver, &audio);
        }
        checkSilence();
    }
    NDIlib_recv_destroy(receiver);
    NDIlib_destroy();
}
