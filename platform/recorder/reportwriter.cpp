#include "reportwriter.h"

ReportWriter::ReportWriter(std::FILE* out)
    : m_out(out)
{
}

void ReportWriter::line(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    // Nobody may be listening any more (the parent is gone); that is not our failure.
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

std::string ReportWriter::escape(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\t':
            out += "&#9;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += ' '; // not allowed in XML 1.0 at all
            else
                out += c;
        }
    }
    return out;
}
