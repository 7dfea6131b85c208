#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class Slot;

// Everything a surface shows about one slot, computed once on the main thread by the slot itself
// and then formatted anywhere (window, TCP, HTTP, panel, metrics) without touching the slot again.
struct SlotSnapshot {
    static SlotSnapshot of(const Slot& slot);

    uint id = 0;
    bool isRecording = false;
    bool isWaiting = false;
    QString connectedSource;
    QString displayName;
    int tallyState = 0;

    // The recording's telemetry: "idle", "waiting", "recording", "stalled" or "failed", and the
    // figures from the recording program's reports.
    QString state = QStringLiteral("idle");
    qint64 elapsedMs = 0;
    QString elapsedText;
    qint64 pieceFrames = 0;
    qint64 totalFrames = 0;
    QString filePath;
    int piece = 0;
    QString location;
    int delayedCount = 0;
    qint64 bytesWritten = 0;
    QString warning;

    // The one word every surface shows: "empty", "ready", "no signal", "waiting", "recording",
    // "dropping", "stalled" or "failed".
    QString stateWord = QStringLiteral("empty");
    // Its label as the window shows it: "REC", "DROPPING 12 %", "NO SIGNAL".
    QString stateLabel;
    // Busy: recording or waiting for the program to confirm a start.
    bool busy = false;
    bool signalLost = false;
    // Wall-clock time since the recording started, and the frames it lost against what the source
    // sent in that time (this recording; 0 when idle).
    qint64 wallMs = 0;
    qint64 droppedFrames = 0;
    // Share of frames lost recently, 0-100, while the state is "dropping".
    int droppingPercent = 0;
    // Counters over the life of the process.
    qint64 framesWrittenTotal = 0;
    qint64 droppedFramesTotal = 0;
    qint64 delayedTotal = 0;
    qint64 stallsTotal = 0;
    qint64 recoveriesTotal = 0;
    // Where the slot records now, and that drive's figures (-1: not known yet).
    QString currentFolder;
    QString drive;
    qint64 freeBytes = -1;
    double secondsLeft = -1.0;
    bool lowSpace = false;
    // The slot's last events, oldest first.
    struct HistoryEntry {
        QDateTime time;
        QString text;
    };
    QList<HistoryEntry> history;

    // "recording", "waiting" or "ready": recording wins over waiting.
    QString recordingText() const
    {
        if (isRecording)
            return QStringLiteral("recording");
        if (isWaiting)
            return QStringLiteral("waiting");
        return QStringLiteral("ready");
    }
};
