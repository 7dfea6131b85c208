#include "recordingsession.h"

#include "outputfile.h"

#include <cmath>
#include <cstdio>

namespace
{

std::string describe(const MovWriter::VideoFormat& video, const MovWriter::AudioFormat& audio)
{
    char text[128];
    std::snprintf(
        text, sizeof text, "%dx%d at %d/%d fps, ", video.width, video.height, video.frameRateN, video.frameRateD);
    return text
        + (audio.channels > 0
                ? std::to_string(audio.sampleRate) + " Hz, " + std::to_string(audio.channels) + " channels"
                : std::string("no audio"));
}

} // namespace

RecordingSession::RecordingSession(Settings settings, ReportWriter& reports, std::atomic<bool>& wantMedia)
    : m_settings(std::move(settings))
    , m_reports(reports)
    , m_wantMedia(wantMedia)
{
    setRequested(m_settings.autostart);
}

RecordingSession::~RecordingSession()
{
    closeFiles();
}

void RecordingSession::setRequested(bool requested)
{
    m_requested = requested;
    m_wantMedia = requested;
    m_waitingForAudio = false;
}

void RecordingSession::run(MediaQueue& queue)
{
    while (!m_quit) {
        MediaQueue::Item item;
        if (queue.pop(&item, m_settings.reportInterval))
            handle(item, queue);
        reportProgress(false);
    }
    finish();
}

void RecordingSession::handle(MediaQueue::Item& item, MediaQueue& queue)
{
    const bool media
        = std::holds_alternative<VideoItem>(item.payload) || std::holds_alternative<AudioItem>(item.payload);
    if (media && m_writer && MediaQueue::Clock::now() - item.arrival > m_settings.delayLimit) {
        // Writing cannot keep up: drop the backlog rather than fall further behind real time.
        const int dropped = queue.dropMedia() + (std::holds_alternative<VideoItem>(item.payload) ? 1 : 0);
        m_reports.line("<record_delayed message=\"Something delayed everything.\" dropped_frames=\""
            + std::to_string(dropped) + "\"/>");
        return;
    }
    if (auto* video = std::get_if<VideoItem>(&item.payload))
        handleVideo(*video);
    else if (auto* audio = std::get_if<AudioItem>(&item.payload))
        handleAudio(*audio);
    else if (auto* command = std::get_if<RecorderCommand>(&item.payload))
        handleCommand(*command);
    else if (auto* state = std::get_if<SourceState>(&item.payload))
        handleSourceState(*state);
    else
        m_quit = true;
}

void RecordingSession::handleVideo(const VideoItem& video)
{
    m_haveVideo = true;
    m_videoFormat.width = video.width;
    m_videoFormat.height = video.height;
    m_videoFormat.frameRateN = video.frameRateN;
    m_videoFormat.frameRateD = video.frameRateD;
    m_videoFormat.aspect = video.aspect;
    m_videoFormat.compressed = video.compressed;
    if (video.data.empty())
        return;
    m_timecodeOffset = video.timecode - video.time;
    if (m_writer) {
        const MovWriter::VideoFormat& file = m_writer->videoFormat();
        if (file.width != video.width || file.height != video.height || file.compressed != video.compressed
            || int64_t(file.frameRateN) * video.frameRateD != int64_t(video.frameRateN) * file.frameRateD)
            changeFormat(video.time);
    } else if (m_requested && audioWaitOver()) {
        openFiles(m_settings.outputPath, video.time);
    }
    if (!m_writer)
        return;
    if (m_settings.writeEvery > 1 && m_receivedFrames++ % m_settings.writeEvery != 0)
        return;
    const int64_t slot = m_timeline.videoSlot(video.time);
    const bool written = video.compressed
        ? m_writer->writeVideoPacket(video.data.data(), video.data.size(), slot)
        : m_writer->writeVideo(video.data.data(), video.stride, video.width, video.height, video.layout, slot);
    if (!written) {
        failRecording(m_writer->error());
        return;
    }
    ++m_totalFrames;
    if (m_previewWriter && !video.compressed
        && !m_previewWriter->writeVideo(
            video.data.data(), video.stride, video.width, video.height, video.layout, slot)) {
        reportError("Preview: " + m_previewWriter->error());
        m_previewWriter.reset();
    }
}

void RecordingSession::handleAudio(const AudioItem& audio)
{
    m_haveAudio = true;
    m_audioFormat.sampleRate = audio.sampleRate;
    m_audioFormat.channels = audio.channels;
    if (!m_writer || audio.planar.empty())
        return;
    if (!m_writer->hasAudio() || m_writer->audioFormat().sampleRate != audio.sampleRate) {
        changeFormat(m_timeline.timeOfSlot(m_timeline.slotsCovered()));
        if (!m_writer)
            return;
    }
    m_gained.resize(audio.planar.size());
    const float gain = float(m_gain);
    for (size_t i = 0; i < audio.planar.size(); ++i) {
        const float value = audio.planar[i] * gain;
        m_gained[i] = value;
        m_peak = std::max(m_peak, std::fabs(value));
    }
    // Sound goes where the source's clock puts it: silence for what was lost, overlaps left out.
    const int64_t written = m_writer->audioSamples();
    const int64_t position = m_timeline.audioPosition(audio.time, audio.sampleRate, written, audio.samples);
    const int64_t tolerance = audio.sampleRate / 200;
    int64_t skip = 0;
    if (position > written + tolerance)
        writeSilence(position - written, audio.channels);
    else if (position < written - tolerance)
        skip = std::min<int64_t>(audio.samples, written - position);
    if (m_writer && skip < audio.samples)
        writeAudio(m_gained.data() + skip, audio.samples, audio.channels, int(audio.samples - skip));
}

bool RecordingSession::writeAudio(const float* planar, int channelStride, int channels, int samples)
{
    if (!m_writer->writeAudio(planar, channelStride, channels, samples)) {
        failRecording(m_writer->error());
        return false;
    }
    if (m_previewWriter && !m_previewWriter->writeAudio(planar, channelStride, channels, samples)) {
        reportError("Preview: " + m_previewWriter->error());
        m_previewWriter.reset();
    }
    return true;
}

void RecordingSession::writeSilence(int64_t samples, int channels)
{
    constexpr int64_t chunk = 4800;
    const std::vector<float> silence(size_t(chunk * channels), 0.0f);
    while (samples > 0 && m_writer) {
        const int count = int(std::min(chunk, samples));
        if (!writeAudio(silence.data(), int(chunk), channels, count))
            return;
        samples -= count;
    }
}

void RecordingSession::handleCommand(const RecorderCommand& command)
{
    switch (command.kind) {
    case RecorderCommand::Kind::Start:
        if (!m_requested) {
            setRequested(true);
            if (m_sourceLost)
                reportError("Source " + m_settings.sourceName + " sends no video");
        }
        break;
    case RecorderCommand::Kind::Quit: m_quit = true; break;
    case RecorderCommand::Kind::Level:
        m_gain = std::pow(10.0, command.gain / 20.0);
        std::fprintf(stderr, "Record level %g dB\n", command.gain);
        break;
    case RecorderCommand::Kind::Chop: {
        if (!m_writer) {
            if (!command.filename.empty())
                m_settings.outputPath = command.filename;
            break;
        }
        startNextPiece(command.filename.empty() ? m_currentPath : command.filename,
            m_timeline.timeOfSlot(m_timeline.slotsCovered()), nullptr);
        break;
    }
    case RecorderCommand::Kind::Unknown: std::fprintf(stderr, "Ignored command: %s\n", command.name.c_str()); break;
    case RecorderCommand::Kind::None: break;
    }
}

void RecordingSession::handleSourceState(const SourceState& state)
{
    m_sourceLost = state.lost;
    if (state.lost && m_requested)
        reportError("Source " + m_settings.sourceName + " sends no video");
}

// Writing waits for the source's first audio as well, so the file has both streams; but not for
// ever, as some sources send none.
bool RecordingSession::audioWaitOver()
{
    if (m_haveAudio)
        return true;
    const auto now = MediaQueue::Clock::now();
    if (!m_waitingForAudio) {
        m_waitingForAudio = true;
        m_audioWaitStart = now;
    }
    return now - m_audioWaitStart >= m_settings.audioWait;
}

// A file keeps one format: another rate or size would play at the wrong speed or scaled.
void RecordingSession::changeFormat(int64_t origin)
{
    const MovWriter::AudioFormat now { m_audioFormat.sampleRate, m_haveAudio ? m_audioFormat.channels : 0 };
    const MovWriter::VideoFormat video { m_videoFormat.width, m_videoFormat.height, m_videoFormat.frameRateN,
        m_videoFormat.frameRateD, m_videoFormat.aspect, m_videoFormat.compressed, {} };
    std::fprintf(stderr, "The source changed from %s to %s: a new file begins\n",
        describe(m_writer->videoFormat(), m_writer->audioFormat()).c_str(), describe(video, now).c_str());
    startNextPiece(m_settings.outputPath, origin, "format");
}

// Between two frames: the frame counts of the pieces add up to the whole.
void RecordingSession::startNextPiece(const std::string& wanted, int64_t origin, const char* reason)
{
    reportProgress(true);
    closeFiles();
    m_settings.outputPath = wanted;
    if (!openFiles(wanted, origin, reason))
        reportStopped();
}

bool RecordingSession::openFiles(const std::string& wanted, int64_t origin, const char* reason)
{
    std::string path;
    std::string error;
    if (!OutputFile::claim(wanted, &path, &error)) {
        reportError(error);
        setRequested(false);
        return false;
    }
    const MovWriter::VideoFormat video { m_videoFormat.width, m_videoFormat.height, m_videoFormat.frameRateN,
        m_videoFormat.frameRateD, m_videoFormat.aspect, m_videoFormat.compressed,
        timecodeText(origin + m_timecodeOffset, m_videoFormat.frameRateN, m_videoFormat.frameRateD) };
    const MovWriter::AudioFormat audio { m_audioFormat.sampleRate, m_haveAudio ? m_audioFormat.channels : 0 };
    auto writer = std::make_unique<MovWriter>();
    if (!writer->open(path, video, audio)) {
        reportError(writer->error());
        std::remove(path.c_str());
        setRequested(false);
        return false;
    }
    m_writer = std::move(writer);
    m_currentPath = path;
    if (!m_everRecorded) {
        m_totalFrames = 0;
        m_coveredBefore = 0;
        m_timecodeBase = 0;
        m_baseFrames = 0;
    } else if (int64_t(video.frameRateN) * m_frameRateD != int64_t(m_frameRateN) * video.frameRateD) {
        m_timecodeBase = timecodeOf(m_coveredBefore);
        m_baseFrames = m_coveredBefore;
    }
    m_frameRateN = video.frameRateN;
    m_frameRateD = video.frameRateD;
    m_timeline.begin(origin, video.frameRateN, video.frameRateD);

    std::string previewPath;
    if (m_settings.preview && !video.compressed) {
        previewPath = previewPathFor(path);
        const MovWriter::VideoFormat small { std::max(16, video.width / 4 / 2 * 2),
            std::max(16, video.height / 4 / 2 * 2), video.frameRateN, video.frameRateD, video.aspect, false, {} };
        m_previewWriter = std::make_unique<MovWriter>();
        if (!m_previewWriter->open(previewPath, small, audio)) {
            reportError("Preview: " + m_previewWriter->error());
            m_previewWriter.reset();
            previewPath.clear();
        }
    }
    m_everRecorded = true;
    m_reports.line("<record_started filename=\"" + ReportWriter::escape(path) + "\" filename_pvw=\""
        + ReportWriter::escape(previewPath) + "\" frame_rate_n=\"" + std::to_string(video.frameRateN)
        + "\" frame_rate_d=\"" + std::to_string(video.frameRateD) + "\" width=\"" + std::to_string(video.width)
        + "\" height=\"" + std::to_string(video.height) + "\" first_frame_time=\"" + std::to_string(origin) + "\""
        + (reason ? std::string(" reason=\"") + reason + "\"" : std::string()) + "/>");
    std::fprintf(stderr, "Recording %s (%s, SpeedHQ %s)\n", path.c_str(), describe(video, audio).c_str(),
        video.compressed ? "as received" : "encoded here");
    m_lastReport = MediaQueue::Clock::now();
    return true;
}

void RecordingSession::closeFiles()
{
    if (m_previewWriter && !m_previewWriter->close())
        reportError("Preview: " + m_previewWriter->error());
    m_previewWriter.reset();
    if (m_writer && !m_writer->close())
        reportError(m_writer->error());
    if (m_writer)
        m_coveredBefore += m_timeline.slotsCovered();
    m_writer.reset();
}

void RecordingSession::failRecording(const std::string& reason)
{
    reportError(reason);
    closeFiles();
    setRequested(false);
    reportStopped();
}

void RecordingSession::reportStopped()
{
    m_reports.line("<record_stopped no_frames=\"" + std::to_string(m_totalFrames) + "\" last_timecode=\""
        + std::to_string(timecodeOf(covered())) + "\"/>");
    m_everRecorded = false;
}

void RecordingSession::finish()
{
    if (m_writer)
        reportProgress(true);
    closeFiles();
    if (m_everRecorded)
        reportStopped();
    setRequested(false);
}

void RecordingSession::reportProgress(bool force)
{
    if (!m_writer)
        return;
    const auto now = MediaQueue::Clock::now();
    if (!force && now - m_lastReport < m_settings.reportInterval)
        return;
    m_lastReport = now;
    const double level = m_peak > 1e-5f ? 20.0 * std::log10(double(m_peak)) : -100.0;
    m_peak = 0.0f;
    char vu[32];
    std::snprintf(vu, sizeof vu, "%.1f", level);
    m_reports.line("<recording no_frames=\"" + std::to_string(m_totalFrames) + "\" timecode=\""
        + std::to_string(timecodeOf(covered())) + "\" vu_dB=\"" + vu + "\"/>");
}

void RecordingSession::reportError(const std::string& text)
{
    std::fprintf(stderr, "Error: %s\n", text.c_str());
    m_reports.line("<record_error error=\"" + ReportWriter::escape(text) + "\"/>");
}

int64_t RecordingSession::covered() const
{
    return m_coveredBefore + (m_writer ? m_timeline.slotsCovered() : 0);
}

std::string RecordingSession::timecodeText(int64_t timecode, int rateN, int rateD)
{
    constexpr int64_t day = 86400 * PieceTimeline::ticksPerSecond;
    const int64_t ofDay = ((timecode % day) + day) % day;
    const int fps = std::max(1, int((rateN + rateD / 2) / std::max(1, rateD)));
    const int64_t frames = ofDay * rateN / (PieceTimeline::ticksPerSecond * std::max(1, rateD));
    const int64_t seconds = frames / fps;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", int(seconds / 3600 % 24), int(seconds / 60 % 60),
        int(seconds % 60), int(frames % fps));
    return text;
}

int64_t RecordingSession::timecodeOf(int64_t frames) const
{
    // 100 ns units
    return m_timecodeBase + (frames - m_baseFrames) * 10000000 * m_frameRateD / std::max(1, m_frameRateN);
}
