#include "recorderoptions.h"

bool RecorderOptions::parse(int argc, const char* const* argv, RecorderOptions* options, std::string* error)
{
    *options = RecorderOptions {};
    bool haveSource = false;
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "-i" || arg == "-o" || arg == "-u";
        if (takesValue && i + 1 >= argc) {
            *error = "Missing value after " + arg;
            return false;
        }
        if (arg == "-i") {
            options->sourceName = argv[++i];
            haveSource = true;
        } else if (arg == "-o") {
            options->outputPath = argv[++i];
            haveOutput = true;
        } else if (arg == "-u") {
            options->url = argv[++i];
        } else if (arg == "-nothumbnail") {
            options->thumbnail = false;
        } else if (arg == "-noautostart") {
            options->autostart = false;
        } else {
            options->ignored.push_back(arg);
        }
    }
    if (!haveSource || options->sourceName.empty()) {
        *error = "No source given (-i NAME)";
        return false;
    }
    if (!haveOutput || options->outputPath.empty()) {
        *error = "No output file given (-o PATH)";
        return false;
    }
    return true;
}
