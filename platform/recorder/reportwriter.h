#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

// How many lines a ReportWriter keeps while nobody reads them.
struct ReportLimits {
    size_t lines = 4096; // queued lines of any kind
    size_t progress = 256; // queued progress reports
};

// Report lines on standard output, one whole line at a time from any thread. A thread of its own
// writes them, so a parent that stops reading never holds up recording: lines wait in a bounded
// queue meanwhile, and when that fills progress reports go first, as only the newest one matters.
class ReportWriter
{
public:
    using Limits = ReportLimits;

    explicit ReportWriter(int fd = STDOUT_FILENO, Limits limits = Limits());
    // Writes what is still queued, but gives a parent that does not read one second at most.
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // Never waits for the reader; `text` goes out followed by a line feed.
    void line(const std::string& text);
    // Waits up to `limit` until every queued line is written (or cannot be); false when some wait.
    bool flush(std::chrono::milliseconds limit);
    static std::string escape(const std::string& value);

private:
    using Clock = std::chrono::steady_clock;
    struct Line {
        std::string text;
        bool progress = false;
    };

    void run();
    void dropOne();
    bool idle() const { return m_broken || (m_queue.empty() && !m_busy); }
    static void note(const std::string& text);

    const int m_fd;
    const Limits m_limits;
    std::mutex m_mutex; // guards everything below
    std::condition_variable m_wake; // a line came, or the end
    std::condition_variable m_drained; // everything queued is written
    std::deque<Line> m_queue;
    size_t m_progress = 0; // progress reports in m_queue
    size_t m_dropped = 0; // since the last note on standard error
    bool m_busy = false; // the output thread holds lines it has not finished writing
    bool m_broken = false; // nobody can read any more: lines are thrown away
    bool m_stopping = false;
    Clock::time_point m_giveUpAt;
    std::thread m_thread;
};
