#pragma once

#include <QList>
#include <QString>

// What the remote protocols report about one slot, read on the main thread and then formatted
// anywhere without touching the slot again.
struct SlotSnapshot {
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
