#include "reportwriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <poll.h>

namespace
{

// Lines taken for writing can no longer make way for newer ones, so few are taken at a time.
constexpr size_t batchBytes = 16384;

} // namespace

ReportWriter::ReportWriter(int fd, Limits limits)
    : m_fd(fd)
    , m_limits(limits)
{
    m_thread = std::thread(&ReportWriter::run, this);
}

ReportWriter::~ReportWriter()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_giveUpAt = Clock::now() + std::chrono::seconds(1);
    }
    m_wake.notify_all();
    m_thread.join();
}

void ReportWriter::line(const std::string& text)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_broken)
            return;
        const bool progress = text.compare(0, 11, "<recording ") == 0;
        if (m_queue.size() >= m_limits.lines || (progress && m_progress >= m_limits.progress)) {
            if (progress && m_progress == 0) {
                ++m_dropped; // a full queue of other reports: those matter more
                return;
            }
            dropOne();
        }
        m_queue.push_back(Line { text, progress });
        if (progress)
            ++m_progress;
    }
    m_wake.notify_one();
}

void ReportWriter::dropOne()
{
    // A newer progress report says all an older one did.
    auto victim = m_progress > 0
        ? std::find_if(m_queue.begin(), m_queue.end(), [](const Line& line) { return line.progress; })
        : m_queue.begin();
    if (victim == m_queue.end())
        return;
    if (victim->progress)
        --m_progress;
    m_queue.erase(victim);
    ++m_dropped;
}

bool ReportWriter::flush(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_drained.wait_for(lock, limit, [this] { return idle(); });
}

void ReportWriter::note(const std::string& text)
{
    // Standard error may go unread as well: a note that does not fit at once is left out.
    pollfd out { STDERR_FILENO, POLLOUT, 0 };
    const std::string line = text + "\n";
    if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) && ::write(STDERR_FILENO, line.data(), line.size()) < 0)
        return;
}

void ReportWriter::run()
{
    std::string batch;
    size_t written = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (written == batch.size()) {
            batch.clear();
            written = 0;
            m_busy = false;
            if (m_queue.empty())
                m_drained.notify_all();
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty())
                break;
            while (!m_queue.empty() && batch.size() < batchBytes) {
                const Line& next = m_queue.front();
                batch += next.text;
                batch += '\n';
                if (next.progress)
                    --m_progress;
                m_queue.pop_front();
            }
            m_busy = true;
            if (m_dropped > 0) {
                note(std::to_string(m_dropped) + " reports dropped while standard output was not read");
                m_dropped = 0;
            }
        }
        if (m_stopping && Clock::now() >= m_giveUpAt)
            break;
        lock.unlock();
        // Waiting for room, then writing no more than fits at once, keeps a stalled reader from
        // holding this thread past the end.
        pollfd out { m_fd, POLLOUT, 0 };
        ssize_t done = 0;
        int error = 0;
        if (::poll(&out, 1, 100) > 0) {
            done = ::write(m_fd, batch.data() + written, std::min<size_t>(PIPE_BUF, batch.size() - written));
            error = errno;
        }
        lock.lock();
        if (done > 0) {
            written += size_t(done);
        } else if (done < 0 && error != EINTR && error != EAGAIN) {
            // Nobody will ever read (the parent is gone): not our failure, so just stop writing.
            m_broken = true;
            m_queue.clear();
            m_progress = 0;
            batch.clear();
            written = 0;
        }
    }
    const size_t lost
        = m_dropped + m_queue.size() + size_t(std::count(batch.begin() + std::ptrdiff_t(written), batch.end(), '\n'));
    if (lost > 0 && !m_broken)
        note(std::to_string(lost) + " reports dropped: standard output was not read");
}

std::string ReportWriter::escape(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        case '\t': out += "&#9;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += ' '; // not allowed in XML 1.0 at all
            else
                out += c;
        }
    }
    return out;
}
