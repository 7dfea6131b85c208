// Costs of the simulated NDI runtime: building pictures, and sixteen 1080p30 sources received in
// real time. Prints figures; asserts nothing.
#include "simpicture.h"
#include "simsource.h"

// The vendor's header uses NULL without defining it.
#include <cstddef>

#include <Processing.NDI.Lib.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace ndisim;
using Clock = std::chrono::steady_clock;

namespace
{

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this thread: the machine may be busy with other work, which wall time would count.
double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void pictures()
{
    std::printf("Pictures (1920x1080), CPU time:\n");
    for (const auto& [fourcc, label] : { std::pair<uint32_t, const char*> { NDIlib_FourCC_video_type_UYVY, "UYVY" },
             { NDIlib_FourCC_video_type_BGRA, "BGRA" } }) {
        PictureSpec spec;
        spec.width = 1920;
        spec.height = 1080;
        spec.fourcc = fourcc;
        spec.pattern = Pattern::Moving;
        double start = threadCpuMs();
        Picture picture(spec);
        const double build = threadCpuMs() - start;

        // The first frames allocate their buffers; after that a frame only moves the square.
        constexpr int frames = 600;
        // Eight frames held at once, as slow consumers would, make the buffer ring grow to eight.
        start = threadCpuMs();
        std::vector<FrameHandle> held;
        for (int i = 0; i < 8; ++i)
            held.push_back(picture.acquire(i));
        const double firstFrames = (threadCpuMs() - start) / 8;
        for (const FrameHandle& frame : held)
            Picture::release(frame);
        start = threadCpuMs();
        for (int i = 8; i < 8 + frames; ++i)
            Picture::release(picture.acquire(i));
        const double perFrame = (threadCpuMs() - start) / frames;
        start = threadCpuMs();
        for (int i = 0; i < frames; ++i)
            Picture::release(picture.acquire(1000)); // the same index: the cached frame
        const double cached = (threadCpuMs() - start) / frames;
        std::printf("  %s: static pattern %.2f ms once; frame %.3f ms (first frames %.3f ms, cached %.4f ms); "
                    "frame period at 30 fps 33.3 ms\n",
            label, build, perFrame, firstFrames, cached);
        std::printf("RESULT ndi_frame_%s_ms=%.3f ms\n", label, perFrame);
    }
}

void audio()
{
    SourceConfig config;
    config.name = "bench";
    config.audio = AudioConfig();
    Source source(config);
    std::vector<float> buffer(2 * 48000);
    const double start = threadCpuMs();
    constexpr int seconds = 10;
    for (int s = 0; s < seconds; ++s)
        source.fillAudio(buffer.data(), 2, 48000, int64_t(s) * 48000, 48000, 48000);
    const double perSecond = (threadCpuMs() - start) / seconds;
    std::printf("Audio: %.2f ms of CPU per second of 48 kHz stereo tone\n", perSecond);
    std::printf("RESULT ndi_tone_ms=%.2f ms\n", perSecond);
}

void sixteenSources(bool frameSync)
{
    constexpr int count = 16;
    constexpr int seconds = 5;
    std::vector<NDIlib_recv_instance_t> receivers;
    std::vector<NDIlib_framesync_instance_t> syncs;
    for (int i = 0; i < count; ++i) {
        NDIlib_recv_create_v3_t settings {};
        settings.color_format = NDIlib_recv_color_format_UYVY_BGRA;
        settings.bandwidth = NDIlib_recv_bandwidth_highest;
        NDIlib_recv_instance_t receiver = NDIlib_recv_create_v3(&settings);
        const QByteArray name = "BENCH (" + QByteArray::number(i) + ")";
        NDIlib_source_t source {};
        source.p_ndi_name = name.constData();
        NDIlib_recv_connect(receiver, &source);
        receivers.push_back(receiver);
        if (frameSync)
            syncs.push_back(NDIlib_framesync_create(receiver));
    }

    std::atomic<bool> stop { false };
    std::atomic<long> videoFrames { 0 }, audioSamples { 0 };
    std::vector<std::thread> threads;
    if (frameSync) {
        // One render-like thread at 60 Hz and one audio-like thread pulling 20 ms blocks.
        threads.emplace_back([&] {
            auto tick = Clock::now();
            while (!stop) {
                for (auto sync : syncs) {
                    NDIlib_video_frame_v2_t frame;
                    NDIlib_framesync_capture_video(sync, &frame, NDIlib_frame_format_type_progressive);
                    if (frame.p_data)
                        videoFrames++;
                    NDIlib_framesync_free_video(sync, &frame);
                }
                tick += std::chrono::microseconds(16667);
                std::this_thread::sleep_until(tick);
            }
        });
        threads.emplace_back([&] {
            auto tick = Clock::now();
            while (!stop) {
                for (auto sync : syncs) {
                    NDIlib_audio_frame_v2_t frame;
                    NDIlib_framesync_capture_audio(sync, &frame, 48000, 2, 960);
                    audioSamples += frame.no_samples;
                    NDIlib_framesync_free_audio(sync, &frame);
                }
                tick += std::chrono::milliseconds(20);
                std::this_thread::sleep_until(tick);
            }
        });
    } else {
        // One capture thread per source, as a recording program would run.
        for (auto receiver : receivers) {
            threads.emplace_back([&, receiver] {
                while (!stop) {
                    NDIlib_video_frame_v2_t video;
                    NDIlib_audio_frame_v2_t audio;
                    switch (NDIlib_recv_capture_v2(receiver, &video, &audio, nullptr, 100)) {
                    case NDIlib_frame_type_video:
                        videoFrames++;
                        NDIlib_recv_free_video_v2(receiver, &video);
                        break;
                    case NDIlib_frame_type_audio:
                        audioSamples += audio.no_samples;
                        NDIlib_recv_free_audio_v2(receiver, &audio);
                        break;
                    default: break;
                    }
                }
            });
        }
    }
    // The first second builds every source's pictures; measure after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    videoFrames = 0;
    audioSamples = 0;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long frames = videoFrames, samples = audioSamples;
    const double wall = msSince(start) / 1000.0;
    const double cpu = cpuSeconds() - cpuStart;
    stop = true;
    for (auto& thread : threads)
        thread.join();
    std::printf("Sixteen 1080p30 moving sources with tone, %s, %.1f s: %.1f %% of one core; "
                "%.1f frames/s and %.0f samples/s per source\n",
        frameSync ? "frame synchronisers (60 Hz video pulls, 20 ms audio pulls)" : "recv_capture_v2 in 16 threads",
        wall, 100.0 * cpu / wall, frames / wall / count, samples / wall / count);
    const char* key = frameSync ? "sync" : "recv";
    std::printf("RESULT ndi_16src_%s_cpu=%.1f %%core\n", key, 100.0 * cpu / wall);
    std::printf("RESULT ndi_16src_%s_fps=%.1f fps\n", key, frames / wall / count);
    for (auto sync : syncs)
        NDIlib_framesync_destroy(sync);
    for (auto receiver : receivers)
        NDIlib_recv_destroy(receiver);
}

// Time from creating a finder until it lists every configured source.
void discovery(uint32_t expected)
{
    const auto start = Clock::now();
    NDIlib_find_create_t settings {};
    settings.show_local_sources = true;
    NDIlib_find_instance_t finder = NDIlib_find_create_v2(&settings);
    uint32_t seen = 0;
    while (finder && msSince(start) < 10000) {
        NDIlib_find_get_current_sources(finder, &seen);
        if (seen >= expected)
            break;
        NDIlib_find_wait_for_sources(finder, 100);
    }
    const double ms = msSince(start);
    if (finder)
        NDIlib_find_destroy(finder);
    std::printf("Discovery: %u of %u sources listed after %.1f ms\n", seen, expected, ms);
    if (seen >= expected)
        std::printf("RESULT ndi_discovery_ms=%.1f ms\n", ms);
}

} // namespace

int main()
{
    pictures();
    audio();

    QTemporaryDir dir;
    QByteArray json = "{\"sources\": [";
    for (int i = 0; i < 16; ++i) {
        json += (i ? "," : "") + QByteArray("{\"name\": \"BENCH (") + QByteArray::number(i)
            + ")\", \"video\": {\"width\": 1920, \"height\": 1080, \"fps\": 30, \"pattern\": \"moving\"},"
              " \"audio\": {\"frequency\": 1000, \"peak\": 0.5}}";
    }
    json += "]}";
    QFile file(dir.filePath(QStringLiteral("sources.json")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(json);
    file.close();
    qputenv("NDI_SIM_SOURCES", file.fileName().toLocal8Bit());
    NDIlib_initialize();
    discovery(16);
    sixteenSources(false);
    sixteenSources(true);
    return 0;
}
