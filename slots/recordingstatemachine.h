#pragma once

#include "slots/continuityrecord.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

// The life of one slot's recordings, from the start asked for to the stop: the state every surface
// shows, the pieces and their continuity record, the frames lost against what the source sent,
// and warnings that end with their cause. It decides and keeps the books; the slot carries out
// (processes, folders). Times come from an injected monotonic clock. Main thread only.
class RecordingStateMachine : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Waiting, Recording, Dropping, Stalled, NoSignal, Failed };
    // The numbers are the slot's stop reasons; the application's end has none of its own there.
    enum class StopReason { User = 0, OutOfSpace = 1, RecorderError = 2, AppExit = 3 };

    struct Event {
        enum Kind {
            StartAsked,
            StartConfirmed,
            PieceStarted, // piece: path, rate, size, location; text: the program's reason
            Progress, // generation, frames, timecode (100 ns)
            ProcessDone, // generation, frames: a process's last count
            FramesInFile, // text: a piece's path, frames: what its file holds after its program failed
            Delayed, // the program could not keep up
            ProgramError, // text
            Stalled,
            Resumed,
            ReplacedFrozen,
            ProgramStopped, // text: why the program stopped writing
            ProgramEnded, // text: how
            StartUnconfirmed,
            SourceGone,
            SourceBack,
            Split,
            LocationSwitch,
            StopAsked, // reason
            DriveSilent, // text: the folder or drive that does not answer
            DriveAnswers,
            RecordKept, // text: where the record is kept while its drive takes none
            Tick,
        };
        Event(Kind kind = Tick, QString text = {})
            : kind(kind)
            , text(std::move(text))
        {
        }
        Event(Kind kind, int generation, qint64 frames, qint64 timecode = 0)
            : kind(kind)
            , generation(generation)
            , frames(frames)
            , timecode(timecode)
        {
        }
        static Event stop(StopReason reason, QString warning = {})
        {
            Event event(StopAsked, std::move(warning));
            event.reason = reason;
            return event;
        }

        Kind kind = Tick;
        int generation = 0;
        qint64 frames = 0;
        qint64 timecode = 0;
        QString text;
        ContinuityRecord::Piece piece;
        StopReason reason = StopReason::User;
    };
    // What the slot must carry out after an event. Recover: a new process goes on with the
    // recording; MoveOn: the same, in the other location when it has room (the program could not
    // write where it was).
    enum class Action { None, EndRecording, Recover, MoveOn };

    struct HistoryEntry {
        QDateTime time;
        QString text;
    };

    // A recording that was told its frames, but not yet lost one, within this many frames is whole:
    // reports arrive up to a report interval after the frames they count.
    static constexpr qint64 toleranceMs = 500;
    // Dropping shows while frames were lost within this time.
    static constexpr qint64 droppingHoldMs = 3000;
    // "Recording can't keep up" ends when the program stops saying so for this long.
    static constexpr qint64 delayedHoldMs = 5000;
    static constexpr int historySize = 20;
    // A recording whose program fails this often within the window is given up.
    static constexpr int failuresToGiveUp = 3;
    static constexpr qint64 failureWindowMs = 60000;

    explicit RecordingStateMachine(int slot, QObject* parent = nullptr);

    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // How a record reaches its file (true: on its way); tests keep it in memory. None by default.
    void setRecordWriter(std::function<bool(const ContinuityRecord&)> writer) { m_writeRecord = std::move(writer); }
    void setSource(const QString& source) { m_source = source; }

    Action handle(const Event& event);
    // Unbinding ends what the last recording left on show.
    void clearFailure();

    State state() const;
    bool isRecording() const;
    bool isWaiting() const { return m_phase == Phase::Waiting; }
    bool isBusy() const { return m_phase == Phase::Waiting || m_phase == Phase::Recording; }
    static QString stateName(State state);
    // The one word every surface shows, and its label ("REC", "DROPPING 12 %"): the recording's
    // state wins, an idle slot says whether it is bound and has a picture.
    static QString stateWord(State state, bool bound, bool signalLost);
    static QString stateLabel(const QString& stateWord, int droppingPercent);

    qint64 recordedMs() const { return m_recordedMsBefore + m_progressMs; }
    qint64 wallMs() const;
    qint64 pieceFrames() const;
    qint64 totalFrames() const { return m_record ? m_record->totalFrames() : 0; }
    qint64 droppedFrames() const { return m_dropped; }
    int droppingPercent() const { return m_droppingPercent; }
    int delayedCount() const { return m_delayedCount; }
    int pieceNumber() const { return m_record ? int(m_record->pieces().size()) : 0; }
    QString piecePath() const;
    QString pieceLocation() const;
    QString warning() const { return m_warnings.isEmpty() ? QString() : m_warnings.last().text; }
    const std::deque<HistoryEntry>& history() const { return m_history; }
    // The record of the running recording, or of the last one; null before the first.
    const ContinuityRecord* record() const;

    struct Totals {
        qint64 framesWritten = 0;
        qint64 droppedFrames = 0;
        qint64 delayed = 0;
        qint64 stalls = 0;
        qint64 recoveries = 0;
    };
    // Over the life of the process; the running recording included.
    Totals totals() const;

Q_SIGNALS:
    // Anything shown changed.
    void changed();
    void warningRaised(QString message);
    void warningCleared(QString message);

private:
    enum class Phase { Idle, Waiting, Recording, Failed };
    // Each warning ends with its cause.
    enum class Cause { Unconfirmed, Delayed, Stalled, NoSignal, Program, Failure, Drive };
    struct Warning {
        Cause cause;
        QString text;
    };

    void begin();
    void confirm();
    void addPiece(const Event& event);
    void progress(int generation, qint64 frames, qint64 timecode);
    Action fail(const QString& warning);
    Action recover(const QString& what, Action how);
    void end(StopReason reason);
    void account();
    void raise(Cause cause, const QString& text);
    void clear(Cause cause);
    void clearAll();
    void note(const QString& text);
    void writeRecord();
    static QString stopReasonText(StopReason reason);

    int m_slot = 0;
    QString m_source;
    std::function<qint64()> m_clock;
    std::function<bool(const ContinuityRecord&)> m_writeRecord;

    Phase m_phase = Phase::Idle;
    bool m_stalled = false;
    bool m_sourceGone = false;
    QList<Warning> m_warnings;
    std::deque<HistoryEntry> m_history;

    std::shared_ptr<ContinuityRecord> m_record;
    // Records that ended wait here for their processes' last frame counts.
    QList<std::shared_ptr<ContinuityRecord>> m_finishing;
    QString m_nextPieceReason;

    qint64 m_startMs = 0; // the program confirmed the start
    qint64 m_stopMs = 0; // the recording ended (0 while it runs)
    // Time and frames of the processes of this recording before the current one.
    qint64 m_recordedMsBefore = 0;
    qint64 m_framesBefore = 0;
    int m_progressGeneration = 0;
    qint64 m_progressMs = 0;
    qint64 m_progressFrames = 0;

    qint64 m_dropped = 0;
    qint64 m_lastDropAt = -1;
    int m_droppingPercent = 0;
    // Recent (time, frames the source sent, frames written) for the share of frames lost.
    struct Sample {
        qint64 at;
        double sent;
        qint64 written;
    };
    std::deque<Sample> m_samples;
    int m_delayedCount = 0;
    qint64 m_lastDelayedAt = 0;
    std::deque<qint64> m_failures; // when the program of this recording failed, within the window

    Totals m_finished; // of the recordings before the last one
    Totals m_running; // stalls and recoveries of the last one
};
