#pragma once

#include <string>
#include <vector>

// The command line: -i NAME -o PATH [-u URL] [-nothumbnail] [-noautostart]
struct RecorderOptions {
    std::string sourceName;
    std::string outputPath;
    std::string url;
    bool thumbnail = true;
    bool autostart = true;
    std::vector<std::string> ignored; // arguments we do not know

    // False with a reason when -i or -o is missing or lacks its value.
    static bool parse(int argc, const char* const* argv, RecorderOptions* options, std::string* error);
};
