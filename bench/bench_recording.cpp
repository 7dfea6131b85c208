// How fast the recording program's writer encodes 1080p, per codec, and how many 1080p30
// recordings this machine keeps in real time at once.
//
//   bench_recording [folder] [seconds per real-time round]

#include "movwriter.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int width = 1920;
constexpr int height = 1080;

// A moving picture with detail and some camera-like noise, so the encoder has real work.
void paintUyvy(std::vector<uint8_t>& frame, int n)
{
    frame.resize(size_t(width) * height * 2);
    uint32_t noise = 12345u + uint32_t(n);
    auto grain = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return int(noise >> 28) - 8;
    };
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.data() + size_t(y) * width * 2;
        for (int x = 0; x < width; x += 2) {
            const int moving = (x + n * 8) % width;
            const int luma = moving * 200 / width + ((x ^ y) & 15) + 24;
            row[x * 2 + 0] = uint8_t(128 + ((y + n) & 63) - 32);
            row[x * 2 + 1] = uint8_t(luma + grain());
            row[x * 2 + 2] = uint8_t(128 + ((x / 8) & 63) - 32);
            row[x * 2 + 3] = uint8_t((luma ^ ((y >> 3) & 7)) + grain());
        }
    }
}

struct Frames {
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<float> audio; // 2 channels planar, one frame's worth at 30 fps
};

Frames makeFrames()
{
    Frames frames;
    frames.pictures.resize(16);
    for (size_t i = 0; i < frames.pictures.size(); ++i)
        paintUyvy(frames.pictures[i], int(i));
    frames.audio.resize(1600 * 2);
    for (int s = 0; s < 1600; ++s)
        frames.audio[s] = frames.audio[1600 + s] = 0.5f * std::sin(float(s) * 0.13f);
    return frames;
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Frames per wall-clock second, and per second of this thread's own CPU time (which other work
// on a busy machine does not lower).
double encodeSpeed(const Frames& frames, const std::string& folder, const char* codec, int count, double* perCpuSecond)
{
    MovWriter writer;
    const std::string path = folder + "/bench-" + codec + ".mov";
    ::unlink(path.c_str());
    if (!writer.open(path, { width, height, 30, 1, 0.0f, false, {} }, { 48000, 2 }, codec)) {
        std::fprintf(stderr, "%s: %s\n", codec, writer.error().c_str());
        return 0.0;
    }
    const auto begin = Clock::now();
    const double cpuBegin = threadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        writer.writeVideo(frames.pictures[size_t(i) % frames.pictures.size()].data(), width * 2, width, height,
            MovWriter::PixelLayout::UYVY);
        writer.writeAudio(frames.audio.data(), 1600, 2, 1600);
    }
    writer.close();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    *perCpuSecond = count / (threadCpuSeconds() - cpuBegin);
    ::unlink(path.c_str());
    return count / seconds;
}

// Runs `recordings` writers at 30 fps for `seconds`; true when every one stayed within half a
// second of the clock.
bool keepsUp(const Frames& frames, const std::string& folder, int recordings, double seconds, double* worstLag)
{
    std::atomic<bool> ok { true };
    std::atomic<long> lagMicros { 0 };
    std::vector<std::thread> threads;
    for (int r = 0; r < recordings; ++r) {
        threads.emplace_back([&, r] {
            MovWriter writer;
            const std::string path = folder + "/bench-rt-" + std::to_string(r) + ".mov";
            ::unlink(path.c_str());
            if (!writer.open(path, { width, height, 30, 1, 0.0f, false, {} }, { 48000, 2 })) {
                ok = false;
                return;
            }
            const int total = int(seconds * 30);
            const auto begin = Clock::now();
            for (int i = 0; i < total; ++i) {
                const auto due = begin + std::chrono::microseconds(int64_t(i) * 1000000 / 30);
                std::this_thread::sleep_until(due);
                writer.writeVideo(frames.pictures[size_t(i) % frames.pictures.size()].data(), width * 2, width, height,
                    MovWriter::PixelLayout::UYVY);
                writer.writeAudio(frames.audio.data(), 1600, 2, 1600);
                const long lag
                    = long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due).count());
                long seen = lagMicros.load();
                while (lag > seen && !lagMicros.compare_exchange_weak(seen, lag)) { }
            }
            writer.close();
            ::unlink(path.c_str());
        });
    }
    for (std::thread& t : threads)
        t.join();
    *worstLag = double(lagMicros.load()) / 1e6;
    return ok && *worstLag < 0.5;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 6.0;
    const Frames frames = makeFrames();
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        char text[64] = {};
        if (std::fgets(text, sizeof text, load))
            std::printf("Load average before the run: %s", text);
        std::fclose(load);
    }

    std::printf("1080p UYVY encode speed on one thread (convert + encode + write), per wall-clock second and per\n"
                "second of the thread's own CPU time:\n");
    for (const char* codec : { "speedhq", "prores_aw", "mjpeg" }) {
        double perCpu = 0.0;
        const double perWall = encodeSpeed(frames, folder, codec, codec[0] == 's' ? 300 : 90, &perCpu);
        std::printf("  %-10s %6.1f fps wall, %6.1f fps CPU\n", codec, perWall, perCpu);
        if (codec[0] == 's') {
            std::printf("  (CPU bound: %.1f 1080p30 recordings per core)\n", perCpu / 30.0);
            std::printf("RESULT recording_speedhq_cpu_fps=%.1f fps\n", perCpu);
        }
    }

    std::printf("Simultaneous 1080p30 recordings with speedhq on %u hardware threads (%.0f s each):\n",
        std::thread::hardware_concurrency(), seconds);
    int best = 0;
    for (int n = 1; n <= 32; ++n) {
        double lag = 0.0;
        const bool ok = keepsUp(frames, folder, n, seconds, &lag);
        std::printf("  %2d recordings: worst lag %.3f s %s\n", n, lag, ok ? "(real time)" : "(falls behind)");
        if (!ok)
            break;
        best = n;
    }
    std::printf("Result: %d simultaneous 1080p30 recordings in real time\n", best);
    std::printf("RESULT recording_writers_realtime=%d recordings\n", best);
    return 0;
}
