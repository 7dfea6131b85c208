#pragma once

#include <cstdio>
#include <mutex>
#include <string>

// Report lines on standard output, one whole line at a time from any thread, each flushed at once.
class ReportWriter
{
public:
    explicit ReportWriter(std::FILE* out = stdout);

    void line(const std::string& text);
    static std::string escape(const std::string& value);

private:
    std::FILE* m_out;
    std::mutex m_mutex; // guards writes to m_out
};
