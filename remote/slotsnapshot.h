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
