// The recording program: receives one NDI source and writes it to QuickTime files.
//
//   "NewTek NDI Record.exe" -i NAME -o PATH [-u URL] [-nothumbnail] [-noautostart]
//
// Standard input takes one command per line (<start/>, <quit/>, <exit/>, <record_level gain="DB"/>,
// <record_chop/>, <record_chop filename="PATH"/>); standard output carries only reports. The files
// are finished after <quit/> and when standard input closes.

#include "mediaqueue.h"
#include "recordercommand.h"
#include "recorderoptions.h"
#include "recordingsession.h"
#include "reportwriter.h"
#include "sourcereceiver.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

namespace
{

volatile std::sig_atomic_t g_terminate = 0;

void onTerminate(int)
{
    g_terminate = 1;
}

void installSignals()
{
    // A parent that went away must not kill us through a broken pipe: we still finish the file.
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {
    };
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the blocking read returns and we quit in order
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// Reads standard input until a quit command, its end or a termination signal; every byte read is
// copied to the trace file when there is one.
void readCommands(MediaQueue& queue)
{
    std::FILE* trace = nullptr;
    if (const char* tracePath = std::getenv("NDI_RECORD_TRACE"); tracePath && *tracePath) {
        // "{pid}" keeps the traces of several programs apart.
        std::string path = tracePath;
        if (const size_t at = path.find("{pid}"); at != std::string::npos)
            path.replace(at, 5, std::to_string(::getpid()));
        trace = std::fopen(path.c_str(), "ab");
    }
    std::string pending;
    char buffer[4096];
    for (;;) {
        if (g_terminate) {
            queue.push(RecorderCommand { RecorderCommand::Kind::Quit, 0.0, {}, "signal" });
            break;
        }
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            queue.push(EndOfInput {});
            break;
        }
        if (trace) {
            std::fwrite(buffer, 1, size_t(got), trace);
            std::fflush(trace);
        }
        pending.append(buffer, size_t(got));
        bool quit = false;
        size_t lineEnd;
        while (!quit && (lineEnd = pending.find('\n')) != std::string::npos) {
            const RecorderCommand command = RecorderCommand::parse(pending.substr(0, lineEnd));
            pending.erase(0, lineEnd + 1);
            if (command.kind == RecorderCommand::Kind::None)
                continue;
            quit = command.kind == RecorderCommand::Kind::Quit;
            queue.push(command);
        }
        if (quit)
            break;
        if (pending.size() > 1 << 20)
            pending.clear(); // no command is that long
    }
    if (trace)
        std::fclose(trace);
}

} // namespace

int main(int argc, char** argv)
{
    installSignals();
    av_log_set_level(AV_LOG_ERROR);
    ReportWriter reports;

    RecorderOptions options;
    std::string error;
    if (!RecorderOptions::parse(argc, argv, &options, &error)) {
        std::fprintf(stderr, "%s\nUsage: %s -i NAME -o PATH [-u URL] [-nothumbnail] [-noautostart]\n", error.c_str(),
            argc > 0 ? argv[0] : "record");
        reports.line("<record_error error=\"" + ReportWriter::escape(error) + "\"/>");
        return 2;
    }

    std::fprintf(stderr, "Stavelin NDI recording program\n");
    std::fprintf(stderr, "Source: %s\nAddress: %s\nOutput: %s\nPreview: %s\nStart: %s\n", options.sourceName.c_str(),
        options.url.empty() ? "(by name)" : options.url.c_str(), options.outputPath.c_str(),
        options.thumbnail ? "yes" : "no", options.autostart ? "at once" : "on <start/>");
    for (const std::string& arg : options.ignored)
        std::fprintf(stderr, "Ignored argument: %s\n", arg.c_str());

    MediaQueue queue;
    std::atomic<bool> wantMedia { false };
    RecordingSession::Settings settings;
    settings.sourceName = options.sourceName;
    settings.outputPath = options.outputPath;
    settings.preview = options.thumbnail;
    settings.autostart = options.autostart;
    if (const char* every = std::getenv("STAVELIN_RECORDER_WRITE_EVERY"))
        settings.writeEvery = std::max(1, std::atoi(every));
    RecordingSession session(settings, reports, wantMedia);

    // The preview file is made from decoded pictures, so it needs them from the runtime.
    SourceReceiver receiver(options.sourceName, options.url, queue, wantMedia, !options.thumbnail);
    receiver.start();
    std::thread writer([&] { session.run(queue); });

    readCommands(queue);
    writer.join();
    receiver.stop();
    std::fprintf(stderr, "Done\n");
    return 0;
}
