#pragma once

#include "mediaqueue.h"
#include "movwriter.h"
#include "piecetimeline.h"
#include "reportwriter.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

// The writer thread's side of the recording program: takes frames, audio and commands in arrival
// order, writes the files and reports on standard output.
class RecordingSession
{
public:
    struct Settings {
        std::string sourceName;
        std::string outputPath;
        bool preview = true;
        bool autostart = true;
        std::chrono::milliseconds reportInterval { 100 };
        std::chrono::milliseconds delayLimit { 2000 };
        // How long writing waits for a source's first audio before it records the video alone.
        std::chrono::milliseconds audioWait { 1000 };
        // For tests: only every n-th frame is written; the others are lost (their time is kept).
        int writeEvery = 1;
    };

    // `wantMedia` tells the receiver whether frames must carry their data (only while recording).
    RecordingSession(Settings settings, ReportWriter& reports, std::atomic<bool>& wantMedia);
    ~RecordingSession();

    // Runs until a quit command or the end of input; the files are finished when it returns.
    void run(MediaQueue& queue);

    static std::string previewPathFor(const std::string& path) { return path + ".preview"; }
    // "hh:mm:ss:ff" of the day for a time code in 100 ns units, at the frame rate rounded.
    static std::string timecodeText(int64_t timecode, int rateN, int rateD);

private:
    void handle(MediaQueue::Item& item, MediaQueue& queue);
    void handleVideo(const VideoItem& video);
    void handleAudio(const AudioItem& audio);
    void handleCommand(const RecorderCommand& command);
    void handleSourceState(const SourceState& state);
    bool audioWaitOver();
    void changeFormat(int64_t origin);
    void startNextPiece(const std::string& wanted, int64_t origin, const char* reason);
    // `reason` goes into the report when the program itself began the file.
    // origin: the source time at the start of the piece.
    bool openFiles(const std::string& wanted, int64_t origin, const char* reason = nullptr);
    void closeFiles();
    void failRecording(const std::string& reason);
    void finish();
    void reportStopped();
    void reportProgress(bool force);
    void reportError(const std::string& text);
    void setRequested(bool requested);
    bool writeAudio(const float* planar, int channelStride, int channels, int samples);
    void writeSilence(int64_t samples, int channels);
    int64_t covered() const; // frame periods recorded, lost frames included
    int64_t timecodeOf(int64_t frames) const;

    Settings m_settings;
    ReportWriter& m_reports;
    std::atomic<bool>& m_wantMedia;

    bool m_requested = false;
    bool m_quit = false;
    bool m_everRecorded = false;
    bool m_sourceLost = false;
    bool m_haveVideo = false;
    bool m_haveAudio = false;
    bool m_waitingForAudio = false;
    MediaQueue::Clock::time_point m_audioWaitStart;
    VideoItem m_videoFormat; // data unused
    AudioItem m_audioFormat; // data unused
    std::unique_ptr<MovWriter> m_writer;
    std::unique_ptr<MovWriter> m_previewWriter;
    std::string m_currentPath;
    int64_t m_totalFrames = 0; // written
    int64_t m_receivedFrames = 0; // while a file was open
    int64_t m_coveredBefore = 0; // frame periods of the recording's finished pieces
    PieceTimeline m_timeline;
    int64_t m_timecodeOffset = 0; // the source's time code less its time stamp
    // The time code at m_baseFrames (frame periods): it goes on at the new rate where a piece changed it.
    int64_t m_timecodeBase = 0;
    int64_t m_baseFrames = 0;
    int m_frameRateN = 30000;
    int m_frameRateD = 1001;
    double m_gain = 1.0;
    float m_peak = 0.0f;
    std::vector<float> m_gained;
    MediaQueue::Clock::time_point m_lastReport;
};
