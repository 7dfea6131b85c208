// The simulated NDI runtime: the C interface of Processing.NDI.Lib.h over the simulated network.

#include "Processing.NDI.Lib.h"
#include "ndisim_compressed.h"

#include "simclock.h"
#include "simnetwork.h"

#include <QByteArray>

#include <set>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace ndisim;

namespace
{

constexpr int64_t tallyRepeatNs = 500 * 1000000LL;
constexpr int64_t pollNs = 50 * 1000000LL; // how often a waiting call looks at the network again

uint32_t deliveredFourcc(NDIlib_recv_color_format_e format, bool alpha)
{
    switch (format) {
    case NDIlib_recv_color_format_BGRX_BGRA:
        return alpha ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_BGRX;
    case NDIlib_recv_color_format_RGBX_RGBA:
        return alpha ? NDIlib_FourCC_video_type_RGBA : NDIlib_FourCC_video_type_RGBX;
    case NDIlib_recv_color_format_UYVY_RGBA:
        return alpha ? NDIlib_FourCC_video_type_RGBA : NDIlib_FourCC_video_type_UYVY;
    default: return alpha ? NDIlib_FourCC_video_type_BGRA : NDIlib_FourCC_video_type_UYVY;
    }
}

char* copyText(const std::string& text)
{
    char* out = new char[text.size() + 1];
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// Video buffers handed out and not yet given back, by data pointer (the same cached buffer may be
// out several times).
class HandedFrames
{
public:
    void add(const FrameHandle& frame) { m_frames.emplace(frame->data.get(), frame); }
    void give(const uint8_t* data)
    {
        const auto it = m_frames.find(data);
        if (it == m_frames.end())
            return;
        Picture::release(it->second);
        m_frames.erase(it);
    }
    ~HandedFrames()
    {
        for (const auto& entry : m_frames)
            Picture::release(entry.second);
    }

private:
    std::multimap<const uint8_t*, FrameHandle> m_frames;
};

struct Connection {
    std::shared_ptr<Source> source; // null: not connected, or the source is not on the network
    uint64_t serial = 0; // changes with every connect call
    NDIlib_recv_color_format_e colorFormat = NDIlib_recv_color_format_UYVY_BGRA;
    NDIlib_recv_bandwidth_e bandwidth = NDIlib_recv_bandwidth_highest;
};

void fillVideoFrame(
    NDIlib_video_frame_v2_t* out, const Source& source, const Picture& picture, const Frame& frame, int64_t index)
{
    const VideoConfig& video = *source.config().video;
    *out = NDIlib_video_frame_v2_t();
    out->xres = picture.spec().width;
    out->yres = picture.spec().height;
    out->FourCC = static_cast<NDIlib_FourCC_video_type_e>(picture.spec().fourcc);
    out->frame_rate_N = video.rateN;
    out->frame_rate_D = video.rateD;
    out->picture_aspect_ratio = video.aspect;
    out->frame_format_type = NDIlib_frame_format_type_progressive;
    out->timecode = source.frameTimeNs(index) / 100;
    out->p_data = frame.data.get();
    out->line_stride_in_bytes = picture.stride();
    out->p_metadata = nullptr;
    out->timestamp = out->timecode;
}

// The picture a receiver gets from a source: reduced at the lowest bandwidth, none when it asked
// for audio or metadata only.
std::shared_ptr<Picture> pictureFor(const Connection& connection)
{
    if (!connection.source || !connection.source->config().video)
        return nullptr;
    if (connection.bandwidth == NDIlib_recv_bandwidth_metadata_only
        || connection.bandwidth == NDIlib_recv_bandwidth_audio_only)
        return nullptr;
    const VideoConfig& video = *connection.source->config().video;
    int width = video.width, height = video.height;
    if (connection.bandwidth == NDIlib_recv_bandwidth_lowest)
        Source::reducedSize(video.width, video.height, width, height);
    return connection.source->picture(width, height, deliveredFourcc(connection.colorFormat, video.alpha));
}

// The packets a receiver gets from a source, when it asked for them and the source sends them.
std::shared_ptr<EncodedPicture> encodedFor(const Connection& connection)
{
    if (!connection.source || connection.bandwidth != NDIlib_recv_bandwidth_highest
        || int(connection.colorFormat) != NDIsim_recv_color_format_compressed)
        return nullptr;
    return connection.source->encoded();
}

uint8_t* fillCompressedFrame(
    NDIlib_video_frame_v2_t* out, const Source& source, const EncodedPicture& encoded, int64_t index)
{
    const VideoConfig& video = *source.config().video;
    const auto [packet, size] = encoded.packet(index);
    NDIsim_compressed_packet_t header {};
    header.version = NDIsim_compressed_packet_version;
    header.fourcc = NDIsim_FourCC_SHQ2;
    header.pts = header.dts = source.frameTimeNs(index) / 100;
    header.flags = NDIsim_compressed_flag_keyframe;
    header.data_size = static_cast<uint32_t>(size);
    auto* data = new uint8_t[sizeof header + size];
    std::memcpy(data, &header, sizeof header);
    std::memcpy(data + sizeof header, packet, size);
    *out = NDIlib_video_frame_v2_t();
    out->xres = video.width;
    out->yres = video.height;
    out->FourCC = static_cast<NDIlib_FourCC_video_type_e>(NDIsim_FourCC_SHQ2);
    out->frame_rate_N = video.rateN;
    out->frame_rate_D = video.rateD;
    out->picture_aspect_ratio = video.aspect;
    out->frame_format_type = NDIlib_frame_format_type_progressive;
    out->timecode = header.pts;
    out->p_data = data;
    out->data_size_in_bytes = static_cast<int>(sizeof header + size);
    out->timestamp = out->timecode;
    return data;
}

bool hasAudio(const Connection& connection)
{
    return connection.source && connection.source->config().audio
        && connection.bandwidth != NDIlib_recv_bandwidth_metadata_only;
}

} // namespace

struct NDIlib_find_instance_type {
    std::mutex mutex;
    uint64_t seenGeneration = 0; // mutex
    std::vector<std::string> names, urls; // mutex; what list points into
    std::vector<NDIlib_source_t> list; // mutex
};

struct NDIlib_recv_instance_type {
    std::mutex mutex;
    std::condition_variable wake; // a connect call ends every wait
    std::string name; // mutex; empty: not connected
    std::string url; // mutex
    Connection connection; // mutex; connection.source is re-resolved by resolve()

    // recv_capture_v2's schedule, all under mutex.
    const Source* scheduled = nullptr;
    uint64_t scheduledSerial = 0;
    int64_t nextVideo = -1; // frame index
    int64_t nextAudio = -1; // first sample of the next block, at the source's rate
    int64_t nextTally = -1; // epoch ns
    std::deque<std::string> metadata;
    HandedFrames handed;
    std::set<uint8_t*> packets; // compressed frames handed out

    ~NDIlib_recv_instance_type()
    {
        for (uint8_t* packet : packets)
            delete[] packet;
    }

    // Looks the connected name up on the network now; call with mutex held.
    void resolve()
    {
        connection.source.reset();
        if (name.empty())
            return;
        const std::shared_ptr<const Snapshot> snapshot = Network::instance().current();
        for (const auto& source : snapshot->sources) {
            if (source->config().name != name)
                continue;
            if (!connection.source || source->config().url.value_or(std::string()) == url)
                connection.source = source;
        }
    }

    Connection currentConnection()
    {
        std::lock_guard<std::mutex> lock(mutex);
        resolve();
        return connection;
    }
};

struct NDIlib_framesync_instance_type {
    NDIlib_recv_instance_t receiver = nullptr;

    std::mutex videoMutex;
    HandedFrames handed; // videoMutex
    FrameHandle last; // videoMutex; shown again while the source is away
    uint64_t lastSerial = 0; // videoMutex
    std::shared_ptr<Picture> lastPicture; // videoMutex
    std::shared_ptr<Source> lastSource; // videoMutex
    int64_t lastIndex = 0; // videoMutex

    std::mutex audioMutex;
    int64_t audioPosition = -1; // audioMutex; next sample at audioRate
    int audioRate = 0; // audioMutex
    uint64_t audioSerial = 0; // audioMutex
};

// Library

bool NDIlib_initialize(void)
{
    // Lets tests see what the application does when the runtime refuses to start.
    return qEnvironmentVariableIntValue("NDI_SIM_INIT_FAIL") == 0;
}

void NDIlib_destroy(void) { }

const char* NDIlib_version(void)
{
    return "simulated NDI runtime 1.0";
}

// Finder

NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t*)
{
    return new NDIlib_find_instance_type;
}

void NDIlib_find_destroy(NDIlib_find_instance_t p_instance)
{
    delete p_instance;
}

bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms)
{
    if (!p_instance)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_in_ms);
    for (;;) {
        const uint64_t generation = Network::instance().current()->generation;
        {
            std::lock_guard<std::mutex> lock(p_instance->mutex);
            if (generation != p_instance->seenGeneration) {
                p_instance->seenGeneration = generation;
                return true;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::nanoseconds(pollNs)));
    }
}

const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance, uint32_t* p_no_sources)
{
    if (p_no_sources)
        *p_no_sources = 0;
    if (!p_instance)
        return nullptr;
    const std::shared_ptr<const Snapshot> snapshot = Network::instance().current();
    std::lock_guard<std::mutex> lock(p_instance->mutex);
    p_instance->seenGeneration = snapshot->generation;
    p_instance->names.clear();
    p_instance->urls.clear();
    p_instance->list.clear();
    p_instance->names.reserve(snapshot->sources.size());
    p_instance->urls.reserve(snapshot->sources.size());
    for (const auto& source : snapshot->sources) {
        p_instance->names.push_back(source->config().name);
        p_instance->urls.push_back(source->config().url.value_or(std::string()));
    }
    for (size_t i = 0; i < snapshot->sources.size(); ++i) {
        NDIlib_source_t entry;
        entry.p_ndi_name = p_instance->names[i].c_str();
        entry.p_url_address = snapshot->sources[i]->config().url ? p_instance->urls[i].c_str() : nullptr;
        p_instance->list.push_back(entry);
    }
    if (p_no_sources)
        *p_no_sources = static_cast<uint32_t>(p_instance->list.size());
    return p_instance->list.empty() ? nullptr : p_instance->list.data();
}

// Receiver

NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* p_create_settings)
{
    auto* receiver = new NDIlib_recv_instance_type;
    if (p_create_settings) {
        receiver->connection.colorFormat = p_create_settings->color_format;
        receiver->connection.bandwidth = p_create_settings->bandwidth;
        if (p_create_settings->source_to_connect_to.p_ndi_name)
            NDIlib_recv_connect(receiver, &p_create_settings->source_to_connect_to);
    }
    return receiver;
}

void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance)
{
    delete p_instance;
}

void NDIlib_recv_connect(NDIlib_recv_instance_t p_instance, const NDIlib_source_t* p_src)
{
    if (!p_instance)
        return;
    {
        std::lock_guard<std::mutex> lock(p_instance->mutex);
        p_instance->name = p_src && p_src->p_ndi_name ? p_src->p_ndi_name : "";
        p_instance->url = p_src && p_src->p_url_address ? p_src->p_url_address : "";
        ++p_instance->connection.serial;
        p_instance->metadata.clear();
        p_instance->resolve();
    }
    p_instance->wake.notify_all();
}

NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance, NDIlib_video_frame_v2_t* p_video_data,
    NDIlib_audio_frame_v2_t* p_audio_data, NDIlib_metadata_frame_t* p_metadata, uint32_t timeout_in_ms)
{
    if (!p_instance)
        return NDIlib_frame_type_none;
    NDIlib_recv_instance_type& r = *p_instance;
    const int64_t deadline = epochNs() + int64_t(timeout_in_ms) * 1000000;
    std::unique_lock<std::mutex> lock(r.mutex);
    const uint64_t serial = r.connection.serial;
    for (;;) {
        r.resolve();
        const int64_t now = epochNs();
        const Connection& c = r.connection;
        if (c.source.get() != r.scheduled || c.serial != r.scheduledSerial) {
            // A new connection, or the source came back or changed: start from now.
            r.scheduled = c.source.get();
            r.scheduledSerial = c.serial;
            r.nextVideo = r.nextAudio = r.nextTally = -1;
            r.metadata.clear();
        }

        int64_t videoDue = INT64_MAX, audioDue = INT64_MAX, metadataDue = INT64_MAX;
        std::shared_ptr<Picture> picture = p_video_data ? pictureFor(c) : nullptr;
        if (picture) {
            const int64_t current = c.source->frameIndexAt(now);
            // A receiver that falls behind by more than a few frames drops them, as a network would.
            if (r.nextVideo < 0 || r.nextVideo < current - 3)
                r.nextVideo = current;
            videoDue = c.source->frameTimeNs(r.nextVideo);
        }
        const AudioConfig* audio = p_audio_data && hasAudio(c) ? &*c.source->config().audio : nullptr;
        const int64_t block = audio ? std::max(1, audio->rate / 50) : 0;
        if (audio) {
            const int64_t current = mulDivFloor(now, audio->rate, nsPerSecond);
            if (r.nextAudio < 0 || r.nextAudio + block < current - audio->rate / 2)
                r.nextAudio = (current / block) * block - block;
            audioDue = mulDivCeil(r.nextAudio + block, nsPerSecond, audio->rate);
        }
        const bool sendsMetadata
            = c.source && (c.source->config().tally.present || !c.source->config().metadata.empty());
        if (p_metadata && sendsMetadata && c.bandwidth != NDIlib_recv_bandwidth_audio_only) {
            const SourceConfig& config = c.source->config();
            if (r.nextTally < 0)
                r.nextTally = now;
            if (r.nextTally <= now) {
                if (config.tally.present) {
                    const TallyState tally = c.source->tallyAt(now);
                    r.metadata.push_back(std::string("<ndi_tally_echo on_program=\"")
                        + (tally.program ? "true" : "false") + "\" on_preview=\"" + (tally.preview ? "true" : "false")
                        + "\"/>");
                }
                r.metadata.insert(r.metadata.end(), config.metadata.begin(), config.metadata.end());
                r.nextTally = std::min(now + tallyRepeatNs, c.source->nextTallyChange(now));
            }
            metadataDue = r.metadata.empty() ? r.nextTally : now;
        }

        const int64_t due = std::min({ videoDue, audioDue, metadataDue });
        if (due <= now) {
            if (due == metadataDue) {
                *p_metadata = NDIlib_metadata_frame_t();
                p_metadata->p_data = copyText(r.metadata.front());
                p_metadata->length = static_cast<int>(r.metadata.front().size() + 1);
                p_metadata->timecode = now / 100;
                r.metadata.pop_front();
                return NDIlib_frame_type_metadata;
            }
            if (due == videoDue) {
                if (const std::shared_ptr<EncodedPicture> encoded = encodedFor(c)) {
                    r.packets.insert(fillCompressedFrame(p_video_data, *c.source, *encoded, r.nextVideo));
                    ++r.nextVideo;
                    return NDIlib_frame_type_video;
                }
                const FrameHandle frame = picture->acquire(r.nextVideo);
                r.handed.add(frame);
                fillVideoFrame(p_video_data, *c.source, *picture, *frame, r.nextVideo);
                ++r.nextVideo;
                return NDIlib_frame_type_video;
            }
            const int channels = audio->channels;
            *p_audio_data = NDIlib_audio_frame_v2_t();
            p_audio_data->sample_rate = audio->rate;
            p_audio_data->no_channels = channels;
            p_audio_data->no_samples = static_cast<int>(block);
            p_audio_data->timecode = mulDivFloor(r.nextAudio, 10000000, audio->rate);
            p_audio_data->timestamp = p_audio_data->timecode;
            p_audio_data->channel_stride_in_bytes = static_cast<int>(block * sizeof(float));
            p_audio_data->p_data = new float[static_cast<size_t>(block * channels)];
            c.source->fillAudio(p_audio_data->p_data, channels, static_cast<int>(block), r.nextAudio, audio->rate,
                static_cast<int>(block));
            r.nextAudio += block;
            return NDIlib_frame_type_audio;
        }
        if (now >= deadline)
            return NDIlib_frame_type_none;
        const int64_t until = std::min({ due, deadline, now + pollNs });
        r.wake.wait_for(lock, std::chrono::nanoseconds(until - now));
        if (r.connection.serial != serial)
            return NDIlib_frame_type_status_change;
    }
}

void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance, const NDIlib_video_frame_v2_t* p_video_data)
{
    if (!p_instance || !p_video_data || !p_video_data->p_data)
        return;
    std::lock_guard<std::mutex> lock(p_instance->mutex);
    if (p_instance->packets.erase(p_video_data->p_data) > 0)
        delete[] p_video_data->p_data;
    else
        p_instance->handed.give(p_video_data->p_data);
}

void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t, const NDIlib_audio_frame_v2_t* p_audio_data)
{
    if (p_audio_data)
        delete[] p_audio_data->p_data;
}

void NDIlib_recv_free_metadata(NDIlib_recv_instance_t, const NDIlib_metadata_frame_t* p_metadata)
{
    if (p_metadata)
        delete[] p_metadata->p_data;
}

// Frame synchroniser

NDIlib_framesync_instance_t NDIlib_framesync_create(NDIlib_recv_instance_t p_receiver)
{
    if (!p_receiver)
        return nullptr;
    auto* sync = new NDIlib_framesync_instance_type;
    sync->receiver = p_receiver;
    return sync;
}

void NDIlib_framesync_destroy(NDIlib_framesync_instance_t p_instance)
{
    if (p_instance) {
        std::lock_guard<std::mutex> lock(p_instance->videoMutex);
        Picture::release(p_instance->last);
        p_instance->last.reset();
    }
    delete p_instance;
}

void NDIlib_framesync_capture_video(
    NDIlib_framesync_instance_t p_instance, NDIlib_video_frame_v2_t* p_video_data, NDIlib_frame_format_type_e)
{
    if (!p_video_data)
        return;
    *p_video_data = NDIlib_video_frame_v2_t();
    p_video_data->frame_format_type = NDIlib_frame_format_type_progressive;
    if (!p_instance)
        return;
    const Connection connection = p_instance->receiver->currentConnection();
    std::lock_guard<std::mutex> lock(p_instance->videoMutex);
    if (connection.serial != p_instance->lastSerial) {
        Picture::release(p_instance->last);
        p_instance->last.reset();
        p_instance->lastPicture.reset();
        p_instance->lastSource.reset();
        p_instance->lastSerial = connection.serial;
    }
    if (const std::shared_ptr<Picture> picture = pictureFor(connection)) {
        const int64_t index = connection.source->frameIndexAt(epochNs());
        const FrameHandle frame = picture->acquire(index);
        Picture::release(p_instance->last);
        p_instance->last = frame; // keeps the count acquire() gave it
        p_instance->lastPicture = picture;
        p_instance->lastSource = connection.source;
        p_instance->lastIndex = index;
    }
    // The newest frame; the last one again while the source is away, nothing before the first.
    if (!p_instance->last)
        return;
    p_instance->last->users.fetch_add(1, std::memory_order_relaxed);
    p_instance->handed.add(p_instance->last);
    fillVideoFrame(
        p_video_data, *p_instance->lastSource, *p_instance->lastPicture, *p_instance->last, p_instance->lastIndex);
}

void NDIlib_framesync_free_video(NDIlib_framesync_instance_t p_instance, NDIlib_video_frame_v2_t* p_video_data)
{
    if (!p_instance || !p_video_data || !p_video_data->p_data)
        return;
    std::lock_guard<std::mutex> lock(p_instance->videoMutex);
    p_instance->handed.give(p_video_data->p_data);
}

void NDIlib_framesync_capture_audio(NDIlib_framesync_instance_t p_instance, NDIlib_audio_frame_v2_t* p_audio_data,
    int sample_rate, int no_channels, int no_samples)
{
    if (!p_audio_data)
        return;
    *p_audio_data = NDIlib_audio_frame_v2_t();
    const Connection connection = p_instance ? p_instance->receiver->currentConnection() : Connection();
    const AudioConfig* audio = hasAudio(connection) ? &*connection.source->config().audio : nullptr;
    const int rate = sample_rate > 0 ? sample_rate : audio ? audio->rate : 48000;
    const int channels = no_channels > 0 ? no_channels : audio ? audio->channels : 2;
    const int samples = std::max(0, no_samples);
    p_audio_data->sample_rate = rate;
    p_audio_data->no_channels = channels;
    p_audio_data->no_samples = samples;
    p_audio_data->channel_stride_in_bytes = static_cast<int>(samples * sizeof(float));
    p_audio_data->timestamp = NDIlib_recv_timestamp_undefined;
    if (samples == 0)
        return;
    p_audio_data->p_data = new float[static_cast<size_t>(samples) * static_cast<size_t>(channels)];
    if (!p_instance) {
        std::fill(p_audio_data->p_data, p_audio_data->p_data + samples * channels, 0.0f);
        return;
    }

    std::lock_guard<std::mutex> lock(p_instance->audioMutex);
    // Consecutive pulls get consecutive samples; a pull far off the clock starts again from now.
    const int64_t current = mulDivFloor(epochNs(), rate, nsPerSecond);
    if (p_instance->audioPosition < 0 || rate != p_instance->audioRate || connection.serial != p_instance->audioSerial
        || std::llabs(p_instance->audioPosition + samples - current) > rate / 5) {
        p_instance->audioPosition = current - samples;
        p_instance->audioRate = rate;
        p_instance->audioSerial = connection.serial;
    }
    p_audio_data->timecode = mulDivFloor(p_instance->audioPosition, 10000000, rate);
    if (audio)
        connection.source->fillAudio(p_audio_data->p_data, channels, samples, p_instance->audioPosition, rate, samples);
    else
        std::fill(p_audio_data->p_data, p_audio_data->p_data + samples * channels, 0.0f);
    p_instance->audioPosition += samples;
}

void NDIlib_framesync_free_audio(NDIlib_framesync_instance_t, NDIlib_audio_frame_v2_t* p_audio_data)
{
    if (!p_audio_data)
        return;
    delete[] p_audio_data->p_data;
    p_audio_data->p_data = nullptr;
}

// Compressed receiving, our own extension

extern "C" __attribute__((visibility("default"))) int NDIsim_compressed_version(void)
{
    return NDIsim_compressed_packet_version;
}

// Utilities

void NDIlib_util_audio_to_interleaved_32f_v2(
    const NDIlib_audio_frame_v2_t* p_src, NDIlib_audio_frame_interleaved_32f_t* p_dst)
{
    if (!p_src || !p_dst)
        return;
    p_dst->sample_rate = p_src->sample_rate;
    p_dst->no_channels = p_src->no_channels;
    p_dst->no_samples = p_src->no_samples;
    p_dst->timecode = p_src->timecode;
    if (!p_dst->p_data || !p_src->p_data)
        return;
    const int channels = p_src->no_channels;
    const size_t stride = static_cast<size_t>(p_src->channel_stride_in_bytes) / sizeof(float);
    for (int c = 0; c < channels; ++c) {
        const float* in = p_src->p_data + c * stride;
        float* out = p_dst->p_data + c;
        for (int i = 0; i < p_src->no_samples; ++i, out += channels)
            *out = in[i];
    }
}
