#include "ndi/ndireceiver.h"

#include "ndi/defaultsamplerate.h"
#include "ndi/ndifind.h"
#include "ndi/receiverdisposal.h"
#include "ndi/xmlelementreader.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <mutex>
#include <thread>

namespace
{

// Beyond this a pull is a caller's mistake, not a sound-device period; it gets no buffer.
constexpr qint64 maxAudioSamples = 1 << 24;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

NDIReceiver::NDIReceiver(bool lowBandwidth, bool useFrameSync)
    : m_lowBandwidth(lowBandwidth)
    , m_useFrameSync(useFrameSync)
{
    if (!NDIlib_initialize())
        qDebug() << "Cannot run NDI.";
    NDIlib_recv_create_v3_t settings;
    settings.source_to_connect_to.p_ndi_name = nullptr;
    settings.source_to_connect_to.p_url_address = nullptr;
    settings.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    settings.bandwidth = m_lowBandwidth ? NDIlib_recv_bandwidth_lowest : NDIlib_recv_bandwidth_highest;
    settings.allow_video_fields = false;
    settings.p_ndi_recv_name = nullptr;
    m_receiver = NDIlib_recv_create_v3(&settings);
    if (m_useFrameSync && m_receiver)
        m_frameSync = NDIlib_framesync_create(m_receiver);
}

NDIReceiver::~NDIReceiver() = default;

std::shared_ptr<NDIReceiver> NDIReceiver::create(bool lowBandwidth, bool useFrameSync, ReceiverDisposal* disposal)
{
    if (!disposal)
        disposal = ReceiverDisposal::instance();
    return std::shared_ptr<NDIReceiver>(new NDIReceiver(lowBandwidth, useFrameSync),
        [disposal](NDIReceiver* receiver) { disposal->dispose(receiver); });
}

void NDIReceiver::stopCapture()
{
    const std::lock_guard<std::mutex> lock(m_captureMutex);
    if (!m_capture.joinable())
        return;
    m_stop.store(true);
    m_capture.join();
    m_stop.store(false);
}

void NDIReceiver::connectToSource(const QString& name)
{
    stopCapture();
    // The description is our own copy, so the discovery thread may renew its list meanwhile.
    const std::map<QString, NDISourceDescription> sources = NDIFind::instance()->currentSources();
    NDISourceDescription description;
    const auto it = sources.find(name);
    if (it != sources.end()) {
        description = it->second;
    } else {
        description.name = name.toUtf8();
    }
    const NDIlib_source_t source = description.source();
    m_newPictureMs = -1;
    m_boundMs = steadyMs();
    NDIlib_recv_connect(m_receiver, &source);
    {
        const std::lock_guard<std::mutex> lock(m_captureMutex);
        m_capture = std::thread([this] { captureLoop(); });
    }
    Q_EMIT connected(QString::fromUtf8(description.name));
}

void NDIReceiver::disconnectFromSource()
{
    stopCapture();
    m_boundMs = -1;
    m_newPictureMs = -1;
    NDIlib_recv_connect(m_receiver, nullptr);
}

void NDIReceiver::takeDown()
{
    stopCapture();
    m_boundMs = -1;
    m_newPictureMs = -1;
    NDIlib_recv_connect(m_receiver, nullptr);
    // Frames still held go back before their synchroniser goes.
    while (!m_heldFrames.empty()) {
        NDIlib_framesync_free_video(m_frameSync, &m_heldFrames.front().frame);
        m_heldFrames.pop_front();
    }
    if (m_frameSync)
        NDIlib_framesync_destroy(m_frameSync);
    m_frameSync = nullptr;
    NDIlib_recv_destroy(m_receiver);
    m_receiver = nullptr;
}

void NDIReceiver::captureLoop()
{
    while (!m_stop.load()) {
        NDIlib_metadata_frame_t metadata;
        const NDIlib_frame_type_e type = NDIlib_recv_capture_v2(m_receiver, nullptr, nullptr, &metadata, 100);
        if (type != NDIlib_frame_type_metadata)
            continue;
        const QByteArray text = metadata.p_data ? QByteArray(metadata.p_data) : QByteArray();
        NDIlib_recv_free_metadata(m_receiver, &metadata);
        const XmlElementInfo element = readXmlElement(text);
        if (element.name == QLatin1String("ndi_tally_echo"))
            Q_EMIT tallyUpdated(element.onProgram ? 2 : element.onPreview ? 1 : 0);
    }
}

VideoFrameInfo NDIReceiver::videoFrame()
{
    if (!m_frameSync)
        return VideoFrameInfo();
    if (!m_heldFrames.empty()) {
        NDIlib_framesync_free_video(m_frameSync, &m_heldFrames.front().frame);
        m_heldFrames.pop_front();
    }
    HeldFrame held;
    NDIlib_framesync_capture_video(m_frameSync, &held.frame, NDIlib_frame_format_type_progressive);
    const NDIlib_video_frame_v2_t& frame = held.frame;
    held.info.width = frame.xres;
    held.info.height = frame.yres;
    if (frame.picture_aspect_ratio > 0.0f)
        held.info.aspectRatio = frame.picture_aspect_ratio;
    else if (frame.xres > 0 && frame.yres > 0)
        held.info.aspectRatio = static_cast<float>(frame.xres) / static_cast<float>(frame.yres);
    // else: no frame yet; 0/0 would make the aspect ratio NaN, so the default 1.0 stays.
    held.info.pixelFormat = frame.FourCC == NDIlib_FourCC_video_type_UYVY ? 2 : 0;
    held.info.data = frame.p_data;
    // A synchroniser hands out its newest frame again until another arrives, time stamp and all.
    held.info.serial
        = frame.timestamp != NDIlib_recv_timestamp_undefined && frame.timestamp != 0 ? frame.timestamp : frame.timecode;
    if (frame.frame_rate_N > 0 && frame.frame_rate_D > 0)
        held.info.frameRate = double(frame.frame_rate_N) / double(frame.frame_rate_D);
    m_heldFrames.push_back(held);
    if (held.info.data && (held.info.serial != m_lastSerial || held.info.serial == 0)) {
        m_lastSerial = held.info.serial;
        const qint64 now = steadyMs();
        m_newPictureMs = now;
        m_width = held.info.width;
        m_height = held.info.height;
        m_milliFps = int(std::lround(held.info.frameRate * 1000.0));
        if (now - m_lastSnapshotMs >= 250) {
            m_lastSnapshotMs = now;
            m_snapshots.publish(held.info);
        }
    }
    return held.info;
}

bool NDIReceiver::snapshot(PictureSnapshot& out) const
{
    return m_snapshots.take(out);
}

PictureFormat NDIReceiver::pictureFormat() const
{
    PictureFormat format;
    format.width = m_width;
    format.height = m_height;
    format.frameRate = m_milliFps / 1000.0;
    const qint64 now = steadyMs();
    const qint64 fresh = m_newPictureMs;
    const qint64 bound = m_boundMs;
    format.msSinceNewPicture = fresh < 0 ? -1 : now - fresh;
    format.msSinceBound = bound < 0 ? -1 : now - bound;
    return format;
}

int NDIReceiver::level(float peak)
{
    // Also false for NaN. log10(0) is -infinity, whose conversion to int would be undefined.
    if (!(peak > 0.0f))
        return silenceLevel;
    const float steps = std::trunc(-25.0f * std::log10(peak));
    // Infinite peaks give -infinity steps: clamp before converting, in double to keep 74 - steps exact.
    const double value = 74.0 - static_cast<double>(steps);
    if (!(value < static_cast<double>(INT_MAX)))
        return INT_MAX;
    if (value < static_cast<double>(silenceLevel))
        return silenceLevel;
    return static_cast<int>(value);
}

const float* NDIReceiver::readAudio(qint64 samples, bool levelsOnly, AudioLevels& levels)
{
    levels = { silenceLevel, silenceLevel };
    if (samples < 0)
        samples = 0;
    if (samples > maxAudioSamples || !m_frameSync)
        return nullptr;

    NDIlib_audio_frame_v2_t frame;
    NDIlib_framesync_capture_audio(m_frameSync, &frame, defaultSampleRate(), 2, static_cast<int>(samples));
    const int count = frame.p_data ? std::min<int>(frame.no_samples, static_cast<int>(samples)) : 0;
    if (samples > 0) {
        const int stride = frame.channel_stride_in_bytes / static_cast<int>(sizeof(float));
        float peaks[2] = { 0.0f, 0.0f };
        for (int c = 0; c < 2 && c < frame.no_channels; ++c) {
            const float* channel = frame.p_data + static_cast<ptrdiff_t>(c) * stride;
            float peak = 0.0f;
            for (int i = 0; i < count; ++i) {
                if (channel[i] > peak)
                    peak = channel[i];
            }
            peaks[c] = peak;
        }
        levels = { level(peaks[0]), level(peaks[1]) };
    }
    if (levelsOnly) {
        NDIlib_framesync_free_audio(m_frameSync, &frame);
        return nullptr;
    }

    // At least one element, so an empty pull still gets a buffer. Reused from pull to pull: it
    // grows to the largest pull once, and the audio thread never allocates after that.
    const size_t values = size_t(std::max<qint64>(1, samples * 2));
    if (m_audioBuffer.size() < values)
        m_audioBuffer.resize(values);
    float* buffer = m_audioBuffer.data();
    std::fill(buffer, buffer + values, 0.0f);
    if (count == samples && frame.no_channels == 2) {
        NDIlib_audio_frame_interleaved_32f_t interleaved;
        interleaved.sample_rate = frame.sample_rate;
        interleaved.no_channels = 2;
        interleaved.no_samples = frame.no_samples;
        interleaved.timecode = NDIlib_send_timecode_synthesize;
        interleaved.p_data = buffer;
        NDIlib_util_audio_to_interleaved_32f_v2(&frame, &interleaved);
    }
    // else the runtime gave less than asked for: the zeroed buffer is silence, never a short read.
    NDIlib_framesync_free_audio(m_frameSync, &frame);
    return buffer;
}
