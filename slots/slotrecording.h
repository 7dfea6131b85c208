#pragma once

#include "slots/recordingstatemachine.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

class NDIRecorder;
class SlotLocations;
class SplitSchedule;

// Carries out one slot's recordings with the recording program: each report of the program becomes
// an event of the slot's state machine, what the machine asks is done, and splits come on schedule.
// Main thread only.
class SlotRecording : public QObject
{
    Q_OBJECT

public:
    using Event = RecordingStateMachine::Event;
    using StopReason = RecordingStateMachine::StopReason;

    SlotRecording(int slotNumber, RecordingStateMachine& machine, SlotLocations& locations, QObject* parent = nullptr);
    // A recording still running ends as ended by the app's exit; its process finishes the file on its own.
    ~SlotRecording() override;

    NDIRecorder* recorder() const { return m_recorder; }
    const SplitSchedule& schedule() const { return *m_split; }
    // The monotonic clock (milliseconds) of the machine and the splits; replaceable so that schedules
    // can be checked without waiting for them. Null restores the steady clock.
    void setMonotonicClock(std::function<qint64()> clock);

    // Every event of the recording goes through here.
    void handle(Event event);
    // Why a start is refused, a missing folder also as a warning; empty when it may start.
    QString refusal(bool bound, bool viewingOnly);
    // A process that has ended (crash, failed start) can confirm no start.
    bool processAlive() const;
    void start(float recordLevel);
    void finish(StopReason reason);
    // The program confirmed a start; it does again after every split.
    void confirmStart();
    void split();
    // The current folder changed sides: a running recording continues there, an armed process
    // (bound, not viewing only) is replaced.
    void switchLocation(bool armed);

Q_SIGNALS:
    // The recording must go on in the other location.
    void switchWanted(bool toB);
    void recordingChanged(bool recording);
    void waitingChanged(bool waiting);
    // Something the surfaces draw of the recording changed.
    void shownChanged();
    void stopped(RecordingStateMachine::StopReason reason);

private:
    void pieceStarted(int generation, const QString& path, int frameRateN, int frameRateD, QSize size,
        const QString& reason, qint64 firstFrameTime);
    static qint64 chopIntervalMs();
    // A program that ended or stopped writing by itself may not have put its last reported frames
    // in the file: the record holds what the file holds.
    void countWrittenFrames();
    void countFramesInFile(const ContinuityRecord::Piece& piece);
    // A new process goes on with the recording, in the other location when moveOn and it has room.
    void recover(bool moveOn);
    // The current folder is there to write to: made again when it vanished and its parent is
    // there, else the other location is taken when A/B recording is on. Asked off the main thread;
    // then follows with the answer, or at once when a check of this folder is still out.
    void ensureFolder(std::function<void()> then);

    const int m_slotNumber;
    RecordingStateMachine& m_machine;
    SlotLocations& m_locations;
    NDIRecorder* m_recorder = nullptr; // owned; deleted first in the destructor
    SplitSchedule* m_split = nullptr;
    bool m_wasRecording = false;
    bool m_wasWaiting = false;
    bool m_recovering = false; // a replacement process is about to start in the current folder
};
