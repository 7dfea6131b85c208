#pragma once

#include <QString>
#include <QtGlobal>

// The rules a recording follows, as pure decisions of the figures they depend on: testable without
// a slot, a process or a drive.
class RecordingRules
{
public:
    enum class SpaceAction { None, SwitchToOther, Stop };
    // What a drive report of one location (B when forB) asks of a recording slot: the location
    // being written is short of space.
    static SpaceAction spaceAction(
        bool forB, bool abRecording, bool locationBSelected, float gigabytesA, float gigabytesB, float fillRate);

    // Where a recording goes on after its program could not write: the other location when A/B
    // recording is on and the other drive holds more than a check's worth (fill rate 1 GB), else
    // the same one.
    static bool moveOnToOther(bool abRecording, float otherGigabytes) { return abRecording && otherGigabytes > 0.7f; }

    // The next split after one that was due at lastDue (ms after the start): one interval later,
    // or, when that is already past, the first whole multiple of the interval after now.
    static qint64 nextSplitDueAfter(qint64 lastDue, qint64 interval, qint64 now);

    // Meter position 0..100 of a raw level (see Receiver) for the given gains; total for any input.
    static int meterLevel(int rawLevel, float standardGain, float audioGain);

    // A drive with less free space than this is shown as running low.
    static constexpr float lowSpaceGigabytes = 10.0f;
    static bool lowSpace(float gigabytes) { return gigabytes < lowSpaceGigabytes; }

    // The format a cell shows: what the recording program reports, else the received picture's,
    // which is the source's own only from a full-resolution receiver.
    static QString formatLabel(const QString& recorded, const QString& received, bool fullRes);
    static QString gainText(float gain);
    // Free space and time left of the drive recorded to; -1 seconds while the rate is not known.
    static QString driveText(float gigabytes, qint64 secondsLeft);

    // Why a slot cannot start recording now; empty when it can.
    static QString startRefusal(bool connected, bool recording, bool viewingOnly, bool folderExists);
};
